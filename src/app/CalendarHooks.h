#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <optional>

class AutoStartScheduler;
class CalendarService;
class Meeting;
class MeetingReminders;
class ModelContext;
struct NotificationResponse;

// What the application shell asks of the calendar features, and what they ask of it: the
// reminders' two launch calls, the automatic start after each show's housekeeping, the title
// sync at each publication of the week's events; a reminder's request to bring the main window
// back, and its request to record an event's meeting, with the meeting already found. This base
// class is a calendar with nothing connected: it does nothing and asks nothing. The calendar
// features derive from it.
class CalendarHooks : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CalendarHooks)

public:
    // The meeting of a calendar event (found, or made and saved), and its call link.
    struct EventMeeting
    {
        QPointer<Meeting> meeting;
        std::optional<QUrl> callLink;
    };

    using QObject::QObject;

    // Launch: the user answered a notification (a reminder's "Open & record", or a click on it).
    virtual void handleNotificationResponse(const NotificationResponse& response);
    // Launch: the reminders start following the week's events.
    virtual void activateReminders();
    // After each show's housekeeping: meetings set to record by themselves start on time.
    virtual void startAutoStart(ModelContext& context);
    // At each publication of the week's events: linked meetings take their event's new title.
    virtual void syncTitles(ModelContext& context);

signals:
    // The week's events were published.
    void eventsPublished();
    // A reminder asks for the main window (the user clicked it).
    void mainWindowRequested();
    // A reminder asks for the event's meeting to be shown and recorded: the meeting of a
    // current, not skipped event (found, or made and saved), or none when there is no such event.
    void openAndRecordRequested(const CalendarHooks::EventMeeting& event);
};

// The hooks over the calendar features: the calendar service's publications, the meetings made
// from its events, their reminders and their automatic start.
class CalendarServiceHooks final : public CalendarHooks
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CalendarServiceHooks)

public:
    // Meetings of events are found in, or made and saved to, the store.
    CalendarServiceHooks(CalendarService& service, MeetingReminders& reminders, AutoStartScheduler& autoStart,
        ModelContext& store, QObject* parent = nullptr);

    void handleNotificationResponse(const NotificationResponse& response) override;
    void activateReminders() override;
    void startAutoStart(ModelContext& context) override;
    void syncTitles(ModelContext& context) override;

private:
    EventMeeting meetingForEvent(const QString& eventId);

    CalendarService& m_service;
    MeetingReminders& m_reminders;
    AutoStartScheduler& m_autoStart;
    ModelContext& m_store;
};
