#pragma once

// The desktop's calendar store in memory, for the calendar service's tests and the views'.
// Fill it with calendars and events, change it and call signalChange(). Like the real store it
// answers later, on the caller's thread; holdAnswers() keeps the answers until release().

#include "platform/calendar/CalendarStore.h"

#include <QPointer>
#include <QTimer>

class FakeCalendarStore final : public CalendarStore
{
public:
    explicit FakeCalendarStore(Access access = Access::FullAccess, QObject* parent = nullptr)
        : CalendarStore(parent)
        , m_access(access)
    { }

    // --- Access -------------------------------------------------------------------------
    Access access() const override
    {
        note(QStringLiteral("access"));
        return m_access;
    }
    void setAccess(Access access) { m_access = access; }
    // What the user (or the platform) answers the next requests.
    void answerRequestsWith(AccessAnswer answer) { m_answer = std::move(answer); }
    int accessRequests() const { return m_accessRequests; }
    int answeredRequests() const { return m_answeredRequests; }

    void requestAccess(QObject* context, AccessCallback done) override
    {
        ++m_accessRequests;
        later(context, [this, done = std::move(done)] {
            if (m_answer.granted)
                m_access = Access::FullAccess;
            ++m_answeredRequests;
            done(m_answer);
        });
    }

    // --- Contents -----------------------------------------------------------------------
    StoreCalendar& addCalendar(const QString& id, const QString& title,
        const QString& sourceTitle = QStringLiteral("On This Computer"), bool defaultVisible = true)
    {
        m_calendars.append({ id, title, sourceTitle, QColor(0x34, 0x65, 0xa4), defaultVisible });
        return m_calendars.last();
    }
    void removeCalendar(const QString& id)
    {
        m_calendars.removeIf([&](const StoreCalendar& calendar) { return calendar.id == id; });
    }

    // A plain event of a calendar; fill in the rest on the returned record.
    StoreEvent& addEvent(
        const QString& calendarId, const QString& uid, const QString& title, const QDateTime& start, int minutes = 30)
    {
        m_events.append(StoreEvent {});
        StoreEvent& event = m_events.last();
        event.id = calendarId + QLatin1Char('/') + uid;
        event.calendarId = calendarId;
        event.title = title;
        event.start = start;
        event.end = start.addSecs(minutes * 60);
        return event;
    }
    void clearEvents() { m_events.clear(); }

    void signalChange() { Q_EMIT changed(); }

    // --- Reads --------------------------------------------------------------------------
    // "access", "calendars" and "events", in the order asked (shared with other fakes).
    void setJournal(QStringList* journal) { m_journal = journal; }
    int calendarReads() const { return m_calendarReads; }
    QStringList lastReadCalendarIds() const { return m_lastIds; }

    void holdAnswers() { m_holding = true; }
    // Sends every held answer, in the order asked, and answers at once from then on.
    void release()
    {
        m_holding = false;
        const auto held = std::exchange(m_held, {});
        for (const auto& answer : held)
            answer();
    }

    void fetchCalendars(QObject* context, CalendarsCallback done) override
    {
        ++m_calendarReads;
        note(QStringLiteral("calendars"));
        later(context, [calendars = m_calendars, done = std::move(done)] { done(calendars); });
    }

    void fetchEvents(const QStringList& calendarIds, const QDateTime& start, const QDateTime& end, QObject* context,
        EventsCallback done) override
    {
        note(QStringLiteral("events"));
        m_lastIds = calendarIds;
        QList<StoreEvent> found;
        for (const QString& id : calendarIds) {
            for (const StoreEvent& event : std::as_const(m_events)) {
                const bool overlaps = event.start < end && (event.end > start || event.start == start);
                if (event.calendarId == id && overlaps)
                    found.append(event);
            }
        }
        later(context, [found = std::move(found), done = std::move(done)] { done(found); });
    }

private:
    void note(const QString& entry) const
    {
        if (m_journal)
            m_journal->append(entry);
    }

    void later(QObject* context, std::function<void()> answer)
    {
        QPointer<QObject> target = context;
        auto guarded = [target, answer = std::move(answer)] {
            if (target)
                answer();
        };
        if (m_holding)
            m_held.append(std::move(guarded));
        else
            QTimer::singleShot(0, context, std::move(guarded));
    }

    Access m_access;
    AccessAnswer m_answer { true, std::nullopt };
    int m_accessRequests = 0;
    int m_answeredRequests = 0;
    QList<StoreCalendar> m_calendars;
    QList<StoreEvent> m_events;
    QStringList* m_journal = nullptr;
    int m_calendarReads = 0;
    QStringList m_lastIds;
    bool m_holding = false;
    QList<std::function<void()>> m_held;
};
