#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

struct NotificationAction
{
    QString identifier;
    QString title;
    bool operator==(const NotificationAction&) const = default;
};

// Actions shown on every notification of a category.
struct NotificationCategory
{
    QString identifier;
    QList<NotificationAction> actions;
    // Report a dismissal by the user as a response (kDismissActionIdentifier).
    bool reportsDismissal = false;
};

struct NotificationRequest
{
    // Our identifier; a request with the identifier of an earlier one replaces it (on screen and
    // among the pending ones).
    QString identifier;
    QString title;
    QString body;
    QString categoryIdentifier;
    QVariantMap userInfo;
    // When to show it; nothing (or a time already past) shows it now.
    std::optional<QDateTime> deliverAt;
};

struct NotificationResponse
{
    NotificationRequest request;
    // An action's identifier, kDefaultActionIdentifier (the notification itself was clicked)
    // or kDismissActionIdentifier.
    QString actionIdentifier;
};
Q_DECLARE_METATYPE(NotificationResponse)

// The desktop's notification display. The D-Bus implementation is below; tests use
// InMemoryNotificationServer. Identifiers are the server's numbers.
class NotificationServer : public QObject
{
    Q_OBJECT

public:
    struct Notification
    {
        QString title;
        QString body;
        QList<NotificationAction> actions;
        bool clickable = false; // offers the default action (a click on the notification)
    };

    using AvailabilityCallback = std::function<void(bool available)>;
    using ShowCallback = std::function<void(std::optional<quint32> serverId)>;

    using QObject::QObject;

    // Whether a notification service exists; answers later, on this object's thread.
    virtual void checkAvailable(AvailabilityCallback done) = 0;
    // Shows (replacesId 0) or replaces a notification; answers with the server's id.
    virtual void show(const Notification& notification, quint32 replacesId, ShowCallback done) = 0;
    virtual void close(quint32 serverId) = 0;

signals:
    void actionInvoked(quint32 serverId, const QString& actionKey);
    // Comes just before actionInvoked when the server hands out a token that lets a window take
    // the focus (Wayland's xdg-activation); any application's notification may carry one.
    void activationTokenArrived(quint32 serverId, const QString& token);
    // reason as the desktop notification protocol numbers it (2 = dismissed by the user).
    void closed(quint32 serverId, quint32 reason);
};

// org.freedesktop.Notifications on the session bus (or a given connection), asynchronous only.
class DBusNotificationServer final : public NotificationServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DBusNotificationServer)

public:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

    // appName: the application name the server shows; desktopEntry: our .desktop file's name.
    explicit DBusNotificationServer(const QString& appName = QStringLiteral("Quillet"),
        const QString& desktopEntry = QStringLiteral("quillet"), QObject* parent = nullptr);
    ~DBusNotificationServer() override;

    void checkAvailable(AvailabilityCallback done) override;
    void show(const Notification& notification, quint32 replacesId, ShowCallback done) override;
    void close(quint32 serverId) override;

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onActivationToken(uint id, const QString& token);
    void onClosed(uint id, uint reason);

private:
    QString m_appName;
    QString m_desktopEntry;
};

// The application's notification centre: immediate and timed notifications, categories with
// actions, pending requests and the user's responses. Main thread.
// Timed requests are held here (the desktop has no scheduling). A timer re-checks the wall
// clock at least every recheckInterval, so a request still fires after the machine slept.
class NotificationCenter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotificationCenter)

public:
    static inline const QString kDefaultActionIdentifier = QStringLiteral("default");
    static inline const QString kDismissActionIdentifier = QStringLiteral("dismiss");
    static constexpr std::chrono::milliseconds kDefaultRecheckInterval { 30000 };

    NotificationCenter(NotificationServer& server, const Clock& clock, QObject* parent = nullptr,
        std::chrono::milliseconds recheckInterval = kDefaultRecheckInterval);
    ~NotificationCenter() override;

    // A notification service present counts as permission granted, none as denied. Answers
    // come in the order asked, so notices posted one after the other are shown in that order.
    void requestAuthorization(std::function<void(bool granted)> done);

    // Replaces the set of categories.
    void setCategories(const QList<NotificationCategory>& categories);

    // Shows the request now, or holds it until deliverAt. Replaces a pending or shown request
    // with the same identifier.
    void add(const NotificationRequest& request);
    // As adding each in turn, in one step; of requests with the same identifier only the last
    // counts.
    void add(const QList<NotificationRequest>& requests);

    // Requests waiting for their time, in the order they will fire.
    QList<NotificationRequest> pendingRequests() const;
    void removePendingRequests(const QStringList& identifiers);
    void removePendingRequestsWithPrefix(const QString& prefix);

    // Takes shown notifications off the screen.
    void removeDeliveredNotifications(const QStringList& identifiers);

signals:
    void responseReceived(const NotificationResponse& response);
    // A request was handed to the notification service (tests and diagnostics).
    void delivered(const QString& identifier);

private:
    void answerAuthorization(quint64 serial, bool granted);
    void deliver(const NotificationRequest& request);
    void firePending();
    void scheduleTimer();
    void onActionInvoked(quint32 serverId, const QString& actionKey);
    void onActivationToken(quint32 serverId, const QString& token);
    void onClosed(quint32 serverId, quint32 reason);

    struct Shown
    {
        NotificationRequest request;
        quint32 serverId = 0;
    };
    struct AuthorizationWait
    {
        quint64 serial = 0;
        std::function<void(bool)> done;
        std::optional<bool> answer;
    };

    NotificationServer& m_server;
    const Clock& m_clock;
    std::chrono::milliseconds m_recheckInterval;
    QTimer m_timer;
    QList<NotificationRequest> m_pending; // sorted by deliverAt
    QHash<QString, NotificationCategory> m_categories;
    QHash<QString, Shown> m_shown; // by our identifier
    std::deque<AuthorizationWait> m_authorizations; // in the order asked
    quint64 m_lastAuthorization = 0;
};
