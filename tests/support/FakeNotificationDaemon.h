#pragma once

// The desktop's notification daemon, owned by the test on its session bus: it notes every
// Notify call and answers with its own numbers; the test invokes actions and closes
// notifications by emitting its signals. A bus holds one owner of the name, so a program that
// puts it there runs on a private bus of its own (quillet_add_test(... PRIVATE_BUS)).
// AUTOMOC must see this header: list it among the test's SOURCES.

#include "platform/NotificationCenter.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class FakeNotificationDaemon final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QVariantList arguments; // appName, replacesId, icon, summary, body, actions, hints, timeout
        uint assignedId;

        QString summary() const { return arguments[3].toString(); }
        QString body() const { return arguments[4].toString(); }
        QStringList actions() const { return arguments[5].toStringList(); }
        QVariantMap hints() const { return arguments[6].toMap(); }
    };
    QList<Call> calls;
    QList<uint> closed;

    ~FakeNotificationDaemon() override { leaveBus(); }

    // Owns org.freedesktop.Notifications on the session bus, through a connection of its own.
    bool joinBus()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName);
        m_joined = bus.registerObject(DBusNotificationServer::kPath, this,
                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
            && bus.registerService(DBusNotificationServer::kService);
        return m_joined;
    }

    void leaveBus()
    {
        if (!m_joined)
            return;
        QDBusConnection bus(kConnectionName);
        bus.unregisterService(DBusNotificationServer::kService);
        bus.unregisterObject(DBusNotificationServer::kPath);
        m_joined = false;
    }

    uint idAt(int call) const { return calls[call].assignedId; }
    QStringList summaries() const
    {
        QStringList list;
        for (const Call& call : calls)
            list.append(call.summary());
        return list;
    }
    // The last call that showed a notification with this summary, or null.
    const Call* lastWithSummary(const QString& summary) const
    {
        for (auto call = calls.crbegin(); call != calls.crend(); ++call)
            if (call->summary() == summary)
                return &*call;
        return nullptr;
    }

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
        const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        calls.append({ { appName, replacesId, icon, summary, body, actions, hints, expireTimeout }, id });
        return id;
    }
    void CloseNotification(uint id) { closed.append(id); }

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void ActivationToken(uint id, const QString& activationToken);
    void NotificationClosed(uint id, uint reason);

private:
    static inline const QString kConnectionName = QStringLiteral("fake-notification-daemon");
    uint m_lastId = 100;
    bool m_joined = false;
};
