#include "library/ComingUpAgenda.h"

#include "library/ComingUpText.h"

#include <QCoreApplication>
#include <algorithm>
#include <map>

namespace {

constexpr qint64 kSoonMs = 900'000;

bool isRunning(const CalendarService::EventInfo& event, const QDateTime& now)
{
    return event.startDate <= now && now < event.endDate;
}

} // namespace

std::optional<ComingUpAgenda::EventInfo> ComingUpAgenda::heroOf(const QList<EventInfo>& upcoming, const QDateTime& now)
{
    for (const EventInfo& event : upcoming) {
        if (!event.highConfidence)
            continue;
        const qint64 untilStart = now.msecsTo(event.startDate);
        if (isRunning(event, now) || (untilStart > 0 && untilStart <= kSoonMs))
            return event;
    }
    return std::nullopt;
}

QList<ComingUpAgenda::DayGroup> ComingUpAgenda::restGroups(const QList<EventInfo>& rest, const QDateTime& now)
{
    const QDate today = now.toLocalTime().date();
    std::map<QDate, QList<EventInfo>> byDay;
    for (const EventInfo& event : rest)
        byDay[event.startDate.toLocalTime().date()].append(event);
    QList<DayGroup> groups;
    groups.reserve(qsizetype(byDay.size()));
    for (auto& [day, events] : byDay) {
        std::stable_sort(events.begin(), events.end(),
            [](const EventInfo& a, const EventInfo& b) { return a.startDate < b.startDate; });
        groups.append({ day, ComingUpText::dayTitle(day, today), std::move(events) });
    }
    return groups;
}

ComingUpAgenda ComingUpAgenda::evaluate(
    const QList<EventInfo>& events, const QList<EventInfo>& skipped, const QDateTime& now)
{
    ComingUpAgenda agenda;
    for (const EventInfo& event : events) {
        if (event.endDate > now)
            agenda.upcoming.append(event);
    }
    agenda.hero = heroOf(agenda.upcoming, now);
    QList<EventInfo> rest;
    rest.reserve(agenda.upcoming.size());
    for (const EventInfo& event : std::as_const(agenda.upcoming)) {
        if (!agenda.hero || event.id != agenda.hero->id)
            rest.append(event);
    }
    if (agenda.hero) {
        agenda.heroRunning = isRunning(*agenda.hero, now);
        agenda.heroStatus = agenda.heroRunning ? QCoreApplication::translate("ComingUpPanel", "Live now")
                                               : QCoreApplication::translate("ComingUpPanel", "Starts in %1")
                                                     .arg(ComingUpText::minutesUntil(agenda.hero->startDate, now));
    }
    agenda.groups = restGroups(rest, now);
    agenda.hiddenCount = int(
        std::count_if(skipped.cbegin(), skipped.cend(), [&](const EventInfo& event) { return event.endDate > now; }));
    return agenda;
}
