#include "calendar/MeetingReminders.h"

#include "calendar/CalendarService.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/Settings.h"

#include <QPointer>

namespace {

const QString kBody = QStringLiteral("Starts in 1 minute");
const QString kUntitled = QStringLiteral("Meeting");

} // namespace

MeetingReminders::MeetingReminders(NotificationCenter& center, const CalendarService& calendar,
    const Settings& settings, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_center(center)
    , m_calendar(calendar)
    , m_settings(settings)
    , m_clock(clock)
{ }

MeetingReminders::~MeetingReminders() = default;

void MeetingReminders::activate()
{
    NotificationCategory category;
    category.identifier = kCategoryIdentifier;
    category.actions = { { kActionIdentifier, kActionTitle } };
    category.reportsDismissal = true;
    m_center.setCategories({ category });

    disconnect(m_subscription);
    m_subscription = connect(&m_calendar, &CalendarService::eventsChanged, this, &MeetingReminders::reschedule);
    reschedule();
}

bool MeetingReminders::isEnabled() const
{
    return m_settings.get(SettingsKeys::meetingRemindersEnabled);
}

void MeetingReminders::reschedule()
{
    // Every pass takes a number; only the latest may add, so a pass that waited for the
    // permission answer while the list changed, or while reminders were switched off, cannot
    // bring back reminders a later pass removed.
    const quint64 pass = ++m_latestPass;
    m_center.removePendingRequestsWithPrefix(kIdentifierPrefix);
    if (!isEnabled())
        return;
    const QPointer<MeetingReminders> self(this);
    m_center.requestAuthorization([self, pass](bool granted) {
        if (!self || pass != self->m_latestPass || !granted)
            return;
        self->scheduleCurrentEvents();
    });
}

void MeetingReminders::scheduleCurrentEvents()
{
    // Removal and additions in one step: nothing can come in between.
    m_center.removePendingRequestsWithPrefix(kIdentifierPrefix);
    const QDateTime now = m_clock.now();
    const QList<CalendarService::EventInfo> events = m_calendar.events();
    QList<NotificationRequest> requests;
    for (const CalendarService::EventInfo& event : events) {
        if (event.participantCount < 2 && !event.conferenceURL)
            continue;
        const QDateTime fireAt = event.startDate.addSecs(-kLeadTime.count());
        if (fireAt <= now)
            continue;
        NotificationRequest request;
        request.identifier = kIdentifierPrefix + event.id;
        request.title = event.title.isEmpty() ? kUntitled : event.title;
        request.body = kBody;
        request.categoryIdentifier = kCategoryIdentifier;
        request.userInfo = { { kEventIdKey, event.id } };
        request.deliverAt = fireAt;
        requests.append(std::move(request));
    }
    m_center.add(requests);
}

void MeetingReminders::handleResponse(const NotificationResponse& response)
{
    if (!response.request.identifier.startsWith(kIdentifierPrefix))
        return;
    if (response.actionIdentifier != kActionIdentifier
        && response.actionIdentifier != NotificationCenter::kDefaultActionIdentifier)
        return;
    const QVariant eventId = response.request.userInfo.value(kEventIdKey);
    if (eventId.typeId() != QMetaType::QString)
        return;
    emit bringToFrontRequested();
    emit openAndRecordRequested(eventId.toString());
}
