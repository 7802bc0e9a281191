#include "platform/NotificationCenter.h"
#include "support/TestMain.h"
#include "system/LocalNotifier.h"

#include <QDBusConnection>
#include <QSignalSpy>

// A clock the test moves by hand.
class ManualClock final : public Clock
{
public:
    QDateTime now() const override { return m_now; }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now = QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);
};

// Stands in for the desktop's notification daemon on the test's private session bus.
class FakeNotificationDaemon final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName;
        uint replacesId;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
        uint assignedId;
    };

    QList<Call> calls;
    QList<uint> closed;

    QStringList summaries() const
    {
        QStringList list;
        for (const Call& call : calls)
            list.append(call.summary);
        return list;
    }

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        calls.append({appName, replacesId, icon, summary, body, actions, hints, expireTimeout, id});
        return id;
    }
    void CloseNotification(uint id) { closed.append(id); }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

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
    QDBusConnection daemonBus() { return QDBusConnection(QStringLiteral("fake-notification-daemon")); }

    bool startDaemon()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                            QStringLiteral("fake-notification-daemon"));
        return bus.isConnected()
            && bus.registerObject(DBusNotificationServer::kPath, &m_daemon,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
            && bus.registerService(DBusNotificationServer::kService);
    }

    bool authorized(NotificationCenter& center)
    {
        std::optional<bool> answer;
        center.requestAuthorization([&](bool granted) { answer = granted; });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }))
            return false;
        return *answer;
    }

    FakeNotificationDaemon m_daemon;
    ManualClock m_clock;
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

    // Runs first: no daemon yet on the bus.
    void withoutDaemonNothingIsShown()
    {
        LocalNotifier::post(*m_center, QStringLiteral("Not shown"), QStringLiteral("-"), QStringLiteral("n-0"));
        // Answers come back in order, so this one arrives after the post's own check.
        QVERIFY(!authorized(*m_center));
        QVERIFY(startDaemon());
        QVERIFY(authorized(*m_center));
        QVERIFY(m_daemon.calls.isEmpty());
    }

    void postsAndReplacesByIdentifier()
    {
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        LocalNotifier::post(*m_center, QStringLiteral("Recording started"), QStringLiteral("Weekly sync"),
                            QStringLiteral("notice-1"));
        QTRY_COMPARE(delivered.size(), 1);
        QCOMPARE(m_daemon.calls.size(), 1);
        const FakeNotificationDaemon::Call first = m_daemon.calls.first();
        QCOMPARE(first.appName, QStringLiteral("Quillet"));
        QCOMPARE(first.replacesId, 0u);
        QCOMPARE(first.icon, QString());
        QCOMPARE(first.summary, QStringLiteral("Recording started"));
        QCOMPARE(first.body, QStringLiteral("Weekly sync"));
        QCOMPARE(first.actions, QStringList());
        QCOMPARE(first.hints, (QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("quillet")}}));
        QCOMPARE(first.expireTimeout, -1);

        LocalNotifier::post(*m_center, QStringLiteral("Recording started"), QStringLiteral("Second"),
                            QStringLiteral("notice-1"));
        LocalNotifier::post(*m_center, QString(), QString(), QStringLiteral("notice-2"));
        QTRY_COMPARE(delivered.size(), 3);
        QCOMPARE(m_daemon.calls[1].replacesId, first.assignedId);
        QCOMPARE(m_daemon.calls[1].body, QStringLiteral("Second"));
        QCOMPARE(m_daemon.calls[2].replacesId, 0u);
        QCOMPARE(m_daemon.calls[2].summary, QString());

        m_center->removeDeliveredNotifications({QStringLiteral("notice-2"), QStringLiteral("unknown")});
        QTRY_COMPARE(m_daemon.closed, QList<uint>{m_daemon.calls[2].assignedId});
        m_daemon.calls.clear();
    }

    void actionsBecomeResponses()
    {
        m_center->setCategories({{QStringLiteral("QUILLET_MEETING_REMINDER"),
                                  {{QStringLiteral("QUILLET_OPEN_RECORD"), QStringLiteral("Open & record")}},
                                  true}});
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        QSignalSpy responses(m_center.get(), &NotificationCenter::responseReceived);
        for (const char* id : {"meeting-reminder-e1", "meeting-reminder-e2", "meeting-reminder-e3"}) {
            NotificationRequest request;
            request.identifier = QString::fromLatin1(id);
            request.title = QStringLiteral("Design review");
            request.body = QStringLiteral("Starts in 1 minute");
            request.categoryIdentifier = QStringLiteral("QUILLET_MEETING_REMINDER");
            request.userInfo = {{QStringLiteral("eventId"), request.identifier.mid(17)}};
            m_center->add(request);
        }
        QTRY_COMPARE(delivered.size(), 3);
        QCOMPARE(m_daemon.calls[0].actions,
                 (QStringList{"default", "", "QUILLET_OPEN_RECORD", "Open & record"}));

        emit m_daemon.ActionInvoked(m_daemon.calls[1].assignedId, QStringLiteral("QUILLET_OPEN_RECORD"));
        QTRY_COMPARE(responses.size(), 1);
        auto response = responses.takeFirst().first().value<NotificationResponse>();
        QCOMPARE(response.request.identifier, QStringLiteral("meeting-reminder-e2"));
        QCOMPARE(response.actionIdentifier, QStringLiteral("QUILLET_OPEN_RECORD"));
        QCOMPARE(response.request.userInfo.value("eventId").toString(), QStringLiteral("e2"));

        emit m_daemon.ActionInvoked(m_daemon.calls[0].assignedId, QStringLiteral("default"));
        QTRY_COMPARE(responses.size(), 1);
        response = responses.takeFirst().first().value<NotificationResponse>();
        QCOMPARE(response.request.identifier, QStringLiteral("meeting-reminder-e1"));
        QCOMPARE(response.actionIdentifier, NotificationCenter::kDefaultActionIdentifier);

        // Closed by the user: a dismissal; closed because it expired: nothing.
        emit m_daemon.NotificationClosed(m_daemon.calls[2].assignedId, 1);
        emit m_daemon.NotificationClosed(m_daemon.calls[0].assignedId, 2);
        QTRY_COMPARE(responses.size(), 1);
        response = responses.takeFirst().first().value<NotificationResponse>();
        QCOMPARE(response.request.identifier, QStringLiteral("meeting-reminder-e1"));
        QCOMPARE(response.actionIdentifier, NotificationCenter::kDismissActionIdentifier);

        // An id the centre never handed out is no response.
        emit m_daemon.ActionInvoked(9999, QStringLiteral("default"));
        LocalNotifier::post(*m_center, QStringLiteral("marker"), QString(), QStringLiteral("marker"));
        QTRY_COMPARE(delivered.size(), 4);
        QCOMPARE(responses.size(), 0);
        m_daemon.calls.clear();
    }

    void timedRequestsFireAtTheirTime()
    {
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        const QDateTime start = m_clock.now();
        const auto request = [&](const QString& id, int seconds) {
            NotificationRequest r;
            r.identifier = id;
            r.title = id;
            r.deliverAt = start.addSecs(seconds);
            return r;
        };
        m_center->add(request(QStringLiteral("meeting-reminder-a"), 60));
        m_center->add(request(QStringLiteral("meeting-reminder-b"), 120));
        m_center->add(request(QStringLiteral("meeting-reminder-c"), 240));
        m_center->add(request(QStringLiteral("later-notice"), 30));
        m_center->add(request(QStringLiteral("meeting-reminder-a"), 90)); // moved: replaces
        QStringList pending;
        for (const NotificationRequest& r : m_center->pendingRequests())
            pending.append(r.identifier);
        QCOMPARE(pending, (QStringList{"later-notice", "meeting-reminder-a", "meeting-reminder-b", "meeting-reminder-c"}));

        m_center->removePendingRequests({QStringLiteral("meeting-reminder-b")});

        m_clock.advanceMs(95'000); // as if the machine slept through both times
        QTRY_COMPARE(delivered.size(), 2);
        QCOMPARE(m_daemon.summaries(), (QStringList{"later-notice", "meeting-reminder-a"}));

        m_center->removePendingRequestsWithPrefix(QStringLiteral("meeting-reminder-"));
        QVERIFY(m_center->pendingRequests().isEmpty());
        m_clock.advanceMs(600'000);
        LocalNotifier::post(*m_center, QStringLiteral("marker"), QString(), QStringLiteral("marker"));
        QTRY_COMPARE(delivered.size(), 3);
        QCOMPARE(m_daemon.summaries(), (QStringList{"later-notice", "meeting-reminder-a", "marker"}));

        // A time already past shows at once.
        m_center->add(request(QStringLiteral("past"), -5));
        QTRY_COMPARE(delivered.size(), 4);
        QCOMPARE(m_daemon.summaries().last(), QStringLiteral("past"));
    }
};

QUILLET_TEST_MAIN(TestNotificationCenter)
#include "TestNotificationCenter.moc"
