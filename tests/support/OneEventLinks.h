#pragma once

#include "app/EventLinks.h"
#include "storage/Meeting.h"

#include <QStringList>

// The calendar as the link banner sees it: one event, offered to unlinked, undismissed quick
// notes. Linking records the event and copies its title, as the calendar's own links do.
class OneEventLinks final : public EventLinks
{
public:
    std::optional<Offer> candidate(const Meeting& meeting) const override
    {
        if (meeting.calendarEventId() || meeting.linkBannerDismissed())
            return std::nullopt;
        return Offer { QStringLiteral("evt-7"), QStringLiteral("Design review") };
    }
    void link(Meeting& meeting, const Offer& offer) override
    {
        linked.append(offer.eventId);
        meeting.setCalendarEventId(offer.eventId);
        meeting.setSource(QStringLiteral("calendar"));
        meeting.setTitle(offer.title);
    }
    QStringList linked;
};
