#pragma once

#include "calendar/EventKind.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

class CalendarStore;
class Clock;
class GoogleEventSource;
class Settings;
struct StoreEvent;

// The one source of upcoming calendar events: the coming week (today 00:00 to seven days
// later) of the desktop's calendars and of the connected Google accounts, classified, sorted by
// start and published split into the events worth showing and the skipped ones.
//
// Reading is asynchronous: calendars are published as soon as the store lists them, events when
// their read ends and they are turned into records (a slice per turn of the event loop); of
// overlapping resyncs only the latest started publishes. Resyncs run on a
// store change, every resyncInterval and when the application becomes active. Main thread.
class CalendarService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CalendarService)

public:
    // There is no "denied": the desktop's calendar store grants every application access.
    enum class Authorization {
        NotRequested, // never asked, or the request did not go through
        Granted,
        NoAccounts, // granted, but the store has no event calendar; left at the next activation
    };
    Q_ENUM(Authorization)

    struct CalendarInfo
    {
        QString id;
        QString title;
        QString sourceTitle; // the account, or the store's group; "Other" without either
        QColor color;
        bool defaultVisible = true; // false for subscribed feeds and birthdays

        friend bool operator==(const CalendarInfo&, const CalendarInfo&) = default;
    };

    struct EventInfo
    {
        // Desktop events: calendar/UID[/occurrence]; Google events: "g:" + calendar + ":" + event.
        QString id;
        QString title; // "" when the event has none
        QDateTime startDate;
        QDateTime endDate;
        QStringList attendees; // the persons' names, in the event's order
        std::optional<QString> organizer;
        QString calendarId;
        QString calendarName;
        QColor calendarColor;
        std::optional<QUrl> conferenceURL;
        int participantCount = 0; // everyone invited: persons, rooms, resources, groups
        std::optional<QString> location;
        EventKind kind = EventKind::Skip;
        bool highConfidence = false;

        friend bool operator==(const EventInfo&, const EventInfo&) = default;
    };

    Q_PROPERTY(Authorization authorization READ authorization NOTIFY authorizationChanged)
    // Why the last request for access did not go through (the store could not be reached), in
    // words for the user, until access is granted.
    Q_PROPERTY(std::optional<QString> accessProblem READ accessProblem NOTIFY authorizationChanged)
    Q_PROPERTY(QList<CalendarService::EventInfo> events READ events NOTIFY eventsChanged)
    Q_PROPERTY(QList<CalendarService::EventInfo> skippedEvents READ skippedEvents NOTIFY skippedEventsChanged)
    Q_PROPERTY(QList<CalendarService::CalendarInfo> calendars READ calendars NOTIFY calendarsChanged)
    Q_PROPERTY(int alwaysRecordVersion READ alwaysRecordVersion NOTIFY alwaysRecordVersionChanged)

    static constexpr std::chrono::milliseconds kResyncInterval { 300'000 };

    // Reads nothing until start().
    CalendarService(CalendarStore& store, Settings& settings, const Clock& clock, GoogleEventSource* google = nullptr,
        QObject* parent = nullptr, std::chrono::milliseconds resyncInterval = kResyncInterval);
    ~CalendarService() override;

    // The start-up, once: reads the access state, starts observing, resyncs when access is
    // granted and asks the Google source (if any) for its events.
    void start();

    Authorization authorization() const { return m_authorization; }
    std::optional<QString> accessProblem() const { return m_accessProblem; }
    QList<EventInfo> events() const { return m_events; }
    QList<EventInfo> skippedEvents() const { return m_skippedEvents; }
    QList<CalendarInfo> calendars() const { return m_calendars; }
    int alwaysRecordVersion() const { return m_alwaysRecordVersion; }

    // Asks for access when never asked; a request that does not go through leaves it so.
    void requestAccess();
    // Reads the access state again and publishes it, changed or not.
    void refreshAuthorization();
    // Rebuilds calendars and events from the store and the last Google events.
    void resync();

    // Whether a desktop calendar is read: the user's choice, else its default, else true.
    bool isVisible(const QString& calendarId) const;
    void setVisible(bool visible, const QString& calendarId);
    // Adds a calendar (desktop or Google) to the always-recorded ones, or removes it.
    void setAlwaysRecord(bool on, const QString& calendarId);

    // The listed event with that id; skipped events are not searched.
    std::optional<EventInfo> eventWithId(const QString& id) const;

    // The start of today in the local zone, and seven calendar days later.
    static std::pair<QDateTime, QDateTime> window(const QDateTime& now);

public slots:
    // Asks the Google source for the window's events, then resyncs with them.
    void refreshGoogle();
    // The application became active: the access state, the store and Google are read again
    // (once started).
    void applicationBecameActive();

signals:
    void authorizationChanged();
    void eventsChanged();
    void skippedEventsChanged();
    void calendarsChanged();
    void alwaysRecordVersionChanged();

private:
    void startObserving();
    void setAuthorization(Authorization authorization);
    void publish(QList<EventInfo> desktopEvents);
    EventInfo mirror(const StoreEvent& event, const CalendarInfo& calendar, bool alwaysRecord) const;
    // One resync's store events on their way to being published.
    struct Mirroring;
    void mirrorSlice(quint64 generation, const std::shared_ptr<Mirroring>& job);

    CalendarStore& m_store;
    Settings& m_settings;
    const Clock& m_clock;
    GoogleEventSource* m_google;

    Authorization m_authorization = Authorization::NotRequested;
    std::optional<QString> m_accessProblem;
    QList<EventInfo> m_events;
    QList<EventInfo> m_skippedEvents;
    QList<CalendarInfo> m_calendars;
    int m_alwaysRecordVersion = 0;
    QList<EventInfo> m_googleEvents;

    bool m_started = false;
    bool m_observing = false;
    QTimer m_resyncTimer;
    // Each resync and each Google fetch takes a number; an answer whose number is no longer the
    // latest is dropped.
    quint64 m_resyncGeneration = 0;
    quint64 m_googleGeneration = 0;
};
