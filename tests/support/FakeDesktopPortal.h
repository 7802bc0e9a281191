#pragma once

// The desktop portal's settings, owned by the test on its session bus: it answers the
// appearance's "color-scheme" with a number the test sets, and announces a new one with
// SettingChanged. It answers on a thread of its own, so that a caller on the test's thread may
// wait for it. A bus holds one owner of the name, so a program that puts it there runs on a
// private bus of its own (quillet_add_test(... PRIVATE_BUS)). AUTOMOC must see this header:
// list it among the test's SOURCES.

#include "platform/portal/DesktopAppearance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QThread>
#include <atomic>

class FakeDesktopPortal final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    // How it answers a read: as a current portal, as one older than ReadOne, or never.
    enum class Answers { readOne, readOnly, never };

    explicit FakeDesktopPortal(uint colorScheme, Answers answers = Answers::readOne)
        : m_colorScheme(colorScheme)
        , m_answers(answers)
    { }

    ~FakeDesktopPortal() override { leaveBus(); }

    // Owns the portal's name on the session bus, through a connection of its own, from its
    // own thread: the bus makes the objects that relay its signals there.
    bool joinBus()
    {
        m_thread.start();
        moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            this,
            [this] {
                QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName);
                m_joined = bus.registerObject(PortalAppearance::kPath, this,
                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
                    && bus.registerService(PortalAppearance::kService);
            },
            Qt::BlockingQueuedConnection);
        return m_joined;
    }

    void leaveBus()
    {
        if (!m_thread.isRunning())
            return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_joined) {
                    QDBusConnection bus(kConnectionName);
                    bus.unregisterService(PortalAppearance::kService);
                    bus.unregisterObject(PortalAppearance::kPath);
                    QDBusConnection::disconnectFromBus(kConnectionName);
                    m_joined = false;
                }
                moveToThread(QCoreApplication::instance()->thread());
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    // The desktop's switch: the new value, announced to every listener.
    void setColorScheme(uint colorScheme)
    {
        m_colorScheme = colorScheme;
        QMetaObject::invokeMethod(this, [this, colorScheme] {
            emit SettingChanged(PortalAppearance::kNamespace, PortalAppearance::kKey, QDBusVariant(colorScheme));
        });
    }

    int reads() const { return m_reads; }

public slots:
    QDBusVariant ReadOne(const QString& nameSpace, const QString& key, const QDBusMessage& message)
    {
        if (m_answers == Answers::readOnly) {
            refuse(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
            return {};
        }
        return answer(nameSpace, key, message);
    }

    // The older method wraps the value in one more variant.
    QDBusVariant Read(const QString& nameSpace, const QString& key, const QDBusMessage& message)
    {
        const QDBusVariant value = answer(nameSpace, key, message);
        return QDBusVariant(QVariant::fromValue(value));
    }

signals:
    void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    QDBusVariant answer(const QString& nameSpace, const QString& key, const QDBusMessage& message)
    {
        ++m_reads;
        if (m_answers == Answers::never) {
            message.setDelayedReply(true);
            return {};
        }
        if (nameSpace != PortalAppearance::kNamespace || key != PortalAppearance::kKey) {
            refuse(message, QStringLiteral("org.freedesktop.portal.Error.NotFound"));
            return {};
        }
        return QDBusVariant(uint(m_colorScheme));
    }

    void refuse(const QDBusMessage& message, const QString& error)
    {
        message.setDelayedReply(true);
        QDBusConnection(kConnectionName).send(message.createErrorReply(error, QStringLiteral("refused by the test")));
    }

    static inline const QString kConnectionName = QStringLiteral("fake-desktop-portal");
    std::atomic<uint> m_colorScheme;
    const Answers m_answers;
    std::atomic<int> m_reads = 0;
    std::atomic<bool> m_joined = false;
    QThread m_thread;
};
