#include "app/AppState.h"
#include "app/RecordingController.h"
#include "format/TimeText.h"
#include "platform/Log.h"
#include "support/AccessibleTree.h"
#include "support/FakeScheduler.h"
#include "support/RecordingUrlOpener.h"
#include "support/SessionRig.h"
#include "support/TestMain.h"
#include "ui/design/PillButton.h"
#include "ui/design/ToneLabel.h"
#include "ui/window/RecordingControlView.h"
#include "ui/window/WaveformIndicator.h"

#include <QLabel>
#include <QTcpServer>
#include <cmath>

using namespace std::chrono_literals;
using Face = RecordingControlView::Face;

namespace {

const QString kSignInFirst
    = QStringLiteral("Sign in to start transcribing \u2014 or add your own Tessra key in Settings");

// The bar on a real session, which it reads through the recording controller, started and
// stopped by its own buttons like the main window's.
struct BarRig
{
    BarRig()
        : bar(recordings,
            { [this] { rig.start(); }, [this] { rig.session.stopRecording(); },
                [this] { rig.session.pauseRecording(); }, [this] { rig.session.resumeRecording(); } },
            RecordingControlView::Options { &scheduler, 1000ms })
    {
        bar.resize(640, 60);
        bar.show();
    }
    ~BarRig()
    {
        if (rig.session.isRecording())
            rig.stopAndFinalize();
    }

    SessionRig rig;
    AppState appState { rig.session };
    RecordingUrlOpener opener;
    RecordingController recordings { { rig.context(), rig.session, appState, opener } };
    FakeScheduler scheduler;
    RecordingControlView bar;
};

} // namespace

class TestRecordingControls final : public QObject
{
    Q_OBJECT

private slots:
    void facesFollowTheSession()
    {
        BarRig b;
        SessionRig& rig = b.rig;
        // Each change is said once, as it happens.
        AccessibleTree::EventSpy events;
        QStringList said;
        QCOMPARE(b.bar.face(), Face::idle);
        QVERIFY(b.bar.startButton()->isVisible());
        QCOMPARE(b.bar.caption(), QString());

        // Idle with an error: the session's text as the caption.
        rig.credentials.reset();
        b.bar.startButton()->click();
        QCOMPARE(b.bar.face(), Face::idle);
        QCOMPARE(b.bar.caption(), kSignInFirst);
        said << kSignInFirst;
        QTRY_COMPARE(events.announcements(), said);
        rig.credentials = rig.provider.credentials();

        // Recording, with the system audio of the test sound server.
        rig.provider.closeGate(QStringLiteral("numbers"));
        b.bar.startButton()->click();
        QCOMPARE(b.bar.face(), Face::recording);
        QCOMPARE(b.bar.caption(), QString()); // a successful start clears the error
        QVERIFY(b.bar.systemAudioMark()->isVisible());
        QCOMPARE(b.bar.systemAudioMark()->toolTip(), QStringLiteral("Capturing system audio"));
        QCOMPARE(b.bar.pauseButton()->text(), QStringLiteral("Pause"));
        said << QStringLiteral("Recording started.");
        QTRY_COMPARE(events.announcements(), said);

        // Paused: grey, low bars, secondary time, "Resume", no system-audio mark.
        b.bar.pauseButton()->click();
        QVERIFY(rig.session.isPaused());
        QCOMPARE(b.bar.pauseButton()->text(), QStringLiteral("Resume"));
        QVERIFY(!b.bar.systemAudioMark()->isVisible());
        QVERIFY(b.bar.meter()->isPaused());
        QCOMPARE(b.bar.meter()->targetHeights(), WaveformIndicator::Heights({ 3, 3, 3, 3 }));
        QCOMPARE(static_cast<ToneLabel*>(b.bar.timeLabel())->tone(), Quillet::Tone::secondary);
        said << QStringLiteral("Recording paused.");
        QTRY_COMPARE(events.announcements(), said);
        b.bar.pauseButton()->click();
        QVERIFY(!rig.session.isPaused());
        said << QStringLiteral("Recording resumed.");
        QTRY_COMPARE(events.announcements(), said);
        QCOMPARE(static_cast<ToneLabel*>(b.bar.timeLabel())->tone(), Quillet::Tone::primary);

        // Something said, then Stop: the writing face while the summary is held back.
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.session.meeting()->segments().isEmpty(), kLongWaitMs);
        QSignalSpy finalized(&rig.session, &TranscriptionSession::recordingFinalized);
        b.bar.stopButton()->click();
        QVERIFY(finalized.wait(kLongWaitMs));
        QTRY_COMPARE(b.bar.face(), Face::writing);
        QCOMPARE(b.bar.timeLabel()->text(), QStringLiteral("0:00"));
        said << QStringLiteral("Recording stopped.");
        QTRY_COMPARE(events.announcements(), said);

        // A new recording while that summary is still written: the recording face wins.
        b.bar.startButton()->click();
        QVERIFY(rig.session.isGeneratingSummary());
        QCOMPARE(b.bar.face(), Face::recording);
        QVERIFY(rig.stopAndFinalize());
        QCOMPARE(b.bar.face(), Face::writing);

        rig.provider.openGate(QStringLiteral("numbers"));
        QTRY_COMPARE_WITH_TIMEOUT(b.bar.face(), Face::idle, kLongWaitMs);
        // A start and a stop before the focus rests are said together.
        said << QStringLiteral("Recording started.") << QStringLiteral("Recording stopped.");
        QTRY_COMPARE(events.announcements().join(u' '), said.join(u' '));
    }

    // Started from a page that shows no bar (Settings): said all the same, as is its error.
    void saidWhileTheBarIsOutOfSight()
    {
        QWidget window;
        BarRig b;
        b.bar.setParent(&window);
        b.bar.hide();
        window.show();
        QVERIFY(!b.bar.isVisible());
        AccessibleTree::EventSpy events;
        b.rig.credentials.reset();
        b.bar.startButton()->click();
        QTRY_COMPARE(events.announcements(), QStringList { kSignInFirst });
        b.rig.credentials = b.rig.provider.credentials();
        b.bar.startButton()->click();
        QTRY_COMPARE(events.announcements(), (QStringList { kSignInFirst, QStringLiteral("Recording started.") }));
    }

    // No answer from the service: the bar says so in words, the log keeps the network's own.
    void transportFailureInWords()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close(); // nothing listens there now: the connection is refused
        BarRig b;
        SessionRig& rig = b.rig;
        rig.credentials->baseUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        LogCapture log;
        b.bar.startButton()->click();
        QCOMPARE(b.bar.face(), Face::recording);
        const QUuid meetingId = rig.session.meeting()->id();
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));

        const QString sentence = QStringLiteral("The service could not be reached.");
        QTRY_COMPARE_WITH_TIMEOUT(b.bar.caption(), sentence, kLongWaitMs);
        QVERIFY2(log.containsPart(QStringLiteral("[Quillet] Tessra transcription failed: Connection refused")),
            qPrintable(log.lines().join(QLatin1Char('\n'))));
        QVERIFY(log.containsPart(QStringLiteral("[Quillet] Me transcriber error: Connection refused")));

        // The meeting is kept, and the session remembers why its audio has no text.
        QVERIFY(rig.stopAndFinalize());
        QCOMPARE(rig.session.transcriptionFailure(meetingId), sentence);
        QVERIFY(rig.context().meetingById(meetingId));
    }

    // The counter follows starts and stops made anywhere, and skips the ticks that fall while
    // the recording is paused.
    void counterFollowsTheSession()
    {
        BarRig b;
        SessionRig& rig = b.rig;
        rig.start(); // not through the bar: as the tray or the toolbar would
        QCOMPARE(b.bar.timeLabel()->text(), QStringLiteral("0:00"));
        b.scheduler.advance(1000ms);
        QCOMPARE(b.bar.timeLabel()->text(), QStringLiteral("0:01"));
        rig.session.pauseRecording();
        b.scheduler.advance(2000ms);
        QCOMPARE(b.bar.elapsed(), 1.0);
        rig.session.resumeRecording();
        b.scheduler.advance(1000ms);
        QCOMPARE(b.bar.timeLabel()->text(), QStringLiteral("0:02"));

        // Hidden (another page, a window in the tray) it keeps counting.
        b.bar.hide();
        b.scheduler.advance(3000ms);
        b.bar.show();
        QCOMPARE(b.bar.timeLabel()->text(), QStringLiteral("0:05"));

        QVERIFY(rig.stopAndFinalize());
        QCOMPARE(b.bar.elapsed(), 0.0);
        b.scheduler.advance(5000ms);
        QCOMPARE(b.bar.elapsed(), 0.0);

        // A new recording counts from 0 again, with one tick a second.
        rig.start();
        b.scheduler.advance(2000ms);
        QCOMPARE(b.bar.timeLabel()->text(), QStringLiteral("0:02"));
    }

    void meterHeights_data()
    {
        QTest::addColumn<float>("level");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<WaveformIndicator::Heights>("heights");
        QTest::newRow("full") << 1.0f << false << WaveformIndicator::Heights { 10.8, 16, 13.4, 9.5 };
        QTest::newRow("half") << 0.5f << false << WaveformIndicator::Heights { 6.9, 9.5, 8.2, 6.25 };
        QTest::newRow("silent") << 0.0f << false << WaveformIndicator::Heights { 3, 3, 3, 3 };
        QTest::newRow("paused") << 1.0f << true << WaveformIndicator::Heights { 3, 3, 3, 3 };
        QTest::newRow("over full") << 2.0f << false << WaveformIndicator::Heights { 16, 16, 16, 16 };
    }

    void meterHeights()
    {
        QFETCH(float, level);
        QFETCH(bool, paused);
        QFETCH(WaveformIndicator::Heights, heights);
        WaveformIndicator meter;
        meter.show();
        meter.setLevel(level, paused);
        for (int i = 0; i < WaveformIndicator::kBarCount; ++i)
            QVERIFY2(std::abs(meter.targetHeights()[i] - heights[i]) < 1e-9, qPrintable(QString::number(i)));
        // Shown, it gets there over its animation.
        QTRY_COMPARE(meter.heights(), meter.targetHeights());
        QCOMPARE(meter.sizeHint(), QSize(18, 16));
    }

    void elapsedText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("elapsed");
        QTest::addColumn<QString>("minutes");
        QTest::newRow("zero") << 0.0 << "0:00"
                              << "0:00";
        QTest::newRow("fraction dropped") << 59.9 << "0:59"
                                          << "0:59";
        QTest::newRow("minute") << 61.0 << "1:01"
                                << "1:01";
        QTest::newRow("last before hour") << 3599.0 << "59:59"
                                          << "59:59";
        QTest::newRow("hour") << 3600.0 << "1:00:00"
                              << "60:00";
        QTest::newRow("hour and more") << 3725.0 << "1:02:05"
                                       << "62:05";
        QTest::newRow("negative") << -3.0 << "0:00"
                                  << "0:00";
        QTest::newRow("not a number") << std::nan("") << ""
                                      << "";
        QTest::newRow("too large") << 1e300 << ""
                                   << "";
    }

    void elapsedText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, elapsed);
        QFETCH(QString, minutes);
        QCOMPARE(formatElapsed(seconds), elapsed);
        QCOMPARE(formatElapsedMinutes(seconds), minutes);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestRecordingControls)
#include "TestRecordingControls.moc"
