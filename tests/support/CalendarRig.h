#pragma once

// The calendar service as the application makes it, over the in-memory calendar store, with a
// Google event source the test fills, a fake clock and settings of its own.
//
//   CalendarRig rig(CalendarStore::Access::FullAccess);
//   rig.start({ CalendarRig::event("a", "Design review", start, 30) });   // waits for the list

#include "calendar/CalendarService.h"
#include "platform/Settings.h"
#include "support/FakeCalendarStore.h"
#include "support/FakeClock.h"
#include "support/FakeGoogleEventSource.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTest>

class CalendarRig final
{
public:
    using EventInfo = CalendarService::EventInfo;

    // withCalendar: the store lists one calendar (none: access is granted, but no accounts).
    explicit CalendarRig(CalendarStore::Access access = CalendarStore::Access::FullAccess, bool withCalendar = true,
        const QDateTime& now = QDateTime(QDate(2026, 12, 9), QTime(10, 10), Qt::UTC))
        : clock(now)
        , store(access)
    {
        if (withCalendar)
            store.addCalendar(QStringLiteral("work"), QStringLiteral("Work"));
    }

    CalendarRig(const CalendarRig&) = delete;
    CalendarRig& operator=(const CalendarRig&) = delete;

    // Starts the service with these Google events; true once it has published them.
    bool start(const QList<EventInfo>& googleEvents = {})
    {
        google.answerAllWith(googleEvents);
        service.start();
        return published(googleEvents);
    }

    // Google brings a new list; true once the service has published it.
    bool publishGoogle(const QList<EventInfo>& googleEvents)
    {
        google.answerAllWith(googleEvents);
        service.refreshGoogle();
        return published(googleEvents);
    }

    // A classified event as the Google source hands it over.
    static EventInfo event(const QString& id, const QString& title, const QDateTime& start, int minutes = 30,
        EventKind kind = EventKind::Meeting, bool confident = true, int people = 3,
        std::optional<QUrl> link = std::nullopt)
    {
        EventInfo info;
        info.id = id;
        info.title = title;
        info.startDate = start;
        info.endDate = start.addSecs(minutes * 60);
        info.kind = kind;
        info.highConfidence = confident;
        info.participantCount = people;
        info.conferenceURL = std::move(link);
        info.calendarId = QStringLiteral("google");
        return info;
    }

    QTemporaryDir dir;
    Settings settings { dir.filePath(QStringLiteral("settings.ini")) };
    FakeClock clock;
    FakeCalendarStore store;
    FakeGoogleEventSource google;
    CalendarService service { store, settings, clock, &google };

private:
    bool published(const QList<EventInfo>& googleEvents)
    {
        // The store and the Google source answer through queued calls, each answer asking the
        // next question the same way: a few rounds of posted events deliver the whole chain.
        for (int round = 0; round < 8; ++round)
            QCoreApplication::sendPostedEvents();
        QSet<QString> expected;
        for (const EventInfo& event : googleEvents)
            expected.insert(event.id);
        QSet<QString> shown;
        for (const QList<EventInfo>& list : { service.events(), service.skippedEvents() }) {
            for (const EventInfo& event : list)
                shown.insert(event.id);
        }
        return shown == expected;
    }
};
