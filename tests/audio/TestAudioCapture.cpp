// Capture through the test sound server: "spk" is the default sink (the far side of a call),
// "vmic", the default source, hears whatever plays into "micsink" (the user's voice).

#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"
#include "platform/CueGate.h"
#include "platform/Log.h"
#include "support/SpokenAudio.h"
#include "support/TestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <atomic>
#include <mutex>

namespace {

// Gathers what capture threads deliver: raw samples, or a chunker's chunks (counted, with the
// samples they carry; the main thread's final flush calls it too).
class Collector final
{
public:
    AudioSamplesCallback callback()
    {
        return [this](const AudioSamples& samples) {
            std::lock_guard lock(m_mutex);
            m_samples += samples;
            m_count += samples.size();
        };
    }
    AudioChunker::ChunkCallback chunkCallback()
    {
        return [this](const QString& chunk) {
            const qsizetype bytes = QByteArray::fromBase64(chunk.toLatin1()).size();
            std::lock_guard lock(m_mutex);
            ++m_chunks;
            m_count += bytes / 2;
        };
    }
    AudioSamples samples() const
    {
        std::lock_guard lock(m_mutex);
        return m_samples;
    }
    qsizetype count() const { return m_count.load(); }
    int chunks() const { return m_chunks.load(); }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_samples.clear();
        m_count = 0;
    }

private:
    mutable std::mutex m_mutex;
    AudioSamples m_samples;
    std::atomic<qsizetype> m_count { 0 };
    std::atomic<int> m_chunks { 0 };
};

// The tests that hold for either recorder take a row naming one.
struct AnyRecorder
{
    explicit AnyRecorder(const QString& which)
    {
        if (which == QLatin1String("mic"))
            mic = std::make_unique<MicRecorder>();
        else
            system = std::make_unique<SystemAudioRecorder>();
    }
    bool start() { return mic ? !mic->start().has_value() : !system->start().has_value(); }
    void stop() { mic ? mic->stop() : system->stop(); }
    AudioRecorder* recorder() { return mic ? static_cast<AudioRecorder*>(mic.get()) : system.get(); }

    std::unique_ptr<MicRecorder> mic;
    std::unique_ptr<SystemAudioRecorder> system;
};

constexpr qsizetype kHalfSecond = kAudioSampleRate / 2;

} // namespace

class TestAudioCapture final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SpokenAudio::Clip m_clip;
    QString m_clipPath;

    // Plays the clip into `sink` while `collector` gathers, and waits for half a second of
    // audio behind it so that the clip's tail has come through.
    void playAndDrain(const QString& sink, const Collector& collector)
    {
        QVERIFY(SpokenAudio::play(m_clipPath, sink));
        const qsizetype atEnd = collector.count();
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() >= atEnd + kHalfSecond, 10000);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_ENV"))
            QSKIP("needs the test sound server: run under scripts/with-test-env");
        QVERIFY(SpokenAudio::hasTool(QStringLiteral("espeak-ng")));
        QVERIFY(SpokenAudio::hasTool(QStringLiteral("paplay")));
        m_clipPath = m_dir.filePath(QStringLiteral("sentence.wav"));
        const auto clip = SpokenAudio::speak(
            QStringLiteral("The quarterly numbers look good. Let us meet again next Tuesday, at ten."), m_clipPath);
        QVERIFY(clip.has_value());
        m_clip = *clip;
        QVERIFY(m_clip.seconds() > 2.0);
        CueGate::reset();
    }

    void spokenClipComesBackIntact_data()
    {
        QTest::addColumn<QString>("recorder");
        QTest::addColumn<QString>("sink");
        QTest::newRow("system audio") << QStringLiteral("system") << QStringLiteral("spk");
        QTest::newRow("microphone") << QStringLiteral("mic") << QStringLiteral("micsink");
    }
    void spokenClipComesBackIntact()
    {
        QFETCH(QString, recorder);
        QFETCH(QString, sink);
        Collector collector; // outlives the capture that feeds it
        AnyRecorder capture(recorder);
        capture.recorder()->setOnAudioChunk(collector.callback());
        QSignalSpy levels(capture.recorder(), &AudioRecorder::audioLevelChanged);
        QVERIFY(capture.start());
        playAndDrain(sink, collector);
        capture.stop();

        const AudioSamples captured = collector.samples();
        const double clipSpan = SpokenAudio::soundSpanSeconds(m_clip.samples, m_clip.sampleRate);
        const double capturedSpan = SpokenAudio::soundSpanSeconds(captured, kAudioSampleRate);
        QVERIFY2(std::abs(capturedSpan - clipSpan) <= 0.02 * clipSpan,
            qPrintable(QStringLiteral("sound lasted %1 s, clip %2 s").arg(capturedSpan).arg(clipSpan)));

        const auto clipSteps = SpokenAudio::rmsStepsDb(
            m_clip.samples, m_clip.sampleRate, 100, SpokenAudio::soundSpan(m_clip.samples).first);
        auto capturedSteps
            = SpokenAudio::rmsStepsDb(captured, kAudioSampleRate, 100, SpokenAudio::soundSpan(captured).first);
        capturedSteps.resize(std::min(capturedSteps.size(), clipSteps.size()));
        const double agreement = SpokenAudio::patternAgreement(
            SpokenAudio::soundPattern(clipSteps), SpokenAudio::soundPattern(capturedSteps));
        qInfo("%s: sound %.3f s (clip %.3f s), pattern agreement %.2f", qPrintable(recorder), capturedSpan, clipSpan,
            agreement);
        QVERIFY2(agreement >= 0.9, qPrintable(QStringLiteral("speech pattern agreement %1").arg(agreement)));
        const double clipPeak = *std::max_element(clipSteps.begin(), clipSteps.end());
        const double capturedPeak = *std::max_element(capturedSteps.begin(), capturedSteps.end());
        QVERIFY2(std::abs(clipPeak - capturedPeak) < 3.0,
            qPrintable(QStringLiteral("loudest step %1 dB, clip %2 dB").arg(capturedPeak).arg(clipPeak)));

        // The meter moved while the sentence played, and rests at 0 once capture stopped.
        QTRY_VERIFY(!levels.isEmpty());
        QTRY_COMPARE(capture.recorder()->audioLevel(), 0.0f);
    }

    void noCallbackAfterStopOrReplacement_data()
    {
        QTest::addColumn<QString>("recorder");
        QTest::newRow("system audio") << "system";
        QTest::newRow("microphone") << "mic";
    }
    void noCallbackAfterStopOrReplacement()
    {
        QFETCH(QString, recorder);
        std::atomic<int> replacedCalls { 0 };
        std::atomic<int> calls { 0 };
        std::atomic<bool> inside { false };
        AnyRecorder capture(recorder);
        capture.recorder()->setOnAudioChunk([&](const AudioSamples&) { ++replacedCalls; });
        QVERIFY(capture.start());
        QTRY_VERIFY(replacedCalls.load() > 0);
        // Swapped while the capture thread calls it: once the setter returns, the old consumer
        // is not running and never runs again.
        capture.recorder()->setOnAudioChunk([&](const AudioSamples&) {
            inside = true;
            ++calls;
            inside = false;
        });
        const int atSwap = replacedCalls.load();
        for (int round = 0; round < 3; ++round) {
            const int before = calls.load();
            QVERIFY(round == 0 || capture.start());
            QTRY_VERIFY(calls.load() > before + 2);
            capture.stop();
            QVERIFY(!inside.load());
            const int atStop = calls.load();
            QTest::qWait(200);
            QCOMPARE(calls.load(), atStop);
        }
        QCOMPARE(replacedCalls.load(), atSwap);
    }

    void startStopManyTimes()
    {
        Collector collector;
        MicRecorder mic;
        SystemAudioRecorder system;
        mic.setOnAudioChunk(collector.callback());
        system.setOnAudioChunk(collector.callback());
        LogCapture log;
        for (int i = 0; i < 100; ++i) {
            const auto micError = mic.start();
            QVERIFY2(!micError, qPrintable(micError ? micError->description() : QString()));
            const auto systemError = system.start();
            QVERIFY2(!systemError, qPrintable(systemError ? systemError->description() : QString()));
            QVERIFY(!system.start().has_value()); // a second start while running does nothing
            QVERIFY(system.isRunning());
            system.stop();
            system.stop();
            mic.stop();
            QVERIFY(!system.isRunning());
        }
        QCOMPARE(log.lines().count(QStringLiteral("[Quillet] System audio capture stopped")), 100);
        // Starting again after all that still delivers audio.
        collector.clear();
        QVERIFY(!mic.start().has_value());
        QTRY_VERIFY(collector.count() > 0);
        mic.stop();
    }

    void mixerRunsOnMicrophoneAloneWithoutSystemAudio()
    {
        Collector micChunks;
        Collector systemChunks;
        MicRecorder mic;
        SystemAudioRecorder system;
        system.setSourceOverride(QStringLiteral("no-such-source.monitor"));
        DualStreamMixer mixer(mic, system);
        mixer.micChunker().setOnChunkReady(micChunks.chunkCallback());
        mixer.systemChunker().setOnChunkReady(systemChunks.chunkCallback());
        LogCapture log;

        const auto error = mixer.start();
        QVERIFY(!error.has_value());
        QVERIFY(mixer.isRunning());
        QVERIFY(!mixer.systemAudioAvailable());
        QVERIFY(!system.isRunning());
        QVERIFY(log.containsPart(
            QStringLiteral("[Quillet] System audio unavailable: Failed to create audio tap (status: ")));
        QVERIFY(log.containsPart(QStringLiteral("Running mic-only mode.")));
        QTRY_VERIFY(micChunks.chunks() > 2);

        mixer.pause();
        mixer.resume();
        mixer.stop();
        QVERIFY(!mixer.isRunning());
        QCOMPARE(systemChunks.chunks(), 0);
        QVERIFY(!log.contains(QStringLiteral("[Quillet] System audio capture stopped")));

        // The failed system start must not leave the mixer listening: the onboarding probe
        // starting the recorder on its own feeds no recording.
        system.setSourceOverride(QString());
        QVERIFY(!system.start().has_value());
        QTest::qWait(300);
        system.stop();
        QCOMPARE(systemChunks.chunks(), 0);
    }

    void noSoundServer()
    {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + m_dir.filePath(QStringLiteral("no-server")).toUtf8());
        MicRecorder mic;
        SystemAudioRecorder system;
        const auto micError = mic.start();
        const auto systemError = system.start();
        DualStreamMixer mixer(mic, system);
        const auto mixerError = mixer.start();
        qputenv("PULSE_SERVER", server);

        QVERIFY(micError.has_value());
        QCOMPARE(micError->kind, MicRecorderError::Kind::CaptureFailed);
        QVERIFY2(micError->description().startsWith(QLatin1String("Could not start the microphone: ")),
            qPrintable(micError->description()));
        QVERIFY(micError->status != 0);
        QVERIFY(!mic.isCapturing());
        QVERIFY(systemError.has_value());
        QCOMPARE(systemError->kind, SystemAudioError::Kind::TapCreationFailed);
        QVERIFY(systemError->status != 0);
        QVERIFY(!system.isRunning());
        QVERIFY(mixerError.has_value());
        QVERIFY(!mixer.isRunning());

        // The server is back: the same objects start normally.
        QVERIFY(!mixer.start().has_value());
        QVERIFY(mixer.systemAudioAvailable());
        mixer.stop();
    }

    // Paused, nothing reaches the chunkers or the observers; resumed, both get samples again,
    // and in the end every sample an observer saw went into a chunk (none lost on stop).
    void pauseAndResume()
    {
        Collector micChunks;
        Collector systemChunks;
        Collector micSeen;
        Collector systemSeen;
        MicRecorder mic;
        SystemAudioRecorder system;
        DualStreamMixer mixer(mic, system);
        mixer.micChunker().setOnChunkReady(micChunks.chunkCallback());
        mixer.systemChunker().setOnChunkReady(systemChunks.chunkCallback());
        mixer.setOnMicSamples(micSeen.callback());
        mixer.setOnSystemSamples(systemSeen.callback());

        QVERIFY(!mixer.start().has_value());
        QVERIFY(mixer.systemAudioAvailable());
        QTRY_VERIFY(micChunks.chunks() > 2 && systemChunks.chunks() > 2);

        mixer.pause();
        QVERIFY(mixer.isPaused());
        const int micAtPause = micChunks.chunks();
        const int systemAtPause = systemChunks.chunks();
        const qsizetype micSeenAtPause = micSeen.count();
        const qsizetype systemSeenAtPause = systemSeen.count();
        QTest::qWait(500);
        QCOMPARE(micChunks.chunks(), micAtPause);
        QCOMPARE(systemChunks.chunks(), systemAtPause);
        QCOMPARE(micSeen.count(), micSeenAtPause);
        QCOMPARE(systemSeen.count(), systemSeenAtPause);
        // Capture itself goes on while paused.
        QVERIFY(mic.isCapturing());
        QVERIFY(system.isRunning());

        mixer.resume();
        QTRY_VERIFY(micChunks.chunks() > micAtPause + 2 && systemChunks.chunks() > systemAtPause + 2);
        QTRY_VERIFY(micSeen.count() > micSeenAtPause && systemSeen.count() > systemSeenAtPause);

        mixer.stop();
        QVERIFY(!mixer.isRunning());
        QVERIFY(!mixer.isPaused());
        QCOMPARE(micChunks.count(), micSeen.count());
        QCOMPARE(systemChunks.count(), systemSeen.count());
    }

    // While a cue sounds the system stream carries zeros, but keeps its length; the
    // microphone is not affected.
    void cueGateZeroesSystemAudio()
    {
        Collector systemSamples;
        Collector micSamples;
        SystemAudioRecorder system;
        MicRecorder mic;
        system.setOnAudioChunk(systemSamples.callback());
        mic.setOnAudioChunk(micSamples.callback());
        QVERIFY(!system.start().has_value());
        QVERIFY(!mic.start().has_value());

        CueGate::notePlayback(10 * 60 * 1000);
        QVERIFY(SpokenAudio::play(m_clipPath, QStringLiteral("spk")));
        QVERIFY(SpokenAudio::play(m_clipPath, QStringLiteral("micsink")));
        const qsizetype atEnd = systemSamples.count();
        QTRY_VERIFY_WITH_TIMEOUT(systemSamples.count() >= atEnd + kHalfSecond, 10000);
        const AudioSamples gated = systemSamples.samples();
        QVERIFY(gated.size() >= qsizetype(2 * m_clip.seconds() * kAudioSampleRate));
        QCOMPARE(SpokenAudio::soundSpan(gated).first, qsizetype(-1));
        QVERIFY(SpokenAudio::soundSpan(micSamples.samples()).first >= 0);

        CueGate::reset();
        systemSamples.clear();
        playAndDrain(QStringLiteral("spk"), systemSamples);
        QVERIFY(SpokenAudio::soundSpan(systemSamples.samples()).first >= 0);
        system.stop();
        mic.stop();
    }

    void cleanupTestCase() { CueGate::reset(); }
};

QUILLET_TEST_MAIN(TestAudioCapture)
#include "TestAudioCapture.moc"
