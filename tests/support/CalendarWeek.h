#pragma once

// A calendar service whose week the test writes: the events are handed to the service as its
// Google source's answer (access to the desktop store was never asked for), and the service
// merges, sorts, splits and publishes them as it does any week.
//
//   CalendarWeek week(clock);
//   QVERIFY(week.publish({ CalendarWeek::event("e1", "Standup", start) })); // published on return

#include "calendar/CalendarService.h"
#include "platform/Clock.h"
#include "platform/Settings.h"
#include "support/FakeCalendarStore.h"
#include "support/FakeGoogleEventSource.h"

#include <QSignalSpy>
#include <QTemporaryDir>

class CalendarWeek final
{
public:
    using EventInfo = CalendarService::EventInfo;

    explicit CalendarWeek(const Clock& clock)
        : service(store, settings, clock, &google)
    {
        service.start();
    }

    // Publishes exactly these events, before returning.
    bool publish(const QList<EventInfo>& events)
    {
        QSignalSpy published(&service, &CalendarService::eventsChanged);
        service.refreshGoogle();
        google.answer(google.fetches.size() - 1, events);
        return published.size() == 1;
    }

    // A meeting of two people, without a call link.
    static EventInfo event(const QString& id, const QString& title, const QDateTime& start, int minutes = 30)
    {
        EventInfo event;
        event.id = id;
        event.title = title;
        event.startDate = start;
        event.endDate = start.addSecs(minutes * 60);
        event.attendees = { QStringLiteral("Ann"), QStringLiteral("Bob") };
        event.participantCount = 2;
        event.calendarId = QStringLiteral("work");
        event.calendarName = QStringLiteral("Work");
        event.kind = EventKind::OneOnOne;
        event.highConfidence = true;
        return event;
    }

private:
    QTemporaryDir m_dir;

public:
    Settings settings { m_dir.filePath(QStringLiteral("calendar-settings.ini")) };
    FakeCalendarStore store { CalendarStore::Access::NotDetermined };
    FakeGoogleEventSource google;
    CalendarService service;
};
