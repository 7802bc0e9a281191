#include "calendar/CalendarService.h"

#include "calendar/ConferenceLink.h"
#include "calendar/GoogleEventSource.h"
#include "calendar/MeetingClassifier.h"
#include "platform/calendar/CalendarStore.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Settings.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace {

CalendarService::CalendarInfo calendarInfo(const StoreCalendar& calendar)
{
    return { calendar.id, calendar.title, calendar.sourceTitle, calendar.color, calendar.defaultVisible };
}

// A person without a name is listed under the part of the address before the "@".
QString nameFromAddress(const QUrl& address)
{
    QString text = address.toString();
    text.remove(QStringLiteral("mailto:"));
    const QStringList pieces = text.split(QLatin1Char('@'), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.first();
}

// By code point: QString's own order compares UTF-16 units, which puts characters beyond the
// first plane (emoji) before the last ones of it (full-width forms).
bool codePointLess(const QString& a, const QString& b)
{
    return a.toUcs4() < b.toUcs4();
}

// Store events are turned into records this many per turn of the event loop: a big week, its
// notes searched for call links, would otherwise hold the window for longer than a frame.
constexpr qsizetype kMirrorSlice = 100;

bool declinedByUser(const StoreEvent& event)
{
    const auto user = std::find_if(event.attendees.begin(), event.attendees.end(),
        [](const StoreAttendee& attendee) { return attendee.isCurrentUser; });
    return user != event.attendees.end() && user->status == StoreAttendee::Status::Declined;
}

} // namespace

struct CalendarService::Mirroring
{
    QList<StoreEvent> storeEvents;
    QHash<QString, CalendarInfo> calendarsById;
    QSet<QString> alwaysRecord;
    QList<EventInfo> events;
    qsizetype next = 0; // the first store event not yet turned into a record
};

CalendarService::CalendarService(CalendarStore& store, Settings& settings, const Clock& clock,
    GoogleEventSource* google, QObject* parent, std::chrono::milliseconds resyncInterval)
    : QObject(parent)
    , m_store(store)
    , m_settings(settings)
    , m_clock(clock)
    , m_google(google)
{
    m_resyncTimer.setInterval(resyncInterval);
    connect(&m_resyncTimer, &QTimer::timeout, this, [this] {
        resync();
        refreshGoogle();
    });
}

CalendarService::~CalendarService() = default;

void CalendarService::start()
{
    if (std::exchange(m_started, true))
        return;
    refreshAuthorization();
    startObserving();
    if (m_authorization == Authorization::Granted)
        resync();
    refreshGoogle();
}

void CalendarService::startObserving()
{
    if (m_observing)
        return;
    m_observing = true;
    connect(&m_store, &CalendarStore::changed, this, &CalendarService::resync);
    m_resyncTimer.start();
}

void CalendarService::setAuthorization(Authorization authorization)
{
    m_authorization = authorization;
    if (authorization != Authorization::NotRequested)
        m_accessProblem.reset();
    emit authorizationChanged();
}

void CalendarService::refreshAuthorization()
{
    switch (m_store.access()) {
    case CalendarStore::Access::FullAccess:
        setAuthorization(Authorization::Granted);
        return;
    case CalendarStore::Access::NotDetermined:
        setAuthorization(Authorization::NotRequested);
        return;
    }
}

void CalendarService::requestAccess()
{
    switch (m_authorization) {
    case Authorization::NotRequested:
        m_store.requestAccess(this, [this](const CalendarStore::AccessAnswer& answer) {
            if (answer.granted) {
                setAuthorization(Authorization::Granted);
                startObserving();
                resync();
                return;
            }
            if (answer.error) {
                Log::line("[Quillet] Calendar access request failed: %@", *answer.error);
                // The views offer the request again, and say why the last one went nowhere.
                m_accessProblem
                    = QStringLiteral("Quillet couldn't reach your computer's calendars: %1").arg(*answer.error);
                emit authorizationChanged();
            }
        });
        return;
    case Authorization::Granted:
    case Authorization::NoAccounts:
        return;
    }
}

void CalendarService::applicationBecameActive()
{
    if (!m_observing)
        return;
    refreshAuthorization();
    resync();
    refreshGoogle();
}

std::pair<QDateTime, QDateTime> CalendarService::window(const QDateTime& now)
{
    const QDateTime start(now.toLocalTime().date(), QTime(0, 0), Qt::LocalTime);
    // Calendar days, so that a daylight-saving change still ends the window at local midnight.
    return { start, start.addDays(7) };
}

void CalendarService::resync()
{
    const quint64 generation = ++m_resyncGeneration;
    if (m_authorization != Authorization::Granted) {
        publish({});
        return;
    }
    m_store.fetchCalendars(this, [this, generation](const QList<StoreCalendar>& storeCalendars) {
        if (generation != m_resyncGeneration)
            return;
        QList<CalendarInfo> calendars;
        calendars.reserve(storeCalendars.size());
        for (const StoreCalendar& calendar : storeCalendars)
            calendars.append(calendarInfo(calendar));
        std::sort(calendars.begin(), calendars.end(), [](const CalendarInfo& a, const CalendarInfo& b) {
            return a.sourceTitle != b.sourceTitle ? codePointLess(a.sourceTitle, b.sourceTitle)
                                                  : codePointLess(a.title, b.title);
        });
        if (calendars != m_calendars) {
            m_calendars = calendars;
            emit calendarsChanged();
        }
        if (calendars.isEmpty()) {
            setAuthorization(Authorization::NoAccounts);
            publish({});
            return;
        }

        QStringList visibleIds;
        for (const StoreCalendar& calendar : storeCalendars) {
            if (isVisible(calendar.id))
                visibleIds.append(calendar.id);
        }
        if (visibleIds.isEmpty()) {
            publish({});
            return;
        }
        const auto [start, end] = window(m_clock.now());
        m_store.fetchEvents(visibleIds, start, end, this, [this, generation](const QList<StoreEvent>& storeEvents) {
            if (generation != m_resyncGeneration)
                return;
            auto job = std::make_shared<Mirroring>();
            job->storeEvents = storeEvents;
            for (const CalendarInfo& calendar : std::as_const(m_calendars))
                job->calendarsById.insert(calendar.id, calendar);
            // Read once per resync: the same answer for every event, and a big week stays cheap.
            const QStringList alwaysRecord = m_settings.get(SettingsKeys::alwaysRecordCalendars);
            job->alwaysRecord = QSet<QString>(alwaysRecord.begin(), alwaysRecord.end());
            job->events.reserve(storeEvents.size());
            mirrorSlice(generation, job);
        });
    });
}

void CalendarService::mirrorSlice(quint64 generation, const std::shared_ptr<Mirroring>& job)
{
    const qsizetype end = std::min(job->next + kMirrorSlice, job->storeEvents.size());
    for (; job->next < end; ++job->next) {
        const StoreEvent& event = job->storeEvents.at(job->next);
        if (event.allDay || declinedByUser(event))
            continue;
        job->events.append(
            mirror(event, job->calendarsById.value(event.calendarId), job->alwaysRecord.contains(event.calendarId)));
    }
    if (job->next < job->storeEvents.size()) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, job] {
                if (generation == m_resyncGeneration)
                    mirrorSlice(generation, job);
            },
            Qt::QueuedConnection);
        return;
    }
    publish(std::move(job->events));
}

CalendarService::EventInfo CalendarService::mirror(
    const StoreEvent& event, const CalendarInfo& calendar, bool alwaysRecord) const
{
    EventInfo info;
    info.id = event.id;
    info.title = event.title.isNull() ? QStringLiteral("") : event.title;
    info.startDate = event.start;
    info.endDate = event.end;
    for (const StoreAttendee& attendee : event.attendees) {
        if (attendee.type != StoreAttendee::Type::Individual)
            continue;
        const QString name = attendee.name.isEmpty() ? nameFromAddress(attendee.address) : attendee.name;
        if (!name.isEmpty())
            info.attendees.append(name);
    }
    info.organizer = event.organizerName;
    info.calendarId = event.calendarId;
    info.calendarName = calendar.title;
    info.calendarColor = calendar.color.isValid() ? calendar.color : CalendarStore::kFallbackColor;
    info.conferenceURL = ConferenceLink::detect(event.url, event.location, event.notes);
    info.participantCount = int(event.attendees.size());
    info.location = event.location;
    const Classification classification
        = MeetingClassifier::classify(info.conferenceURL.has_value(), info.participantCount, alwaysRecord, info.title);
    info.kind = classification.kind;
    info.highConfidence = classification.highConfidence;
    return info;
}

void CalendarService::publish(QList<EventInfo> desktopEvents)
{
    QList<EventInfo> merged = std::move(desktopEvents);
    merged.append(m_googleEvents);
    // Stable: at equal starts desktop events stay before Google events.
    std::stable_sort(
        merged.begin(), merged.end(), [](const EventInfo& a, const EventInfo& b) { return a.startDate < b.startDate; });
    QList<EventInfo> listed;
    QList<EventInfo> skipped;
    for (EventInfo& event : merged)
        (event.kind == EventKind::Skip ? skipped : listed).append(std::move(event));
    // Both are published every time: the reminders and the title sync act on each publication.
    m_events = std::move(listed);
    m_skippedEvents = std::move(skipped);
    emit eventsChanged();
    emit skippedEventsChanged();
}

bool CalendarService::isVisible(const QString& calendarId) const
{
    const CalendarVisibilityMap overrides = m_settings.get(SettingsKeys::calendarVisibility);
    const auto choice = overrides.constFind(calendarId);
    if (choice != overrides.constEnd())
        return *choice;
    const auto calendar = std::find_if(
        m_calendars.begin(), m_calendars.end(), [&](const CalendarInfo& info) { return info.id == calendarId; });
    return calendar == m_calendars.end() || calendar->defaultVisible;
}

void CalendarService::setVisible(bool visible, const QString& calendarId)
{
    CalendarVisibilityMap overrides = m_settings.get(SettingsKeys::calendarVisibility);
    overrides.insert(calendarId, visible);
    m_settings.set(SettingsKeys::calendarVisibility, overrides);
    resync();
}

void CalendarService::setAlwaysRecord(bool on, const QString& calendarId)
{
    const QStringList stored = m_settings.get(SettingsKeys::alwaysRecordCalendars);
    QSet<QString> calendars(stored.begin(), stored.end());
    if (on)
        calendars.insert(calendarId);
    else
        calendars.remove(calendarId);
    QStringList list(calendars.begin(), calendars.end());
    list.sort();
    m_settings.set(SettingsKeys::alwaysRecordCalendars, list);
    ++m_alwaysRecordVersion;
    emit alwaysRecordVersionChanged();
    resync();
    refreshGoogle();
}

std::optional<CalendarService::EventInfo> CalendarService::eventWithId(const QString& id) const
{
    const auto found
        = std::find_if(m_events.begin(), m_events.end(), [&](const EventInfo& event) { return event.id == id; });
    return found == m_events.end() ? std::nullopt : std::optional<EventInfo>(*found);
}

void CalendarService::refreshGoogle()
{
    if (!m_google)
        return;
    // Only the latest fetch may leave its result: an older one that answers later could bring
    // back an account or calendar that the user has removed since.
    const quint64 generation = ++m_googleGeneration;
    const auto [start, end] = window(m_clock.now());
    m_google->fetchEvents(start, end, this, [this, generation](const QList<EventInfo>& events) {
        if (generation != m_googleGeneration)
            return;
        m_googleEvents = events;
        resync();
    });
}
