#include "calendar/MeetingFactory.h"

#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QHash>
#include <QLocale>

namespace {

constexpr qsizetype kMaxAttendees = 30;
// A note taken this long before an event's start may still belong to it.
constexpr qint64 kLinkLeadSeconds = 300;

const QString kCalendarSource = QStringLiteral("calendar");

bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// Spaces and tabs only: a line break is part of the title as the calendar wrote it.
QString trimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QStringList attendeeNames(const CalendarService::EventInfo& event)
{
    if (event.attendees.size() <= kMaxAttendees)
        return event.attendees;
    // One place is kept for the organiser, who must not be lost among a crowd.
    QStringList names = event.attendees.first(kMaxAttendees - 1);
    if (event.organizer && !event.organizer->isEmpty() && !names.contains(*event.organizer))
        names.prepend(*event.organizer);
    return names;
}

} // namespace

namespace MeetingFactory {

Meeting* noteForEvent(const CalendarService::EventInfo& event, ModelContext& context)
{
    const QList<Meeting*> found = context.fetchMeetings(
        { [&](const Meeting& m) { return m.calendarEventId() == event.id; }, MeetingSort::DateDescending, 1 });
    if (!found.isEmpty())
        return found.first();
    auto* meeting = new Meeting(trimSpaces(event.title), event.startDate);
    applyContext(event, *meeting);
    context.insert(meeting);
    context.save();
    return meeting;
}

void applyContext(const CalendarService::EventInfo& event, Meeting& meeting)
{
    meeting.setCalendarEventId(event.id);
    meeting.setSource(kCalendarSource);
    meeting.setScheduledStart(event.startDate);
    meeting.setScheduledEnd(event.endDate);
    meeting.setCalendarName(event.calendarName);
    meeting.setOrganizer(event.organizer);
    meeting.setAttendeeNames(attendeeNames(event));
    if (!meeting.titleIsUserEdited()) {
        const QString title = trimSpaces(event.title);
        meeting.setTitle(title.isEmpty() ? fallbackTitle(event.startDate) : title);
    }
}

std::optional<CalendarService::EventInfo> linkCandidate(const Meeting& meeting, const CalendarService& calendar)
{
    if (meeting.calendarEventId() || meeting.linkBannerDismissed())
        return std::nullopt;
    if (meeting.source() != QLatin1String("quick-note") && meeting.source() != QLatin1String("auto-detected"))
        return std::nullopt;
    const QDateTime date = meeting.date();
    const QList<CalendarService::EventInfo> events = calendar.events();
    const CalendarService::EventInfo* best = nullptr;
    qint64 bestDistance = 0;
    for (const CalendarService::EventInfo& event : events) {
        if (date < event.startDate.addSecs(-kLinkLeadSeconds) || date > event.endDate)
            continue;
        const qint64 distance = std::abs(date.msecsTo(event.startDate));
        // Strictly nearer: at equal distance the earlier in the list stays.
        if (!best || distance < bestDistance) {
            best = &event;
            bestDistance = distance;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

void syncTitles(const CalendarService& calendar, ModelContext& context)
{
    const QList<CalendarService::EventInfo> events = calendar.events();
    // Runs at every publication, over every linked meeting: one look-up each, not a walk.
    QHash<QString, const CalendarService::EventInfo*> byId;
    byId.reserve(events.size());
    // Backwards, so that of equal ids the first listed wins, as a search would find it.
    for (auto event = events.crbegin(); event != events.crend(); ++event)
        byId.insert(event->id, &*event);

    const QList<Meeting*> linked
        = context.fetchMeetings({ [](const Meeting& m) { return m.calendarEventId().has_value(); } });
    bool changed = false;
    for (Meeting* meeting : linked) {
        const auto found = byId.constFind(*meeting->calendarEventId());
        if (found == byId.constEnd())
            continue;
        const CalendarService::EventInfo& event = **found;
        // A moved event moves the automatic start with it; once fired, the times are history.
        if (!meeting->autoStartFired()
            && (meeting->scheduledStart() != event.startDate || meeting->scheduledEnd() != event.endDate)) {
            meeting->setScheduledStart(event.startDate);
            meeting->setScheduledEnd(event.endDate);
            changed = true;
        }
        if (meeting->titleIsUserEdited())
            continue;
        const QString title = trimSpaces(event.title);
        if (title.isEmpty() || title == meeting->title())
            continue;
        meeting->setTitle(title);
        changed = true;
    }
    if (changed)
        context.save();
}

QString fallbackTitle(const QDateTime& date)
{
    // "AP", not "a": the latter gives "pm".
    return QStringLiteral("Meeting — ")
        + QLocale::system().toString(date.toLocalTime(), QStringLiteral("MMM d, h:mm AP"));
}

} // namespace MeetingFactory
