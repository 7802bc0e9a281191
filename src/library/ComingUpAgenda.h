#pragma once

#include "calendar/CalendarService.h"

#include <QDate>
#include <QList>
#include <optional>

// What the coming-up panel shows at one moment, worked out afresh from the calendar service's
// lists and now: the events not yet over, the one that stands out (the hero), the others by
// day, and how many skipped events are hidden. Two agendas that compare equal look the same.
struct ComingUpAgenda
{
    using EventInfo = CalendarService::EventInfo;

    // The rest of the week's events that start on one local day, earliest first.
    struct DayGroup
    {
        QDate day;
        QString title; // "Later today", "Tomorrow", "Wednesday, Dec 9"
        QList<EventInfo> events;

        friend bool operator==(const DayGroup&, const DayGroup&) = default;
    };

    QList<EventInfo> upcoming; // the events ending after now, in the service's order
    std::optional<EventInfo> hero;
    bool heroRunning = false;
    QString heroStatus; // "Live now", or "Starts in 12 min"
    QList<DayGroup> groups; // every upcoming event but the hero
    int hiddenCount = 0; // skipped events not over yet

    friend bool operator==(const ComingUpAgenda&, const ComingUpAgenda&) = default;

    static ComingUpAgenda evaluate(
        const QList<EventInfo>& events, const QList<EventInfo>& skipped, const QDateTime& now);

    // The hero: the first confident event of the list that runs now or starts within 15 minutes.
    static std::optional<EventInfo> heroOf(const QList<EventInfo>& upcoming, const QDateTime& now);
    // The events grouped by the local day they start on: days in order, each sorted stably by
    // start. A running event that started on an earlier day keeps that day, before today's.
    static QList<DayGroup> restGroups(const QList<EventInfo>& rest, const QDateTime& now);
};
