#include "platform/NotificationCenter.h"
#include "support/FakeClock.h"
#include "support/FakeNotificationDaemon.h"
#include "support/InMemoryNotificationServer.h"
#include "support/TestMain.h"
#include "system/LocalNotifier.h"

#include <QDBusConnection>
#include <QSignalSpy>

class TestNotificationCenter final : public QObject
{
    Q_OBJECT

private:
    bool authorized()
    {
        std::optional<bool> answer;
        m_center->requestAuthorization([&](bool granted) { answer = granted; });
        return QTest::qWaitFor([&] { return answer.has_value(); }, 30'000) && *answer;
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
        QVERIFY(m_daemon.joinBus());
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

        // Expired (reason 1) is no response; closed by the user (2) is a dismissal. The token
        // that lets the window come forward is ours only with our own notification.
        qunsetenv("XDG_ACTIVATION_TOKEN");
        emit m_daemon.ActivationToken(m_daemon.idAt(1), QStringLiteral("token-e2"));
        emit m_daemon.ActivationToken(7, QStringLiteral("token-of-another-application"));
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
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-e2"));
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

    // A batch is added as one request after another, except that of equal identifiers only
    // the last counts; at equal times the request held longer fires first.
    void batchOfRequests()
    {
        QSignalSpy delivered(m_center.get(), &NotificationCenter::delivered);
        const QDateTime start = m_clock.now();
        const auto at = [&](const QString& id, int seconds) {
            NotificationRequest r = request(id);
            r.deliverAt = start.addSecs(seconds);
            return r;
        };
        m_center->add(at(QStringLiteral("held"), 30));
        m_center->add(at(QStringLiteral("replaced"), 10));
        m_center->add({ at(QStringLiteral("b"), 60), at(QStringLiteral("now"), -1), at(QStringLiteral("b"), 90),
            at(QStringLiteral("a"), 30), at(QStringLiteral("replaced"), 120) });
        QStringList pending;
        for (const NotificationRequest& r : m_center->pendingRequests())
            pending.append(r.identifier + '@' + QString::number(start.secsTo(*r.deliverAt)));
        QCOMPARE(pending, (QStringList { "held@30", "a@30", "b@90", "replaced@120" }));
        QTRY_COMPARE(delivered.size(), 1);
        QCOMPARE(m_daemon.summaries(), QStringList { "now" });
        m_center->removePendingRequests({ "held", "a", "b", "replaced" });
    }

    // Notices posted one after the other are shown in that order, whichever order the checks
    // before them answer in; none waits for a later check.
    void noticesKeepTheOrderTheyWerePostedIn_data()
    {
        QTest::addColumn<QList<int>>("answers"); // the checks, by the order they were asked in
        QTest::addColumn<QList<int>>("shownAfterEach");
        QTest::newRow("in order") << QList<int> { 0, 1, 2 } << QList<int> { 1, 2, 3 };
        QTest::newRow("last first") << QList<int> { 2, 1, 0 } << QList<int> { 0, 0, 3 };
        QTest::newRow("middle first") << QList<int> { 1, 0, 2 } << QList<int> { 0, 2, 3 };
    }
    void noticesKeepTheOrderTheyWerePostedIn()
    {
        QFETCH(QList<int>, answers);
        QFETCH(QList<int>, shownAfterEach);
        InMemoryNotificationServer server;
        NotificationCenter center(server, m_clock);
        server.holdAnswers();
        const QStringList titles { QStringLiteral("Recording started"), QStringLiteral("Couldn't auto-start recording"),
            QStringLiteral("Summary ready") };
        for (const QString& title : titles)
            LocalNotifier::post(center, title, QString(), title);
        QCOMPARE(server.heldAnswers(), 3);
        for (qsizetype i = 0; i < answers.size(); ++i) {
            server.answer(answers[i]);
            QCOMPARE(int(server.shown().size()), shownAfterEach[i]);
        }
        QStringList shown;
        for (const InMemoryNotificationServer::Shown& notice : server.shown())
            shown.append(notice.notification.title);
        QCOMPARE(shown, titles);
    }
};

QUILLET_TEST_MAIN(TestNotificationCenter)
#include "TestNotificationCenter.moc"
