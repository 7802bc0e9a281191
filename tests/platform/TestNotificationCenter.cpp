#include "platform/NotificationCenter.h"
#include "support/FakeClock.h"
#include "support/TestMain.h"
#include "system/LocalNotifier.h"

#include <QDBusConnection>
#include <QSignalSpy>

// Stands in for the desktop's notification daemon on the test's private session bus.
class FakeNotificationDaemon final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QVariantList arguments;
        uint assignedId;
    };
    QList<Call> calls;
    QList<uint> closed;

    uint idAt(int call) const { return calls[call].assignedId; }
    QStringList summaries() const
    {
        QStringList list;
        for (const Call& call : calls)
            list.append(call.arguments[3].toString());
        return list;
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
    void NotificationClosed(uint id, uint reason);

private:
    uint m_lastId = 100;
};

class TestNotificationCenter final : public QObject
{
    Q_OBJECT

private:
    bool authorized()
    {
        std::optional<bool> answer;
        m_center->requestAuthorization([&](bool granted) { answer = granted; });
        return QTest::qWaitFor([&] { return answer.has_value(); }) && *answer;
    }

    static NotificationRequest request(const QString& identifier, const QString& event = {})
    {
        NotificationRequest r;
        r.identifier = r.title = identifier;
        r.categoryIdentifier = QStringLiteral("REMINDER");
        r.userInfo = { { QStringLiteral("eventId"), event } };
        return r;
    }

    FakeNotificationDaemon m_daemon;
    FakeClock m_clock;
    std::unique_ptr<DBusNotificationServer> m_server;
    std::unique_ptr<NotificationCenter> m_center;

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus (scripts/with-test-env)");
        m_server = std::make_unique<DBusNotificationServer>();
        m_center = std::make_unique<NotificationCenter>(*m_server, m_clock, nullptr, std::chrono::milliseconds(10));
    }

    void cleanup() { m_daemon.calls.clear(); }

    // Runs first: no daemon on the bus yet.
    void withoutDaemonNothingIsShown()
    {
        LocalNotifier::post(*m_center, QStringLiteral("Not shown"), QStringLiteral("-"), QStringLiteral("n-0"));
        // Bus answers come in order, so this one arrives after the post's own check.
        QVERIFY(!authorized());
        QDBusConnection bus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notification-daemon"));
        QVERIFY(bus.registerObject(DBusNotificationServer::kPath, &m_daemon,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(bus.registerService(DBusNotificationServer::kService));
        QVERIFY(authorized());
        QVERIFY(m_daemon.calls.isEmpty());
    }

    void postsAndReplacesByIdentifier()
    {
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        LocalNotifier::post(
            *m_center, QStringLiteral("Recording started"), QStringLiteral("Sync"), QStringLiteral("n-1"));
        QTRY_COMPARE(delivered.size(), 1);
        const QVariantMap hints { { QStringLiteral("desktop-entry"), QStringLiteral("quillet") } };
        QCOMPARE(m_daemon.calls[0].arguments,
            (QVariantList { "Quillet", 0u, "", "Recording started", "Sync", QStringList(), hints, -1 }));

        LocalNotifier::post(
            *m_center, QStringLiteral("Recording started"), QStringLiteral("Again"), QStringLiteral("n-1"));
        LocalNotifier::post(*m_center, QString(), QString(), QStringLiteral("n-2"));
        QTRY_COMPARE(delivered.size(), 3);
        QCOMPARE(m_daemon.calls[1].arguments[1].toUInt(), m_daemon.idAt(0));
        QCOMPARE(m_daemon.calls[2].arguments[1].toUInt(), 0u);

        m_center->removeDeliveredNotifications({ QStringLiteral("n-2"), QStringLiteral("unknown") });
        QTRY_COMPARE(m_daemon.closed, QList<uint> { m_daemon.idAt(2) });
    }

    void actionsBecomeResponses()
    {
        m_center->setCategories({ { QStringLiteral("REMINDER"),
            { { QStringLiteral("OPEN_RECORD"), QStringLiteral("Open & record") } }, true } });
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        QSignalSpy responses(m_center.get(), &NotificationCenter::responseReceived);
        m_center->add(request(QStringLiteral("reminder-e1"), QStringLiteral("e1")));
        m_center->add(request(QStringLiteral("reminder-e2"), QStringLiteral("e2")));
        QTRY_COMPARE(delivered.size(), 2);
        QCOMPARE(m_daemon.calls[0].arguments[5].toStringList(),
            (QStringList { "default", "", "OPEN_RECORD", "Open & record" }));

        // Expired (reason 1) is no response; closed by the user (2) is a dismissal.
        emit m_daemon.ActionInvoked(m_daemon.idAt(1), QStringLiteral("OPEN_RECORD"));
        emit m_daemon.ActionInvoked(m_daemon.idAt(0), QStringLiteral("default"));
        emit m_daemon.NotificationClosed(m_daemon.idAt(1), 1);
        emit m_daemon.NotificationClosed(m_daemon.idAt(0), 2);
        QTRY_COMPARE(responses.size(), 3);
        QStringList seen;
        for (const QList<QVariant>& signal : responses) {
            const auto response = signal.first().value<NotificationResponse>();
            seen << response.request.userInfo.value("eventId").toString() + ' ' + response.actionIdentifier;
        }
        QCOMPARE(seen,
            (QStringList { "e2 OPEN_RECORD", "e1 " + NotificationCenter::kDefaultActionIdentifier,
                "e1 " + NotificationCenter::kDismissActionIdentifier }));
    }

    void timedRequestsFireAtTheirTime()
    {
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        const QDateTime start = m_clock.now();
        const auto at = [&](const QString& id, int seconds) {
            NotificationRequest r = request(id);
            r.deliverAt = start.addSecs(seconds);
            return r;
        };
        m_center->add(at(QStringLiteral("reminder-a"), 60));
        m_center->add(at(QStringLiteral("reminder-b"), 120));
        m_center->add(at(QStringLiteral("reminder-c"), 240));
        m_center->add(at(QStringLiteral("notice"), 30));
        m_center->add(at(QStringLiteral("reminder-a"), 90)); // moved: replaces the first
        QStringList pending;
        for (const NotificationRequest& r : m_center->pendingRequests())
            pending.append(r.identifier);
        QCOMPARE(pending, (QStringList { "notice", "reminder-a", "reminder-b", "reminder-c" }));

        m_center->removePendingRequests({ QStringLiteral("reminder-b") });
        m_clock.advanceMs(125'000); // as if the machine slept through three of the times
        QTRY_COMPARE(delivered.size(), 2);
        QCOMPARE(m_daemon.summaries(), (QStringList { "notice", "reminder-a" }));

        m_center->removePendingRequestsWithPrefix(QStringLiteral("reminder-"));
        QVERIFY(m_center->pendingRequests().isEmpty());
        m_clock.advanceMs(600'000);
        m_center->add(at(QStringLiteral("past"), -5)); // a time already past: now
        QTRY_COMPARE(delivered.size(), 3);
        QCOMPARE(m_daemon.summaries(), (QStringList { "notice", "reminder-a", "past" }));
    }
};

QUILLET_TEST_MAIN(TestNotificationCenter)
#include "TestNotificationCenter.moc"
