#pragma once

// Google events without Google: every fetch waits until the test answers it (answer(i, ...)),
// or, after answerAllWith(), is answered later with the given events.

#include "calendar/GoogleEventSource.h"

#include <QPointer>
#include <QTimer>

class FakeGoogleEventSource final : public GoogleEventSource
{
public:
    struct Fetch
    {
        QDateTime start;
        QDateTime end;
        QPointer<QObject> context;
        EventsCallback done;
    };

    void fetchEvents(const QDateTime& start, const QDateTime& end, QObject* context, EventsCallback done) override
    {
        if (m_journal)
            m_journal->append(QStringLiteral("google"));
        if (m_autoAnswer) {
            QTimer::singleShot(0, context, [events = *m_autoAnswer, done = std::move(done)] { done(events); });
            return;
        }
        fetches.append({ start, end, context, std::move(done) });
    }

    void answer(qsizetype fetch, const QList<CalendarService::EventInfo>& events)
    {
        const Fetch& asked = fetches.at(fetch);
        if (asked.context)
            asked.done(events);
    }

    void answerAllWith(const QList<CalendarService::EventInfo>& events) { m_autoAnswer = events; }
    void setJournal(QStringList* journal) { m_journal = journal; }

    QList<Fetch> fetches; // the ones waiting for answer()

private:
    std::optional<QList<CalendarService::EventInfo>> m_autoAnswer;
    QStringList* m_journal = nullptr;
};
