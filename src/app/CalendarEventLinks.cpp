#include "app/CalendarEventLinks.h"

#include "calendar/CalendarService.h"
#include "calendar/MeetingFactory.h"

CalendarEventLinks::CalendarEventLinks(const CalendarService& calendar, QObject* parent)
    : EventLinks(parent)
    , m_calendar(calendar)
{
    connect(&calendar, &CalendarService::eventsChanged, this, &EventLinks::changed);
}

std::optional<EventLinks::Offer> CalendarEventLinks::candidate(const Meeting& meeting) const
{
    const std::optional<CalendarService::EventInfo> event = MeetingFactory::linkCandidate(meeting, m_calendar);
    if (!event)
        return std::nullopt;
    return Offer { event->id, event->title };
}

void CalendarEventLinks::link(Meeting& meeting, const Offer& offer)
{
    const QList<CalendarService::EventInfo> events = m_calendar.events();
    for (const CalendarService::EventInfo& event : events) {
        if (event.id == offer.eventId) {
            MeetingFactory::applyContext(event, meeting);
            return;
        }
    }
}
