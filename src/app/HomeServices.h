#pragma once

#include "calendar/CalendarService.h"

#include <QString>
#include <functional>

class Clock;
class Meeting;
class ModelContext;
class UrlOpener;

// What the home page reads and calls, made by the composition root (AppServices::homeServices)
// and handed down; tests make their own.
struct HomeServices
{
    // The meeting of a calendar event: the one already made for it, or a new one, inserted and
    // saved (MeetingFactory::noteForEvent; tests may count the calls). Null: events cannot be
    // opened from the page.
    using NoteForEvent = std::function<Meeting*(const CalendarService::EventInfo&, ModelContext&)>;

    ModelContext& store;
    const Clock& clock;
    CalendarService& calendar;
    UrlOpener& urlOpener; // call links
    NoteForEvent noteForEvent;
    // Starts connecting a Google account (GoogleCalendarService::connect); its events arrive
    // through the calendar service.
    std::function<void()> connectGoogle;
    // The build's Google OAuth client id; empty when Google sign-in is not configured.
    QString googleClientId;
};
