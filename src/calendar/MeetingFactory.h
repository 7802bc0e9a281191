#pragma once

#include "calendar/CalendarService.h"

#include <QDateTime>
#include <QString>
#include <optional>

class Meeting;
class ModelContext;

// Ties stored meetings to calendar events: the meeting of an event (found, or made with the
// event's context), the event a quick note was taken in, and linked meetings kept in step with
// their events. Main thread, with the main model context; nothing here reports a failure (a
// failed save leaves the changes in the context).
namespace MeetingFactory {

// The meeting linked to the event, made, inserted and saved when there is none. A meeting
// found is returned as it is, even when the event has changed since.
Meeting* noteForEvent(const CalendarService::EventInfo& event, ModelContext& context);

// Copies the event's context into the meeting: link, source, times, calendar, organiser, at most
// 30 attendees, and the title unless the user named the meeting. Does not save.
void applyContext(const CalendarService::EventInfo& event, Meeting& meeting);

// The listed event to offer a quick note for linking: the one whose start is nearest the
// note's date among those running from 5 minutes before their start to their end.
std::optional<CalendarService::EventInfo> linkCandidate(const Meeting& meeting, const CalendarService& calendar);

// Brings linked meetings in step with the listed events: the title (unless the user named the
// meeting, or the event's is blank), and the scheduled times of
// meetings whose automatic start has not fired yet, so that it follows a moved event. Saves
// once, when anything changed.
void syncTitles(const CalendarService& calendar, ModelContext& context);

// "Meeting — Mar 5, 2:30 PM": the title of an event without one, in the user's locale and zone.
QString fallbackTitle(const QDateTime& date);

} // namespace MeetingFactory
