#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <chrono>

class CalendarService;
class Clock;
class NotificationCenter;
class Settings;
struct NotificationResponse;

// A notification one minute before each listed event with at least two participants or a call
// link, offering "Open & record". The pending reminders are rebuilt from the week's events at
// every publication, so they always mirror the current list. The notification centre holds them
// and fires them while Quillet runs. Main thread.
class MeetingReminders final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingReminders)

public:
    static inline const QString kCategoryIdentifier = QStringLiteral("QUILLET_MEETING_REMINDER");
    static inline const QString kActionIdentifier = QStringLiteral("QUILLET_OPEN_RECORD");
    static inline const QString kActionTitle = QStringLiteral("Open & record");
    static inline const QString kIdentifierPrefix = QStringLiteral("meeting-reminder-");
    static inline const QString kEventIdKey = QStringLiteral("eventId");
    static constexpr std::chrono::seconds kLeadTime { 60 };

    MeetingReminders(NotificationCenter& center, const CalendarService& calendar, const Settings& settings,
        const Clock& clock, QObject* parent = nullptr);
    ~MeetingReminders() override;

    // Registers the reminder's action, follows the calendar's publications and reschedules at
    // once. Once at launch; a second call replaces the subscription.
    void activate();

    // Removes every pending reminder and, when reminders are on and notifications allowed,
    // schedules those of the current events. Passes do not overlap: one that is no longer the
    // latest when the permission answer arrives adds nothing.
    void reschedule();

    // The user's answer to a delivered notification; only "Open & record" or a click on a
    // reminder with an event id does anything.
    void handleResponse(const NotificationResponse& response);

    // The "meetingRemindersEnabled" setting; absent or unreadable reads as on.
    bool isEnabled() const;

signals:
    // The application should come to the front (the main window shown, raised, activated).
    void bringToFrontRequested();
    // The person asked to record the event (the reminder's "Open & record", or a click on it):
    // its meeting is to be shown and recorded.
    void openAndRecordRequested(const QString& eventId);

private:
    void scheduleCurrentEvents();

    NotificationCenter& m_center;
    const CalendarService& m_calendar;
    const Settings& m_settings;
    const Clock& m_clock;
    QMetaObject::Connection m_subscription;
    quint64 m_latestPass = 0;
};
