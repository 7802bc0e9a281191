#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/SessionRig.h"
#include "support/SpokenSentence.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "ui/window/MainWindow.h"
#include "ui/window/RecordingControlView.h"
#include "ui/workspace/LiveMeetingPage.h"
#include "ui/workspace/SummaryMarkdown.h"
#include "ui/workspace/TranscriptFeedView.h"

namespace {

QList<float> silence(double seconds)
{
    return QList<float>(qsizetype(seconds * 24000), 0.0f);
}

// Plays samples (24 kHz) into a sink of the test sound server and waits until they have gone.
bool playInto(const QString& sink, const QList<float>& samples, const QString& folder)
{
    const QString track = folder + QStringLiteral("/track.raw");
    if (!SpokenAudio::writeRaw(track, samples))
        return false;
    const auto player = SpokenAudio::startPlaying(track, sink);
    if (!player)
        return false;
    QSignalSpy done(player.get(), &QProcess::finished);
    return done.wait(kLongWaitMs) && player->exitCode() == 0;
}

template <typename Widget> Widget* shownPart(const QWidget& root, const char* name)
{
    for (Widget* widget : root.findChildren<Widget*>(QString::fromLatin1(name)))
        if (widget->isVisibleTo(&root))
            return widget;
    return nullptr;
}

} // namespace

// The workspace of a recording meeting in the real main window: the far side's speech, played
// into the test sound server, reaches the live face as the other side's bubbles; after Stop the
// face waits for the notes, then shows them.
class TestLiveWorkspace final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void speechBecomesBubblesThenNotes()
    {
        AppRig rig { { .capture = true } };
        FakeProvider provider { rig.provider };
        rig->account().setByoKey(QString::fromLatin1(kToken));
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        QTemporaryDir folder;
        const QString first = QStringLiteral("Good morning everyone.");
        const QString second = QStringLiteral("The new release ships on Thursday after the final security review.");
        const auto a = SpokenAudio::sentence(first, folder.path());
        const auto b = SpokenAudio::sentence(second, folder.path());
        QVERIFY2(a && b, "espeak-ng is needed");
        provider.setSentences({ { first, a->size() / 24000.0 }, { second, b->size() / 24000.0 } });
        // The notes are held back until the test has seen the face wait for them.
        provider.closeGate(QStringLiteral("Thursday"));

        MainWindow window(rig->windowServices());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        rig->session().startRecording(rig->store());
        Meeting* meeting = rig->session().meeting();
        QVERIFY(meeting);
        provider.expectRecordingId(meeting->id());

        // Recording selects the meeting: its live page is shown, listening.
        QTRY_VERIFY(window.findChild<LiveMeetingPage*>());
        TranscriptFeedView* feed = nullptr;
        QTRY_VERIFY((feed = shownPart<TranscriptFeedView>(window, "transcriptFeed")));
        QCOMPARE(feed->bubbleCount(), 0);

        // Two sentences 2 s apart: more than a bubble's join gap, so two bubbles.
        QList<float> farSide = silence(0.5) + *a + silence(2.0) + *b + silence(1.5);
        QString track = folder.filePath(QStringLiteral("far.raw"));
        QVERIFY(SpokenAudio::writeRaw(track, farSide));
        const auto player = SpokenAudio::startPlaying(track, QStringLiteral("spk"));
        QVERIFY(player);
        QTRY_VERIFY_WITH_TIMEOUT(feed->bubbleCount() == 2, kLongWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(player->state() == QProcess::NotRunning, kLongWaitMs);
        QCOMPARE(feed->bubbleText(0).trimmed(), first);
        QCOMPARE(feed->bubbleText(1).trimmed(), second);
        QVERIFY(!feed->bubbleIsMine(0) && !feed->bubbleIsMine(1));
        QCOMPARE(SessionRig::texts(*meeting),
            (QStringList { QStringLiteral("Them: ") + first, QStringLiteral("Them: ") + second }));

        // Stop: the face turns to the notes and waits while the provider holds them.
        rig->session().stopRecording();
        QWidget* generating = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((generating = shownPart<QWidget>(window, "generatingState")), kLongWaitMs);
        QVERIFY(ViewProbe::label(*generating, QStringLiteral("Writing your notes…")));
        QVERIFY(!shownPart<SummaryMarkdown>(window, "summary"));

        provider.openGate(QStringLiteral("Thursday"));
        SummaryMarkdown* summary = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((summary = shownPart<SummaryMarkdown>(window, "summary")), kLongWaitMs);
        QCOMPARE(summary->markdown(), FakeProvider::summaryAnswer());
        QCOMPARE(summary->blocks().size(), 2);
        QVERIFY(!shownPart<QWidget>(window, "generatingState"));
        QVERIFY2(provider.violations().isEmpty(), qPrintable(provider.violations().join(QStringLiteral("; "))));
    }

    // The service fails the microphone's utterances: the bar and the live pane say so in words
    // until text flows again, and the finished meeting says that part of its audio has no text.
    void transcriptionFailureIsShownInWords()
    {
        AppRig rig { { .capture = true } };
        FakeProvider provider { rig.provider };
        rig->account().setByoKey(QString::fromLatin1(kToken));
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        provider.setTranscriptionStatus(503);
        QTemporaryDir folder;

        MainWindow window(rig->windowServices());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        rig->session().startRecording(rig->store());
        Meeting* meeting = rig->session().meeting();
        QVERIFY(meeting);
        TranscriptFeedView* feed = nullptr;
        QTRY_VERIFY((feed = shownPart<TranscriptFeedView>(window, "transcriptFeed")));
        QCOMPARE(feed->listeningRowText(), QStringLiteral("Listening…"));
        auto* bar = window.findChild<RecordingControlView*>();
        QVERIFY(bar);

        QVERIFY(playInto(QStringLiteral("micsink"), SessionRig::utterance(), folder.path()));
        QTRY_COMPARE_WITH_TIMEOUT(
            feed->listeningRowText(), QStringLiteral("Not transcribing: provider is down"), kLongWaitMs);
        QCOMPARE(bar->caption(), QStringLiteral("provider is down"));

        // Text flows again: the pane is listening and the bar is clear.
        provider.setTranscriptionStatus(200);
        QVERIFY(playInto(QStringLiteral("micsink"), SessionRig::utterance(), folder.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!meeting->segments().isEmpty(), kLongWaitMs);
        QTRY_COMPARE(feed->listeningRowText(), QStringLiteral("Listening…"));
        QCOMPARE(bar->caption(), QString());

        rig->session().stopRecording();
        QLabel* notice = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((notice = shownPart<QLabel>(window, "transcriptionNotice")), kLongWaitMs);
        QCOMPARE(notice->text(), QStringLiteral("Part of the audio was not transcribed. provider is down"));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestLiveWorkspace)
#include "TestLiveWorkspace.moc"
