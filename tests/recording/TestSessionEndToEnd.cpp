#include "platform/Log.h"
#include "support/SessionRig.h"
#include "support/SpokenSentence.h"
#include "support/TestMain.h"
#include "transcription/LiveDraftRecognizer.h"

#include <QElapsedTimer>

namespace {

struct Spoken
{
    QString text;
    QList<float> samples; // 24 kHz, trimmed to the audible part
};

std::optional<Spoken> speak(const QString& text, const QString& folder)
{
    auto samples = SpokenAudio::sentence(text, folder);
    if (!samples)
        return std::nullopt;
    return Spoken { text, std::move(*samples) };
}

// Lays `samples` into `track` from `atSeconds` on, scaled, growing the track as needed.
void place(QList<float>& track, const QList<float>& samples, double atSeconds, float gain = 1.0f)
{
    const qsizetype at = qsizetype(atSeconds * 24000);
    if (track.size() < at + samples.size())
        track.resize(at + samples.size(), 0.0f);
    for (qsizetype i = 0; i < samples.size(); ++i)
        track[at + i] += samples[i] * gain;
}

double seconds(const QList<float>& samples)
{
    return double(samples.size()) / 24000.0;
}

} // namespace

class TestSessionEndToEnd final : public QObject
{
    Q_OBJECT

private slots:
    // The far side says A and B, the user says C, and the microphone also hears A from the
    // loudspeakers 200 ms later and 6 dB quieter.
    void recordsTranscribesSummarisesAndArchivesATwoSidedCall()
    {
        SessionRig rig;
        // Finalising well before this shows the wait ended because the uploads did.
        rig.session.setDrainLimit(std::chrono::minutes(10));
        const auto a = speak(QStringLiteral("Good morning everyone."), rig.dir.path());
        const auto b = speak(
            QStringLiteral("The new release ships on Thursday after the final security review."), rig.dir.path());
        const auto c = speak(QStringLiteral("I will send the notes to the team tonight."), rig.dir.path());
        QVERIFY2(a && b && c, "espeak-ng is needed");
        rig.provider.setSentences(
            { { a->text, seconds(a->samples) }, { b->text, seconds(b->samples) }, { c->text, seconds(c->samples) } });

        const double aAt = 0.5;
        const double bAt = aAt + seconds(a->samples) + 2.0;
        const double cAt = bAt + seconds(b->samples) + 2.5;
        QList<float> farSide;
        place(farSide, a->samples, aAt);
        place(farSide, b->samples, bAt);
        place(farSide, QList<float>(36000, 0.0f), seconds(farSide));
        QList<float> microphone;
        place(microphone, a->samples, aAt + 0.2, 0.5f);
        place(microphone, c->samples, cAt);
        place(microphone, QList<float>(36000, 0.0f), seconds(microphone));

        // Written before the start, so that the players follow it closely even when the disk is
        // busy.
        const QString farTrack = rig.writeRaw(farSide);
        const QString micTrack = rig.writeRaw(microphone);
        QVERIFY(!farTrack.isEmpty() && !micTrack.isEmpty());
        LogCapture log;
        QSignalSpy summaryDone(&rig.session, &TranscriptionSession::summaryFinished);
        QElapsedTimer sinceStart;
        sinceStart.start();
        Meeting* meeting = rig.start();
        QVERIFY(meeting);
        QVERIFY(rig.session.systemAudioActive());
        const auto farPlayer = SpokenAudio::startPlaying(farTrack, QStringLiteral("spk"));
        const auto micPlayer = SpokenAudio::startPlaying(micTrack, QStringLiteral("micsink"));
        QVERIFY(farPlayer && micPlayer);
        QTRY_VERIFY_WITH_TIMEOUT(
            farPlayer->state() == QProcess::NotRunning && micPlayer->state() == QProcess::NotRunning, kLongWaitMs);
        const double playedBy = double(sinceStart.elapsed()) / 1000.0;
        QVERIFY(rig.stopAndFinalize());

        QVERIFY2(rig.provider.violations().isEmpty(), qPrintable(rig.provider.violations().join(QStringLiteral("; "))));
        QCOMPARE(SessionRig::texts(*meeting),
            (QStringList { QStringLiteral("Them: ") + a->text, QStringLiteral("Them: ") + b->text,
                QStringLiteral("Me: ") + c->text }));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Echo dropped: ") + a->text)
            || log.contains(QStringLiteral("[Quillet] Echo replaced: ") + a->text));
        // Times count from the recording's start: A, half a second into the far side's track,
        // lies between then and the end of the playing, however late a busy machine started
        // the player. A and B come through one stream, so their distance is counted in samples
        // and holds on any machine. C comes through the other stream from a player of its own,
        // which also starts whenever the machine gets round to it: C is checked to come after B
        // has ended (it is spoken 2.5 s later), not at a distance.
        const auto segments = meeting->sortedSegments();
        const double start = segments.at(0)->timestamp();
        QVERIFY2(start > 0.2 && start < playedBy,
            qPrintable(QStringLiteral("A at %1, players done after %2 s").arg(start).arg(playedBy)));
        const double bStart = segments.at(1)->timestamp();
        QVERIFY2(std::abs(bStart - start - (bAt - aAt)) < 0.7, qPrintable(QString::number(bStart)));
        QVERIFY2(segments.at(2)->timestamp() > bStart + seconds(b->samples),
            qPrintable(QStringLiteral("C at %1, B from %2 for %3 s")
                           .arg(segments.at(2)->timestamp())
                           .arg(bStart)
                           .arg(seconds(b->samples))));
        for (const TranscriptSegment* segment : segments)
            QVERIFY(segment->isFinal());

        QVERIFY(!meeting->isRecording());
        QVERIFY(meeting->duration() > seconds(microphone));
        QVERIFY(summaryDone.wait(kLongWaitMs));
        QCOMPARE(meeting->title(), QStringLiteral("Quarterly Numbers Review"));
        QCOMPARE(meeting->summary().value_or(QString()), FakeProvider::summaryAnswer());
        QVERIFY(log.contains(QStringLiteral("[Quillet] Summary generated: Quarterly Numbers Review")));
        const QString archived = rig.archivedText(FakeProvider::summaryAnswer());
        QVERIFY(archived.contains(b->text));

        // What the store file holds, read back from scratch.
        const QUuid id = meeting->id();
        Meeting* stored = rig.store.reopen().meetingById(id);
        QVERIFY(stored);
        QCOMPARE(SessionRig::texts(*stored).size(), 3);
        QCOMPARE(stored->title(), QStringLiteral("Quarterly Numbers Review"));
        QVERIFY(!stored->isRecording());
    }

    void liveDraftShowsRecordedSpeechAndClearsAtStop()
    {
        SessionRig rig;
        rig.settings.set(SettingsKeys::liveDraftEnabled, true);
        rig.provider.setTranscript(QStringLiteral("go forward ten meters"));
        QStringList drafts;
        connect(&rig.session, &TranscriptionSession::liveDraftChanged, &rig.session,
            [&] { drafts << rig.session.liveDraft(); });
        LogCapture log;
        QVERIFY(rig.start());
        // The recogniser's model takes a while to load, and its thread to end, on a busy machine.
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("[Quillet] Live draft running on-device")), kLongWaitMs);

        // Real recorded speech (16 kHz s16le): the recogniser does poorly on synthetic voices.
        const auto player = SpokenAudio::startPlaying(
            QStringLiteral("/usr/share/pocketsphinx/test/data/goforward.raw"), QStringLiteral("micsink"), 16000);
        QVERIFY(player);
        QTRY_VERIFY_WITH_TIMEOUT(drafts.filter(QStringLiteral("forward")).size() > 0, kLongWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(player->state() == QProcess::NotRunning, kLongWaitMs);

        QVERIFY(rig.stopAndFinalize());
        QCOMPARE(rig.session.liveDraft(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(LiveDraftRecognizer::decodingThreadCount(), 0, kLongWaitMs);
    }
};

QUILLET_TEST_MAIN(TestSessionEndToEnd)
#include "TestSessionEndToEnd.moc"
