#pragma once

#include "platform/NotificationCenter.h"

#include <QMap>
#include <QMetaObject>

// A NotificationServer that keeps what it was asked to show, for tests. Answers arrive on the
// next event-loop turn, as they would from the bus.
class InMemoryNotificationServer final : public NotificationServer
{
public:
    struct Shown
    {
        Notification notification;
        quint32 replacesId = 0;
        quint32 serverId = 0;
    };

    using NotificationServer::NotificationServer;

    void checkAvailable(AvailabilityCallback done) override
    {
        const int asked = m_checks++;
        if (m_holdAnswers) {
            m_held.insert(asked, std::move(done));
            return;
        }
        QMetaObject::invokeMethod(
            this, [this, done] { done(m_available); }, Qt::QueuedConnection);
    }

    void show(const Notification& notification, quint32 replacesId, ShowCallback done) override
    {
        const quint32 serverId = replacesId != 0 ? replacesId : ++m_lastId;
        m_shown.append(Shown { notification, replacesId, serverId });
        QMetaObject::invokeMethod(
            this, [done, serverId] { done(serverId); }, Qt::QueuedConnection);
    }

    void close(quint32 serverId) override { m_closed.append(serverId); }

    void setAvailable(bool available) { m_available = available; }
    // Keeps the answers to availability checks until the test gives them, in an order of its
    // choosing (a bus can answer two checks the other way round).
    void holdAnswers() { m_holdAnswers = true; }
    int heldAnswers() const { return int(m_held.size()); }
    // Answers the check asked as number `asked` (counting from 0) now.
    void answer(int asked)
    {
        if (const AvailabilityCallback done = m_held.take(asked))
            done(m_available);
    }
    const QList<Shown>& shown() const { return m_shown; }
    const QList<quint32>& closedIds() const { return m_closed; }

    void invokeAction(quint32 serverId, const QString& key) { emit actionInvoked(serverId, key); }
    void closeByUser(quint32 serverId) { emit closed(serverId, 2); }

private:
    bool m_available = true;
    bool m_holdAnswers = false;
    int m_checks = 0;
    QMap<int, AvailabilityCallback> m_held;
    quint32 m_lastId = 0;
    QList<Shown> m_shown;
    QList<quint32> m_closed;
};
