#include "app/CalendarHooks.h"

#include "calendar/CalendarService.h"

void CalendarHooks::handleNotificationResponse(const NotificationResponse&) { }

void CalendarHooks::activateReminders() { }

void CalendarHooks::startAutoStart(ModelContext&) { }

void CalendarHooks::syncTitles(ModelContext&) { }

std::optional<CalendarHooks::EventMeeting> CalendarHooks::meetingForEvent(const QString&, ModelContext&)
{
    return std::nullopt;
}

CalendarServiceHooks::CalendarServiceHooks(CalendarService& service, QObject* parent)
    : CalendarHooks(parent)
{
    connect(&service, &CalendarService::eventsChanged, this, &CalendarHooks::eventsPublished);
}
