#include "app/CalendarHooks.h"

#include "calendar/AutoStartScheduler.h"
#include "calendar/CalendarService.h"
#include "calendar/MeetingFactory.h"
#include "calendar/MeetingReminders.h"
#include "storage/Meeting.h"

void CalendarHooks::handleNotificationResponse(const NotificationResponse&) { }

void CalendarHooks::activateReminders() { }

void CalendarHooks::startAutoStart(ModelContext&) { }

void CalendarHooks::syncTitles(ModelContext&) { }

CalendarServiceHooks::CalendarServiceHooks(
    CalendarService& service, MeetingReminders& reminders, AutoStartScheduler& autoStart, ModelContext& store,
    QObject* parent)
    : CalendarHooks(parent)
    , m_service(service)
    , m_reminders(reminders)
    , m_autoStart(autoStart)
    , m_store(store)
{
    connect(&service, &CalendarService::eventsChanged, this, &CalendarHooks::eventsPublished);
    connect(&reminders, &MeetingReminders::bringToFrontRequested, this, &CalendarHooks::mainWindowRequested);
    connect(&reminders, &MeetingReminders::openAndRecordRequested, this,
        [this](const QString& eventId) { emit openAndRecordRequested(meetingForEvent(eventId)); });
}

void CalendarServiceHooks::handleNotificationResponse(const NotificationResponse& response)
{
    m_reminders.handleResponse(response);
}

void CalendarServiceHooks::activateReminders()
{
    m_reminders.activate();
}

void CalendarServiceHooks::startAutoStart(ModelContext& context)
{
    m_autoStart.start(context);
}

void CalendarServiceHooks::syncTitles(ModelContext& context)
{
    // Called on the publication itself, so the service already lists the events just published.
    MeetingFactory::syncTitles(m_service, context);
}

CalendarHooks::EventMeeting CalendarServiceHooks::meetingForEvent(const QString& eventId)
{
    const std::optional<CalendarService::EventInfo> event = m_service.eventWithId(eventId);
    if (!event)
        return {};
    return EventMeeting { MeetingFactory::noteForEvent(*event, m_store), event->conferenceURL };
}
