#pragma once

// The meeting of a calendar event, for views that open events while the meeting factory of the
// scheduling work is not in the tree: the stored meeting made for the event, else a new one
// with its title (trimmed of spaces and tabs), start and calendar fields, inserted and saved.

#include "calendar/CalendarService.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

namespace EventMeetings {

inline QString trimmedOfSpacesAndTabs(const QString& text)
{
    const auto blank = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && blank(text.at(from)))
        ++from;
    while (to > from && blank(text.at(to - 1)))
        --to;
    return text.mid(from, to - from);
}

inline Meeting* noteForEvent(const CalendarService::EventInfo& event, ModelContext& context)
{
    const QList<Meeting*> made
        = context.fetchMeetings({ [&](const Meeting& m) { return m.calendarEventId() == event.id; } });
    if (!made.isEmpty())
        return made.first();
    auto* meeting = new Meeting(trimmedOfSpacesAndTabs(event.title), event.startDate);
    meeting->setCalendarEventId(event.id);
    meeting->setSource(QStringLiteral("calendar"));
    meeting->setScheduledStart(event.startDate);
    meeting->setScheduledEnd(event.endDate);
    meeting->setCalendarName(event.calendarName);
    meeting->setOrganizer(event.organizer);
    meeting->setAttendeeNames(event.attendees);
    context.insert(meeting);
    context.save();
    return meeting;
}

} // namespace EventMeetings
