#include "platform/CueGate.h"
#include "platform/pulse/PulseCuePlayer.h"
#include "support/TestMain.h"
#include "system/SoundFeedback.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QtEndian>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <pulse/simple.h>

namespace {

QList<qint16> samplesOf(const QByteArray& wav, int headerBytes = 44)
{
    QList<qint16> samples;
    for (int offset = headerBytes; offset + 1 < wav.size(); offset += 2)
        samples.append(qFromLittleEndian<qint16>(wav.constData() + offset));
    return samples;
}

// Records what the default sink plays, from its monitor.
class MonitorRecorder
{
public:
    MonitorRecorder()
    {
        const pa_sample_spec spec { PA_SAMPLE_S16LE, 44100, 1 };
        pa_buffer_attr attr {};
        attr.maxlength = uint32_t(-1);
        attr.fragsize = 441 * 2 * 2; // 20 ms
        m_stream = pa_simple_new(
            nullptr, "quillet-test", PA_STREAM_RECORD, "spk.monitor", "monitor", &spec, nullptr, &attr, nullptr);
    }
    ~MonitorRecorder()
    {
        if (m_stream)
            pa_simple_free(m_stream);
    }
    Q_DISABLE_COPY_MOVE(MonitorRecorder)

    bool isOpen() const { return m_stream != nullptr; }

    // Reads the given length of audio and returns its loudest sample's magnitude.
    int peakOver(int milliseconds)
    {
        QByteArray chunk(441 * 2, Qt::Uninitialized); // 10 ms
        int peak = 0;
        for (int read = 0; read < milliseconds; read += 10) {
            if (pa_simple_read(m_stream, chunk.data(), size_t(chunk.size()), nullptr) < 0)
                return -1;
            for (const qint16 sample : samplesOf(chunk, 0))
                peak = std::max(peak, std::abs(int(sample)));
        }
        return peak;
    }

    // Reads on until a sample louder than `loud` has come, or the given length of audio has
    // been read; returns the loudest sample's magnitude.
    int peakUntil(int loud, int milliseconds)
    {
        int peak = 0;
        for (int read = 0; read < milliseconds && peak <= loud; read += 10)
            peak = std::max(peak, peakOver(10));
        return peak;
    }

private:
    pa_simple* m_stream = nullptr;
};

} // namespace

class TestSoundFeedback final : public QObject
{
    Q_OBJECT

private slots:
    void cueHeadersAndSamples()
    {
        // RIFF, 36 + n, WAVE, "fmt " of 16 bytes: PCM, mono, 44100 Hz, 88200 B/s, 2, 16 bits; data, n.
        const QByteArray startWav = SoundFeedback::startCue();
        QCOMPARE(startWav.left(44).toHex(),
            QByteArray("524946467c29000057415645666d74201000000001000100"
                       "44ac000088580100020010006461746158290000"));
        const std::pair<QByteArray, quint32> cues[] = { { startWav, 10584 }, { SoundFeedback::stopCueFirst(), 8820 },
            { SoundFeedback::stopCueSecond(), 12348 } };
        for (const auto& [wav, dataBytes] : cues) {
            QCOMPARE(wav.size(), 44 + qsizetype(dataBytes));
            QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 4), 36 + dataBytes);
            QCOMPARE(wav.mid(8, 32), startWav.mid(8, 32));
            QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 40), dataBytes);
        }

        // Figures worked out by hand from the chord tables (sum of tones with 8 % and 3 %
        // harmonics, raised-cosine envelopes, linear pitch bend, truncation).
        const QList<qint16> start = samplesOf(SoundFeedback::startCue());
        // Fade-in: silent at first, the first non-zero sample is the seventh.
        QCOMPARE(start.mid(0, 12), (QList<qint16> { 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 4, 5 }));
        QCOMPARE(start[1323], qint16(-31061));
        QCOMPARE(start[2646], qint16(-19628));
        QCOMPARE(*std::max_element(start.begin(), start.end()), qint16(32631));
        QCOMPARE(*std::min_element(start.begin(), start.end()), qint16(-31061));

        // No fade-in: the stop chords start hard.
        const QList<qint16> stopFirst = samplesOf(SoundFeedback::stopCueFirst());
        QCOMPARE(stopFirst.mid(0, 5), (QList<qint16> { 0, 3346, 6634, 9807, 12816 }));
        QCOMPARE(*std::max_element(stopFirst.begin(), stopFirst.end()), qint16(29243));
        const QList<qint16> stopSecond = samplesOf(SoundFeedback::stopCueSecond());
        QCOMPARE(stopSecond.mid(0, 5), (QList<qint16> { 0, 2751, 5467, 8114, 10659 }));

        // The half-cosine fall brings every cue back to silence.
        for (const QList<qint16>& cue : { start, stopFirst, stopSecond })
            QCOMPARE(cue.mid(cue.size() - 5), (QList<qint16> { 0, 0, 0, 0, 0 }));
    }

    void loudChordClipsInsteadOfWrapping()
    {
        // 1102.5 Hz is 40 samples a period: sample 10 is the crest, sample 30 the trough, where
        // the chord reaches 1.94 times full scale.
        const QList<qint16> samples = samplesOf(SoundFeedback::renderChord({ { 1102.5, 2.0 } }, 0.01, false, 1.0));
        QCOMPARE(samples.size(), 441);
        QCOMPARE(samples[10], qint16(32767));
        QCOMPARE(samples[30], qint16(-32768));
        QCOMPARE(samplesOf(SoundFeedback::renderChord({}, 0.01, true, 1.5)), QList<qint16>(441, 0));
    }

    void stopCuePlaysTwoChordsInOrder()
    {
        struct Recorder final : CuePlayer
        {
            void play(const QByteArray& wav, float volume) override { played.append({ wav, volume }); }
            QList<std::pair<QByteArray, float>> played;
        } player;
        SoundFeedback feedback(player);
        feedback.playStop();
        QCOMPARE(player.played.size(), 1);
        QTRY_COMPARE(player.played.size(), 2);
        feedback.playStart();
        QCOMPARE(player.played,
            (QList<std::pair<QByteArray, float>> { { SoundFeedback::stopCueFirst(), 0.11f },
                { SoundFeedback::stopCueSecond(), 0.1f }, { SoundFeedback::startCue(), 0.14f } }));
    }

    void startCueIsHeardOnTheSoundServer()
    {
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_ENV"))
            QSKIP("needs the test environment's sound server (scripts/with-test-env)");
        CueGate::reset();
        MonitorRecorder monitor;
        QVERIFY(monitor.isOpen());
        // The sinks carry digital silence until something plays.
        QCOMPARE(monitor.peakOver(100), 0);

        PulseCuePlayer player;
        QSignalSpy finished(&player, &PulseCuePlayer::cueFinished);
        SoundFeedback feedback(player);
        using namespace std::chrono;
        const qint64 before = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        feedback.playStart();
        // The capture side must know how long our own cue sounds from its start: at least the
        // cue and the tail after it. (Whether the mark still lasts when this thread looks
        // depends on how busy the machine is, so its end is checked instead.)
        QTRY_VERIFY_WITH_TIMEOUT(CueGate::markedUntilMs() != 0, 30'000);
        const qint64 cueMs = (SoundFeedback::startCue().size() - 44) / 2 * 1000 / 44100;
        QVERIFY(CueGate::markedUntilMs() >= before + cueMs + CueGate::kTailMs);
        // 0.14 of a cue that peaks near full scale: well above silence. The cue comes as far
        // into the monitor's stream as the machine took to start it, so the stream is read
        // until it does.
        const int peak = monitor.peakUntil(2000, 60'000);
        QVERIFY2(peak > 2000, qPrintable(QString::number(peak)));
        QVERIFY(finished.size() == 1 || finished.wait(30'000));
        QCOMPARE(finished.first().first().toBool(), true);
    }

    void noSoundServerSkipsSilently()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        const auto restore = qScopeGuard([&] {
            if (saved.isEmpty())
                qunsetenv("PULSE_SERVER");
            else
                qputenv("PULSE_SERVER", saved);
        });
        qputenv("PULSE_SERVER", "unix:/nonexistent/quillet-test/native");
        CueGate::reset();
        PulseCuePlayer player;
        QSignalSpy finished(&player, &PulseCuePlayer::cueFinished);
        player.play(SoundFeedback::startCue(), 0.14f);
        QVERIFY(finished.wait(kPatientWaitMs));
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(!CueGate::isActive());
        // Something that is not a WAV is refused too.
        player.play(QByteArray("not a wav"), 1.0f);
        QCOMPARE(finished.size(), 2);
        QCOMPARE(finished.last().first().toBool(), false);
    }
};

QUILLET_TEST_MAIN(TestSoundFeedback)
#include "TestSoundFeedback.moc"
