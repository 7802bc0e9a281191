#pragma once

// The calendar as the test wants it: events by id, each with its meeting and call link; the
// calls the application makes of it are counted.

#include "app/CalendarHooks.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

class FakeCalendarHooks final : public CalendarHooks
{
public:
    std::optional<EventMeeting> meetingForEvent(const QString& eventId, ModelContext&) override
    {
        lookups << eventId;
        const auto found = events.constFind(eventId);
        return found == events.constEnd() ? std::nullopt : std::optional(*found);
    }
    void startAutoStart(ModelContext&) override { ++autoStarts; }
    void syncTitles(ModelContext&) override { ++titleSyncs; }

    QHash<QString, EventMeeting> events;
    QStringList lookups;
    int autoStarts = 0;
    int titleSyncs = 0;
};
