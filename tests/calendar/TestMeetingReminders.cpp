#include "calendar/MeetingReminders.h"
#include "platform/NotificationCenter.h"
#include "support/CalendarWeek.h"
#include "support/FakeClock.h"
#include "support/FakeNotificationDaemon.h"
#include "support/InMemoryNotificationServer.h"
#include "support/TestMain.h"

#include <QDBusConnection>

using namespace std::chrono_literals;
using EventInfo = CalendarService::EventInfo;

namespace {

const QString kPrefix = QStringLiteral("meeting-reminder-");

QStringList pendingIds(const NotificationCenter& center)
{
    QStringList ids;
    for (const NotificationRequest& request : center.pendingRequests())
        ids.append(request.identifier);
    return ids;
}

// Answers of the notification service come in the order asked: once this one is in, every
// earlier question has been answered.
bool settled(NotificationCenter& center)
{
    bool answered = false;
    center.requestAuthorization([&](bool) { answered = true; });
    return QTest::qWaitFor([&] { return answered; }, 30'000);
}

} // namespace

// Reminders and the desktop's notification daemon (a fake on this program's own bus), with a
// fake clock that the notification centre looks at every 10 ms.
class TestMeetingReminders final : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        explicit Rig(const Clock& clock, NotificationServer& server)
            : week(clock)
            , center(server, clock, nullptr, 10ms)
            , reminders(center, week.service, settings, clock)
        {
            QObject::connect(
                &center, &NotificationCenter::responseReceived, &reminders, &MeetingReminders::handleResponse);
            QObject::connect(&reminders, &MeetingReminders::bringToFrontRequested,
                [this] { requests.append(QStringLiteral("front")); });
            QObject::connect(&reminders, &MeetingReminders::openAndRecordRequested,
                [this](const QString& eventId) { requests.append(QStringLiteral("open ") + eventId); });
        }

        QTemporaryDir dir;
        Settings settings { dir.filePath(QStringLiteral("settings.ini")) };
        CalendarWeek week;
        NotificationCenter center;
        MeetingReminders reminders;
        QStringList requests; // what the reminders asked of the application, in order
    };

    FakeClock m_clock;
    FakeNotificationDaemon m_daemon;
    std::unique_ptr<DBusNotificationServer> m_server;
    std::unique_ptr<Rig> m_rig;

    QDateTime now() const { return m_clock.now(); }

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus (scripts/with-private-bus)");
    }

    void init()
    {
        m_clock.set(QDateTime(QDate(2026, 3, 5), QTime(9, 0), Qt::UTC));
        m_server = std::make_unique<DBusNotificationServer>();
        m_rig = std::make_unique<Rig>(m_clock, *m_server);
    }

    void cleanup()
    {
        m_rig.reset();
        m_server.reset();
        m_daemon.calls.clear();
    }

    // Runs first: nobody owns the notification name yet.
    void withoutDaemonNothingIsScheduled()
    {
        QVERIFY(m_rig->week.publish({ CalendarWeek::event("e1", "Standup", now().addSecs(600)) }));
        m_rig->reminders.activate();
        QVERIFY(settled(m_rig->center));
        QVERIFY(m_rig->center.pendingRequests().isEmpty());
        QVERIFY(m_daemon.joinBus());
    }

    void whichEventsAreReminded_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("participants");
        QTest::addColumn<bool>("callLink");
        QTest::addColumn<int>("startsIn"); // seconds from now
        QTest::addColumn<QString>("announced"); // the notification's title; empty: no reminder
        QTest::newRow("one participant, no call link") << "Focus" << 1 << false << 600 << "";
        QTest::newRow("one participant, a call link") << "Webinar" << 1 << true << 600 << "Webinar";
        QTest::newRow("two participants, no call link") << "1:1" << 2 << false << 600 << "1:1";
        QTest::newRow("an empty title") << "" << 2 << false << 600 << "Meeting";
        QTest::newRow("starts in 30 s") << "Standup" << 2 << false << 30 << "";
        QTest::newRow("starts in exactly 60 s") << "Standup" << 2 << false << 60 << "";
        QTest::newRow("starts in 61 s") << "Standup" << 2 << false << 61 << "Standup";
    }
    void whichEventsAreReminded()
    {
        QFETCH(QString, title);
        QFETCH(int, participants);
        QFETCH(bool, callLink);
        QFETCH(int, startsIn);
        QFETCH(QString, announced);
        EventInfo event = CalendarWeek::event("work/e1", title, now().addSecs(startsIn));
        event.participantCount = participants;
        if (callLink)
            event.conferenceURL = QUrl("https://meet.google.com/abc-defg-hij");
        QVERIFY(m_rig->week.publish({ event }));
        m_rig->reminders.activate();
        QVERIFY(settled(m_rig->center));
        if (announced.isEmpty()) {
            QVERIFY(m_rig->center.pendingRequests().isEmpty());
            return;
        }
        const QList<NotificationRequest> pending = m_rig->center.pendingRequests();
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending[0].identifier, QStringLiteral("meeting-reminder-work/e1"));
        QCOMPARE(pending[0].deliverAt.value_or(QDateTime()), event.startDate.addSecs(-60));
        QVERIFY(m_daemon.calls.isEmpty());

        m_clock.set(event.startDate.addSecs(-60));
        QTRY_COMPARE(m_daemon.calls.size(), 1);
        const FakeNotificationDaemon::Call& call = m_daemon.calls[0];
        QCOMPARE(call.summary(), announced);
        QCOMPARE(call.body(), QStringLiteral("Starts in 1 minute"));
        QCOMPARE(call.actions(), (QStringList { "default", "", "QUILLET_OPEN_RECORD", "Open & record" }));
        QCOMPARE(call.hints().value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("quillet"));
    }

    // The list changes: the reminders follow it, leaving other pending notifications alone.
    void followsEveryPublication()
    {
        NotificationRequest other;
        other.identifier = QStringLiteral("update-available");
        other.deliverAt = now().addSecs(3600);
        m_rig->center.add(other);
        const EventInfo standup = CalendarWeek::event("standup", "Standup", now().addSecs(600));
        const EventInfo review = CalendarWeek::event("review", "Review", now().addSecs(1200));
        QVERIFY(m_rig->week.publish({ standup, review }));
        m_rig->reminders.activate();
        QVERIFY(settled(m_rig->center));
        QCOMPARE(
            pendingIds(m_rig->center), (QStringList { kPrefix + "standup", kPrefix + "review", "update-available" }));

        EventInfo moved = review;
        moved.startDate = now().addSecs(300);
        QVERIFY(m_rig->week.publish({ moved }));
        QVERIFY(settled(m_rig->center));
        QCOMPARE(pendingIds(m_rig->center), (QStringList { kPrefix + "review", "update-available" }));
        QCOMPARE(m_rig->center.pendingRequests().first().deliverAt.value_or(QDateTime()), now().addSecs(240));
    }

    void setting_data()
    {
        QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
        QTest::addColumn<bool>("reminded");
        QTest::newRow("absent") << QVariant() << true;
        QTest::newRow("on") << QVariant(true) << true;
        QTest::newRow("off") << QVariant(false) << false;
        QTest::newRow("unreadable") << QVariant(QStringLiteral("sometimes")) << true;
    }
    void setting()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, reminded);
        NotificationRequest other;
        other.identifier = QStringLiteral("update-available");
        other.deliverAt = now().addSecs(3600);
        m_rig->center.add(other);
        QVERIFY(m_rig->week.publish({ CalendarWeek::event("standup", "Standup", now().addSecs(600)) }));
        m_rig->reminders.activate();
        QVERIFY(settled(m_rig->center));
        QCOMPARE(pendingIds(m_rig->center).size(), 2);

        // The settings page stores the switch and reschedules.
        if (stored.isValid())
            m_rig->settings.setValue(QStringLiteral("meetingRemindersEnabled"), stored);
        m_rig->reminders.reschedule();
        QVERIFY(settled(m_rig->center));
        const QStringList expected
            = reminded ? QStringList { kPrefix + "standup", "update-available" } : QStringList { "update-available" };
        QCOMPARE(pendingIds(m_rig->center), expected);
    }

    void responses_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QVariant>("eventId");
        QTest::addColumn<QString>("action"); // "closed": dismissed by the user
        QTest::addColumn<bool>("opens");
        const QString reminder = kPrefix + "work/e1";
        QTest::newRow("Open & record") << reminder << QVariant("work/e1") << "QUILLET_OPEN_RECORD" << true;
        QTest::newRow("a click on the reminder") << reminder << QVariant("work/e1") << "default" << true;
        QTest::newRow("dismissed") << reminder << QVariant("work/e1") << "closed" << false;
        QTest::newRow("not a reminder") << "recording-started" << QVariant("work/e1") << "default" << false;
        QTest::newRow("no event id") << reminder << QVariant() << "QUILLET_OPEN_RECORD" << false;
        QTest::newRow("an event id that is not text") << reminder << QVariant(7) << "QUILLET_OPEN_RECORD" << false;
    }
    void responses()
    {
        QFETCH(QString, identifier);
        QFETCH(QVariant, eventId);
        QFETCH(QString, action);
        QFETCH(bool, opens);
        m_rig->reminders.activate(); // registers the category and its action
        QVERIFY(settled(m_rig->center));
        NotificationRequest shown;
        shown.identifier = identifier;
        shown.title = QStringLiteral("Design review");
        shown.categoryIdentifier = MeetingReminders::kCategoryIdentifier;
        if (eventId.isValid())
            shown.userInfo.insert(QStringLiteral("eventId"), eventId);
        NotificationRequest control = shown;
        control.identifier = kPrefix + "control";
        control.userInfo = { { QStringLiteral("eventId"), QStringLiteral("control") } };
        m_rig->center.add(shown);
        m_rig->center.add(control);
        QTRY_COMPARE(m_daemon.calls.size(), 2);

        if (action == QLatin1String("closed"))
            emit m_daemon.NotificationClosed(m_daemon.idAt(0), 2);
        else
            emit m_daemon.ActionInvoked(m_daemon.idAt(0), action);
        // Signals arrive in order: once the control's answer is in, the first one's is too.
        emit m_daemon.ActionInvoked(m_daemon.idAt(1), QStringLiteral("QUILLET_OPEN_RECORD"));
        QTRY_VERIFY(m_rig->requests.endsWith(QStringLiteral("open control")));
        QCOMPARE(m_rig->requests,
            (opens ? QStringList { "front", "open work/e1", "front", "open control" }
                   : QStringList { "front", "open control" }));
    }

    // Passes that wait for the permission answer while the list changes, or while reminders
    // are switched off, add nothing: the in-memory service answers one event-loop turn later.
    void onlyTheLatestPassAdds_data()
    {
        QTest::addColumn<bool>("secondHasAnEvent");
        QTest::addColumn<bool>("switchedOff");
        QTest::addColumn<QStringList>("pending");
        QTest::newRow("second pass without an event") << false << false << QStringList {};
        QTest::newRow("second pass with another event") << true << false << QStringList { kPrefix + "review" };
        QTest::newRow("switched off while the pass waits") << false << true << QStringList {};
    }
    void onlyTheLatestPassAdds()
    {
        QFETCH(bool, secondHasAnEvent);
        QFETCH(bool, switchedOff);
        QFETCH(QStringList, pending);
        InMemoryNotificationServer server;
        Rig rig(m_clock, server);
        rig.reminders.activate();
        QVERIFY(settled(rig.center));

        // In one turn of the event loop.
        QVERIFY(rig.week.publish({ CalendarWeek::event("standup", "Standup", now().addSecs(600)) }));
        if (switchedOff) {
            rig.settings.set(SettingsKeys::meetingRemindersEnabled, false);
            rig.reminders.reschedule();
        } else {
            QList<EventInfo> second;
            if (secondHasAnEvent)
                second.append(CalendarWeek::event("review", "Review", now().addSecs(1200)));
            QVERIFY(rig.week.publish(second));
        }
        QVERIFY(settled(rig.center));
        QCOMPARE(pendingIds(rig.center), pending);
    }
};

QUILLET_TEST_MAIN(TestMeetingReminders)
#include "TestMeetingReminders.moc"
