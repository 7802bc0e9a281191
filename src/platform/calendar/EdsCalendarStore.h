#pragma once

#include "platform/calendar/CalendarStore.h"

#include <chrono>
#include <memory>

// The desktop's calendar store as Evolution Data Server keeps it (the store that GNOME Calendar,
// Evolution and GNOME Online Accounts fill), read through libecal. The library's work (the
// registry, connections, views, reading and expanding occurrences, turning them into records)
// runs on a thread of the store's own, with a GLib main loop of its own: a big week parsed on
// the main thread would freeze the window. Callers stay on the main thread: answers and changes
// come back there as values.
//
// Each calendar read is connected once and the connection kept; a view per read calendar over
// the last read window reports edits (after a quiet period, as one change). The read that
// follows such a change reads again only the calendars whose views reported an edit and takes
// the others' last answers for the same window; every other read reads every calendar.
//
// Failures are quiet: an unreachable registry lists no calendars, and a calendar that cannot be
// connected or read in time is left out of that read and tried again at the next. Each event is
// expanded on its own, to at most kMaxOccurrencesPerEvent occurrences in a read; one that
// cannot be expanded is left out, and the rest of its calendar is read.
//
// This desktop has no per-application calendar permission, so access is always full.
class EdsCalendarStore final : public CalendarStore
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EdsCalendarStore)

public:
    struct Limits
    {
        // For the registry's first answer. A registry that answers later counts as a change.
        std::chrono::milliseconds registry { 5000 };
        // For connecting one calendar, and again for reading its occurrences.
        std::chrono::milliseconds calendar { 5000 };
        // Calm after the last edit signal before one change is reported.
        std::chrono::milliseconds quietPeriod { 500 };
    };

    // A week holds 604,800 occurrences of an event that repeats every second; without a bound,
    // one such invitation held the read of its whole calendar for minutes.
    static constexpr int kMaxOccurrencesPerEvent = 1000;

    explicit EdsCalendarStore(QObject* parent = nullptr);
    explicit EdsCalendarStore(Limits limits, QObject* parent = nullptr);
    ~EdsCalendarStore() override;

    Access access() const override { return Access::FullAccess; }
    void requestAccess(QObject* context, AccessCallback done) override;
    void fetchCalendars(QObject* context, CalendarsCallback done) override;
    void fetchEvents(const QStringList& calendarIds, const QDateTime& start, const QDateTime& end, QObject* context,
        EventsCallback done) override;

private:
    class Private;
    std::unique_ptr<Private> d;
};
