#include "app/CalendarHooks.h"

void CalendarHooks::handleNotificationResponse(const NotificationResponse&) { }

void CalendarHooks::activateReminders() { }

void CalendarHooks::startAutoStart(ModelContext&) { }

void CalendarHooks::syncTitles(ModelContext&) { }

std::optional<CalendarHooks::EventMeeting> CalendarHooks::meetingForEvent(const QString&, ModelContext&)
{
    return std::nullopt;
}
