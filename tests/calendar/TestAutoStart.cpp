#include "app/AppState.h"
#include "app/RecordingController.h"
#include "calendar/AutoStartScheduler.h"
#include "calendar/MeetingFactory.h"
#include "platform/NotificationCenter.h"
#include "support/CalendarWeek.h"
#include "support/FakeClock.h"
#include "support/FakeNotificationDaemon.h"
#include "support/RecordingUrlOpener.h"
#include "support/SessionRig.h"
#include "support/TestMain.h"
#include "system/LocalNotifier.h"

#include <QDBusConnection>

using namespace std::chrono_literals;

namespace {

const QString kStarted = QStringLiteral("Recording started");
const QString kCouldNot = QStringLiteral("Couldn't auto-start recording");

QDateTime at(int hour, int minute, int second = 0)
{
    return QDateTime(QDate(2026, 3, 5), QTime(hour, minute, second), Qt::UTC);
}

} // namespace

// The automatic start through the recording controller, with the real recording session (the
// test sound server and a provider on 127.0.0.1), its notices at a fake notification daemon on this program's own bus, a fake
// clock and a check every 20 ms.
class TestAutoStart final : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeNotificationDaemon m_daemon;
    std::unique_ptr<SessionRig> m_session;
    RecordingUrlOpener m_opener;
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<RecordingController> m_recordings;
    std::unique_ptr<DBusNotificationServer> m_server;
    std::unique_ptr<NotificationCenter> m_center;
    std::unique_ptr<AutoStartScheduler> m_scheduler;

    ModelContext& context() { return m_session->context(); }

    Meeting* scheduled(const QString& title, std::optional<QDateTime> start, bool enabled = true, bool fired = false)
    {
        auto* meeting = new Meeting(title, start.value_or(m_clock.now()));
        meeting->setCalendarEventId(QStringLiteral("work/") + title);
        meeting->setScheduledStart(start);
        meeting->setAutoStartEnabled(enabled);
        meeting->setAutoStartFired(fired);
        context().insert(meeting);
        context().save();
        return meeting;
    }

    // Every notice posted before this call, once they have all reached the daemon: a last
    // notice posted now arrives after them.
    QStringList notices()
    {
        LocalNotifier::post(*m_center, QStringLiteral("control"), QString(), QStringLiteral("control"));
        if (!QTest::qWaitFor([&] { return m_daemon.lastWithSummary(QStringLiteral("control")); }, 30'000))
            return { QStringLiteral("<control notice missing>") };
        QStringList texts;
        for (const FakeNotificationDaemon::Call& call : std::as_const(m_daemon.calls))
            if (call.summary() != QLatin1String("control"))
                texts.append(call.summary() + QStringLiteral(": ") + call.body());
        m_daemon.calls.clear();
        return texts;
    }

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus (scripts/with-private-bus)");
        QVERIFY(m_daemon.joinBus());
    }

    void init()
    {
        m_clock.set(at(9, 59));
        m_session = std::make_unique<SessionRig>();
        m_session->session.setDrainLimit(2s);
        m_server = std::make_unique<DBusNotificationServer>();
        m_center = std::make_unique<NotificationCenter>(*m_server, m_clock, nullptr, 10ms);
        m_appState = std::make_unique<AppState>(m_session->session);
        m_recordings = std::make_unique<RecordingController>(
            RecordingController::Services { context(), m_session->session, *m_appState, m_opener });
        m_scheduler = std::make_unique<AutoStartScheduler>(m_recordings->autoStartRecorder(), *m_center, m_clock, 20ms);
    }

    void cleanup()
    {
        m_scheduler.reset();
        notices(); // none left on the way to the next test's daemon
        if (m_session->session.isRecording())
            QVERIFY(m_session->stopAndFinalize());
        m_center.reset();
        m_server.reset();
        m_recordings.reset();
        m_appState.reset();
        m_session.reset();
        m_daemon.calls.clear();
    }

    void whenAMeetingStarts_data()
    {
        QTest::addColumn<int>("startOffset"); // seconds after now; ignored without a start
        QTest::addColumn<bool>("hasStart");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("alreadyFired");
        QTest::addColumn<bool>("records");
        QTest::addColumn<bool>("firedAfter");
        QTest::addColumn<QStringList>("notices");
        const QStringList started { QStringLiteral(
            "Recording started: Recording started for \u201CDesign review\u201D.") };
        QTest::newRow("starts exactly now") << 0 << true << true << false << true << true << started;
        QTest::newRow("started 90 s ago") << -90 << true << true << false << true << true << started;
        QTest::newRow("started 91 s ago") << -91 << true << true << false << false << true << QStringList {};
        QTest::newRow("launched 5 minutes after the start")
            << -300 << true << true << false << false << true << QStringList {};
        QTest::newRow("starts in a second") << 1 << true << true << false << false << false << QStringList {};
        QTest::newRow("no scheduled start") << 0 << false << true << false << false << false << QStringList {};
        QTest::newRow("not enabled") << 0 << true << false << false << false << false << QStringList {};
        QTest::newRow("already fired") << -10 << true << true << true << false << true << QStringList {};
    }
    void whenAMeetingStarts()
    {
        QFETCH(int, startOffset);
        QFETCH(bool, hasStart);
        QFETCH(bool, enabled);
        QFETCH(bool, alreadyFired);
        QFETCH(bool, records);
        QFETCH(bool, firedAfter);
        QFETCH(QStringList, notices);
        Meeting* meeting = scheduled(QStringLiteral("Design review"),
            hasStart ? std::optional(m_clock.now().addSecs(startOffset)) : std::nullopt, enabled, alreadyFired);

        m_scheduler->start(context()); // checks at once
        QCOMPARE(m_session->session.isRecording(), records);
        if (records)
            QCOMPARE(m_session->session.meeting(), meeting);
        QCOMPARE(meeting->autoStartFired(), firedAfter);
        QVERIFY(!context().hasChanges());
        QCOMPARE(this->notices(), notices);
    }

    // Of two meetings due at once the earlier records, whatever the store's order; the other
    // is told about the running one.
    void twoDueAtOnce()
    {
        Meeting* later = scheduled(QStringLiteral("Budget"), m_clock.now().addSecs(-5));
        Meeting* earlier = scheduled(QStringLiteral("Standup"), m_clock.now().addSecs(-10));
        m_scheduler->start(context());
        QCOMPARE(m_session->session.meeting(), earlier);
        QVERIFY(later->autoStartFired());
        QCOMPARE(notices(),
            (QStringList { "Recording started: Recording started for \u201CStandup\u201D.",
                "Couldn't auto-start recording: Another recording was already running when \u201C"
                "Budget\u201D was scheduled to start." }));
    }

    void refusedStart_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("body");
        // Without credentials the session says why; while the microphone question is still
        // open it has nothing to say yet.
        QTest::newRow("no credentials")
            << false << "Sign in to start transcribing \u2014 or add your own Tessra key in Settings";
        QTest::newRow("no reason given") << true << "Open Quillet to see what's missing.";
    }
    void refusedStart()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, body);
        if (!signedIn)
            m_session->credentials.reset();
        else
            m_session->permission.setStatus(MicrophonePermission::Status::NotDetermined);
        m_session->permission.setAnswer(false);
        Meeting* meeting = scheduled(QStringLiteral("Design review"), m_clock.now());
        m_scheduler->start(context());
        QVERIFY(!m_session->session.isRecording());
        QVERIFY(meeting->autoStartFired());
        QCOMPARE(notices(), QStringList { kCouldNot + QStringLiteral(": ") + body });
    }

    // A second start neither checks at once nor makes a timer of its own; it only hands over
    // the context the next check reads.
    void secondStartOnlyReplacesTheContext()
    {
        TempStore empty;
        m_scheduler->start(empty.context());
        Meeting* meeting = scheduled(QStringLiteral("Design review"), m_clock.now());
        m_scheduler->start(context());
        QVERIFY(!meeting->autoStartFired());
        QTRY_VERIFY(m_session->session.isRecording());
        QCOMPARE(m_session->session.meeting(), meeting);
        QCOMPARE(notices(), QStringList { "Recording started: Recording started for \u201CDesign review\u201D." });
    }

    // Started by hand a minute early: at its start the meeting is already recording, which is
    // no reason to tell the user anything.
    void startedEarlyByTheUser()
    {
        Meeting* meeting = scheduled(QStringLiteral("Design review"), at(10, 0));
        m_scheduler->start(context());
        m_session->session.startRecording(context(), meeting);
        QVERIFY(m_session->session.isRecording());
        m_clock.set(at(10, 0));
        QTRY_VERIFY(meeting->autoStartFired());
        QCOMPARE(m_session->session.meeting(), meeting);
        QCOMPARE(notices(), QStringList {});
    }

    // The event moves from 10:00 to 14:00 after its meeting was made: the recording follows it.
    void followsAMovedEvent()
    {
        CalendarWeek week(m_clock);
        QObject::connect(&week.service, &CalendarService::eventsChanged, &week.service,
            [&] { MeetingFactory::syncTitles(week.service, context()); });
        CalendarService::EventInfo event = CalendarWeek::event("work/standup", "Standup", at(10, 0));
        QVERIFY(week.publish({ event }));
        Meeting* meeting = MeetingFactory::noteForEvent(event, context());
        meeting->setAutoStartEnabled(true);
        context().save();
        event.startDate = at(14, 0);
        event.endDate = at(14, 30);
        QVERIFY(week.publish({ event }));

        m_scheduler->start(context());
        // Found late by the next check, which therefore runs after 10:00.
        Meeting* witness = scheduled(QStringLiteral("Witness"), at(9, 0));
        m_clock.set(at(10, 0, 30));
        QTRY_VERIFY(witness->autoStartFired());
        QVERIFY(!meeting->autoStartFired());
        QVERIFY(!m_session->session.isRecording());

        m_clock.set(at(14, 0, 10));
        QTRY_VERIFY(m_session->session.isRecording());
        QCOMPARE(m_session->session.meeting(), meeting);
        QCOMPARE(notices(), QStringList { "Recording started: Recording started for \u201CStandup\u201D." });
    }
};

QUILLET_TEST_MAIN(TestAutoStart)
#include "TestAutoStart.moc"
