#pragma once

#include "app/EventLinks.h"

class CalendarService;

// The link offers of the events the calendar service lists: the event a quick note was taken
// in, as MeetingFactory chooses it, and linking copies that event's context into the meeting.
// Offers change whenever the listed events do.
class CalendarEventLinks final : public EventLinks
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CalendarEventLinks)

public:
    explicit CalendarEventLinks(const CalendarService& calendar, QObject* parent = nullptr);

    std::optional<Offer> candidate(const Meeting& meeting) const override;
    // Links only while the offered event is still listed: one gone since the offer was shown
    // has no context left to copy, and a stale id would link the note to nothing.
    void link(Meeting& meeting, const Offer& offer) override;

private:
    const CalendarService& m_calendar;
};
