#pragma once

#include "calendar/CalendarService.h"

#include <functional>

// Where the calendar service gets the events of the user's Google calendars. The Google calendar
// service implements it; when it wants its events shown again (an account connected, removed or
// its calendars chosen anew) it calls CalendarService::refreshGoogle().
class GoogleEventSource
{
public:
    using EventsCallback = std::function<void(const QList<CalendarService::EventInfo>&)>;

    virtual ~GoogleEventSource() = default;

    // The events of [start, end) in the selected calendars of every connected account, mapped
    // and classified (ids "g:" + calendar + ":" + event). Never fails: what cannot be read is
    // left out. Answers later, on the main thread, unless context is gone by then.
    virtual void fetchEvents(const QDateTime& start, const QDateTime& end, QObject* context, EventsCallback done) = 0;
};
