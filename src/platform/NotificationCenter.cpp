#include "platform/NotificationCenter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QSet>
#include <algorithm>
#include <iterator>

namespace {

// Protocol number of NotificationClosed's reason: dismissed by the user.
constexpr quint32 kClosedByUser = 2;

QDBusMessage busCall(const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
}

} // namespace

// ---- DBusNotificationServer ----

DBusNotificationServer::DBusNotificationServer(const QString& appName, const QString& desktopEntry, QObject* parent)
    : NotificationServer(parent)
    , m_appName(appName)
    , m_desktopEntry(desktopEntry)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(
        kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus.connect(
        kService, kPath, kInterface, QStringLiteral("ActivationToken"), this, SLOT(onActivationToken(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

DBusNotificationServer::~DBusNotificationServer() = default;

void DBusNotificationServer::checkAvailable(AvailabilityCallback done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(
            this, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage hasOwner = busCall(QStringLiteral("NameHasOwner"));
    hasOwner << kService;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(hasOwner), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, done](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<bool> owned = *call;
        if (owned.isValid() && owned.value()) {
            done(true);
            return;
        }
        // A service the bus starts on demand counts as present too.
        auto* listing = new QDBusPendingCallWatcher(
            QDBusConnection::sessionBus().asyncCall(busCall(QStringLiteral("ListActivatableNames"))), this);
        connect(listing, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* names) {
            names->deleteLater();
            const QDBusPendingReply<QStringList> reply = *names;
            done(reply.isValid() && reply.value().contains(kService));
        });
    });
}

void DBusNotificationServer::show(const Notification& notification, quint32 replacesId, ShowCallback done)
{
    QStringList actions;
    if (notification.clickable)
        actions << QStringLiteral("default") << QString();
    for (const NotificationAction& action : notification.actions)
        actions << action.identifier << action.title;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_desktopEntry);

    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    notify << m_appName << uint(replacesId) << QString() << notification.title << notification.body << actions << hints
           << -1;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isValid())
            done(reply.value());
        else
            done(std::nullopt);
    });
}

void DBusNotificationServer::close(quint32 serverId)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    message << uint(serverId);
    QDBusConnection::sessionBus().call(message, QDBus::NoBlock);
}

void DBusNotificationServer::onActionInvoked(uint id, const QString& actionKey)
{
    emit actionInvoked(id, actionKey);
}

void DBusNotificationServer::onActivationToken(uint id, const QString& token)
{
    emit activationTokenArrived(id, token);
}

void DBusNotificationServer::onClosed(uint id, uint reason)
{
    emit closed(id, reason);
}

// ---- NotificationCenter ----

NotificationCenter::NotificationCenter(
    NotificationServer& server, const Clock& clock, QObject* parent, std::chrono::milliseconds recheckInterval)
    : QObject(parent)
    , m_server(server)
    , m_clock(clock)
    , m_recheckInterval(recheckInterval)
{
    qRegisterMetaType<NotificationResponse>();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &NotificationCenter::firePending);
    connect(&m_server, &NotificationServer::actionInvoked, this, &NotificationCenter::onActionInvoked);
    connect(&m_server, &NotificationServer::activationTokenArrived, this, &NotificationCenter::onActivationToken);
    connect(&m_server, &NotificationServer::closed, this, &NotificationCenter::onClosed);
}

NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::requestAuthorization(std::function<void(bool)> done)
{
    // Each check is a call of its own on the bus, and Qt may hand a reply that came before its
    // watcher existed over one event-loop turn later than the next one's: two checks can answer
    // out of order on a busy machine. Answers are therefore held until all earlier ones are in.
    const quint64 serial = ++m_lastAuthorization;
    m_authorizations.push_back({ serial, std::move(done), std::nullopt });
    QPointer<NotificationCenter> self(this);
    m_server.checkAvailable([self, serial](bool available) {
        if (self)
            self->answerAuthorization(serial, available);
    });
}

void NotificationCenter::answerAuthorization(quint64 serial, bool granted)
{
    for (AuthorizationWait& wait : m_authorizations) {
        if (wait.serial == serial) {
            wait.answer = granted;
            break;
        }
    }
    QPointer<NotificationCenter> self(this);
    while (self && !m_authorizations.empty() && m_authorizations.front().answer) {
        AuthorizationWait first = std::move(m_authorizations.front());
        m_authorizations.pop_front();
        // May ask again, or end this centre.
        first.done(*first.answer);
    }
}

void NotificationCenter::setCategories(const QList<NotificationCategory>& categories)
{
    m_categories.clear();
    for (const NotificationCategory& category : categories)
        m_categories.insert(category.identifier, category);
}

void NotificationCenter::add(const NotificationRequest& request)
{
    add(QList<NotificationRequest> { request });
}

void NotificationCenter::add(const QList<NotificationRequest>& requests)
{
    // A whole week of reminders arrives at once: one pass over the pending list, not one each.
    QSet<QString> identifiers;
    QList<NotificationRequest> batch;
    for (auto request = requests.crbegin(); request != requests.crend(); ++request) {
        if (!identifiers.contains(request->identifier)) {
            identifiers.insert(request->identifier);
            batch.prepend(*request);
        }
    }
    m_pending.removeIf([&](const NotificationRequest& r) { return identifiers.contains(r.identifier); });

    const QDateTime now = m_clock.now();
    QList<NotificationRequest> due;
    QList<NotificationRequest> timed;
    for (NotificationRequest& request : batch)
        (request.deliverAt && *request.deliverAt > now ? timed : due).append(std::move(request));
    const auto earlier
        = [](const NotificationRequest& a, const NotificationRequest& b) { return *a.deliverAt < *b.deliverAt; };
    std::stable_sort(timed.begin(), timed.end(), earlier);
    // Of equal times the request held longer fires first.
    QList<NotificationRequest> merged;
    merged.reserve(m_pending.size() + timed.size());
    std::merge(std::make_move_iterator(m_pending.begin()), std::make_move_iterator(m_pending.end()),
        std::make_move_iterator(timed.begin()), std::make_move_iterator(timed.end()), std::back_inserter(merged),
        earlier);
    m_pending = std::move(merged);
    for (const NotificationRequest& request : std::as_const(due))
        deliver(request);
    scheduleTimer();
}

QList<NotificationRequest> NotificationCenter::pendingRequests() const
{
    return m_pending;
}

void NotificationCenter::removePendingRequests(const QStringList& identifiers)
{
    m_pending.removeIf([&](const NotificationRequest& r) { return identifiers.contains(r.identifier); });
    scheduleTimer();
}

void NotificationCenter::removePendingRequestsWithPrefix(const QString& prefix)
{
    m_pending.removeIf([&](const NotificationRequest& r) { return r.identifier.startsWith(prefix); });
    scheduleTimer();
}

void NotificationCenter::removeDeliveredNotifications(const QStringList& identifiers)
{
    for (const QString& identifier : identifiers) {
        const auto it = m_shown.constFind(identifier);
        if (it == m_shown.constEnd())
            continue;
        if (it->serverId != 0)
            m_server.close(it->serverId);
        m_shown.erase(it);
    }
}

void NotificationCenter::deliver(const NotificationRequest& request)
{
    NotificationServer::Notification notification;
    notification.title = request.title;
    notification.body = request.body;
    const auto category = m_categories.constFind(request.categoryIdentifier);
    if (!request.categoryIdentifier.isEmpty()) {
        notification.clickable = true;
        if (category != m_categories.constEnd())
            notification.actions = category->actions;
    }
    const quint32 replacesId = m_shown.value(request.identifier).serverId;
    m_shown.insert(request.identifier, Shown { request, replacesId });

    QPointer<NotificationCenter> self(this);
    const QString identifier = request.identifier;
    m_server.show(notification, replacesId, [self, identifier](std::optional<quint32> serverId) {
        if (!self || !serverId)
            return;
        const auto it = self->m_shown.find(identifier);
        if (it == self->m_shown.end())
            return;
        it->serverId = *serverId;
        emit self->delivered(identifier);
    });
}

void NotificationCenter::firePending()
{
    const QDateTime now = m_clock.now();
    while (!m_pending.isEmpty() && *m_pending.first().deliverAt <= now)
        deliver(m_pending.takeFirst());
    scheduleTimer();
}

void NotificationCenter::scheduleTimer()
{
    if (m_pending.isEmpty()) {
        m_timer.stop();
        return;
    }
    // Wall-clock distance, capped: a suspended machine does not advance timers, so the clock
    // is looked at again at least every recheck interval.
    const qint64 untilDue = std::max<qint64>(0, m_clock.now().msecsTo(*m_pending.first().deliverAt));
    m_timer.start(int(std::min<qint64>(untilDue, m_recheckInterval.count())));
}

void NotificationCenter::onActionInvoked(quint32 serverId, const QString& actionKey)
{
    for (const Shown& shown : std::as_const(m_shown)) {
        if (shown.serverId == serverId) {
            emit responseReceived(NotificationResponse { shown.request, actionKey });
            return;
        }
    }
}

void NotificationCenter::onActivationToken(quint32 serverId, const QString& token)
{
    // On Wayland a window comes forward only with a token the compositor handed out for the
    // user's click. Qt's Wayland platform takes it from this variable at the window's next
    // activation, which the response's handler asks for.
    for (const Shown& shown : std::as_const(m_shown)) {
        if (shown.serverId == serverId && !token.isEmpty()) {
            qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
            return;
        }
    }
}

void NotificationCenter::onClosed(quint32 serverId, quint32 reason)
{
    for (auto it = m_shown.begin(); it != m_shown.end(); ++it) {
        if (it->serverId != serverId)
            continue;
        const NotificationRequest request = it->request;
        m_shown.erase(it);
        const auto category = m_categories.constFind(request.categoryIdentifier);
        if (reason == kClosedByUser && category != m_categories.constEnd() && category->reportsDismissal)
            emit responseReceived(NotificationResponse { request, kDismissActionIdentifier });
        return;
    }
}
