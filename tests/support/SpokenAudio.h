#pragma once

// Spoken test audio, made at test time rather than stored: espeak-ng speaks a sentence into a
// WAV file, paplay / pacat play a file into a sound-server sink (the test server's "spk" is
// the far side of a call, "micsink" the user's microphone), and a few measures compare what
// came back with what was played (100 ms RMS steps, the span between the first and the last
// audible sample). Header-only; needs espeak-ng and pulseaudio-utils on the PATH.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <utility>

namespace SpokenAudio {

struct Clip
{
    int sampleRate = 0;
    QList<float> samples; // mono, -1 ... 1

    double seconds() const { return sampleRate > 0 ? double(samples.size()) / sampleRate : 0.0; }
};

inline bool hasTool(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// Reads a 16-bit PCM WAV file (any channel count; channels are averaged).
inline std::optional<Clip> readWav(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE")
        return std::nullopt;
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(data.constData() + at); };
    const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(data.constData() + at); };
    int channels = 0;
    int rate = 0;
    int bits = 0;
    qsizetype at = 12;
    while (at + 8 <= data.size()) {
        const QByteArray id = data.mid(at, 4);
        // espeak-ng writes 0xFFFFFFFF as the data size when it streams: take what is there.
        const qsizetype size = std::min<qsizetype>(u32(at + 4), data.size() - at - 8);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16) {
            if (u16(body) != 1)
                return std::nullopt; // not PCM
            channels = u16(body + 2);
            rate = int(u32(body + 4));
            bits = u16(body + 14);
        } else if (id == "data") {
            if (channels <= 0 || rate <= 0 || bits != 16)
                return std::nullopt;
            Clip clip;
            clip.sampleRate = rate;
            const qsizetype frames = size / (2 * channels);
            clip.samples.reserve(frames);
            for (qsizetype frame = 0; frame < frames; ++frame) {
                float sum = 0.0f;
                for (int channel = 0; channel < channels; ++channel)
                    sum += float(qFromLittleEndian<qint16>(data.constData() + body + (frame * channels + channel) * 2))
                        / 32768.0f;
                clip.samples.append(sum / float(channels));
            }
            return clip;
        }
        at = body + size + (size % 2);
    }
    return std::nullopt;
}

inline QByteArray toS16le(const QList<float>& samples)
{
    QByteArray pcm(samples.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const float clamped = std::clamp(std::isnan(samples[i]) ? 0.0f : samples[i], -1.0f, 1.0f);
        qToLittleEndian<qint16>(qint16(std::lround(clamped * 32767.0f)), pcm.data() + i * 2);
    }
    return pcm;
}

// Writes a mono 16-bit PCM WAV file.
inline bool writeWav(const QString& path, const Clip& clip)
{
    const QByteArray pcm = toS16le(clip.samples);
    QByteArray header(44, '\0');
    char* h = header.data();
    memcpy(h, "RIFF", 4);
    qToLittleEndian<quint32>(quint32(36 + pcm.size()), h + 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, h + 16);
    qToLittleEndian<quint16>(1, h + 20);
    qToLittleEndian<quint16>(1, h + 22);
    qToLittleEndian<quint32>(quint32(clip.sampleRate), h + 24);
    qToLittleEndian<quint32>(quint32(clip.sampleRate * 2), h + 28);
    qToLittleEndian<quint16>(2, h + 32);
    qToLittleEndian<quint16>(16, h + 34);
    memcpy(h + 36, "data", 4);
    qToLittleEndian<quint32>(quint32(pcm.size()), h + 40);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(header) == header.size() && file.write(pcm) == pcm.size();
}

// Writes headerless mono s16le samples (for pacat --raw, or a recogniser's input).
inline bool writeRaw(const QString& path, const QList<float>& samples)
{
    const QByteArray pcm = toS16le(samples);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(pcm) == pcm.size();
}

// Speaks `text` into a WAV file with espeak-ng and reads it back (espeak-ng's voices speak
// at 22,050 Hz). Nothing when espeak-ng is missing or fails.
inline std::optional<Clip> speak(const QString& text, const QString& wavPath,
    const QString& voice = QStringLiteral("en-us"), int wordsPerMinute = 160)
{
    QProcess espeak;
    espeak.start(QStringLiteral("espeak-ng"),
        { QStringLiteral("-v"), voice, QStringLiteral("-s"), QString::number(wordsPerMinute), QStringLiteral("-w"),
            wavPath, text });
    if (!espeak.waitForFinished(30000) || espeak.exitStatus() != QProcess::NormalExit || espeak.exitCode() != 0)
        return std::nullopt;
    return readWav(wavPath);
}

// The command that plays `path` into `sink`: paplay for WAV files, pacat for raw s16le mono.
// The player's buffer holds the whole file, so the sound server has all of it before it starts
// playing: a player starved of the processor on a busy machine would otherwise leave a gap
// that moves everything after it.
inline std::pair<QString, QStringList> playCommand(const QString& path, const QString& sink, int rawSampleRate)
{
    // At least the file's length: no file played here has fewer than 8,000 two-byte samples a
    // second.
    const qint64 bufferMs = QFileInfo(path).size() / 16 + 1000;
    const QString buffer = QStringLiteral("--latency-msec=") + QString::number(bufferMs);
    if (path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return { QStringLiteral("paplay"), { QStringLiteral("--device=") + sink, buffer, path } };
    return { QStringLiteral("pacat"),
        { QStringLiteral("--playback"), QStringLiteral("--device=") + sink, QStringLiteral("--raw"),
            QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
            QStringLiteral("--rate=") + QString::number(rawSampleRate), buffer, path } };
}

// Starts playing and returns at once; wait on the process's finished() signal (the event
// loop keeps running meanwhile). Null when the player could not start.
inline std::unique_ptr<QProcess> startPlaying(const QString& path, const QString& sink, int rawSampleRate = 24000)
{
    auto player = std::make_unique<QProcess>();
    const auto [program, arguments] = playCommand(path, sink, rawSampleRate);
    player->start(program, arguments);
    if (!player->waitForStarted(10000))
        return nullptr;
    return player;
}

// Plays the whole file into the sink and returns when the player has finished (blocking).
inline bool play(const QString& path, const QString& sink, int rawSampleRate = 24000, int timeoutMs = 120000)
{
    const auto player = startPlaying(path, sink, rawSampleRate);
    return player && player->waitForFinished(timeoutMs) && player->exitStatus() == QProcess::NormalExit
        && player->exitCode() == 0;
}

// RMS of consecutive steps of `stepMs` (the last partial step dropped), in dBFS; silence
// reads as `floorDb`.
inline QList<double> rmsStepsDb(
    const QList<float>& samples, int sampleRate, int stepMs = 100, qsizetype from = 0, double floorDb = -120.0)
{
    QList<double> steps;
    const qsizetype step = std::max<qsizetype>(1, qsizetype(sampleRate) * stepMs / 1000);
    for (qsizetype start = std::max<qsizetype>(0, from); start + step <= samples.size(); start += step) {
        double sum = 0.0;
        for (qsizetype i = start; i < start + step; ++i)
            sum += double(samples[i]) * samples[i];
        const double rms = std::sqrt(sum / double(step));
        steps.append(rms > 0.0 ? std::max(floorDb, 20.0 * std::log10(rms)) : floorDb);
    }
    return steps;
}

// [first, last] audible sample (|x| above `threshold`); {-1, -1} when there is none.
inline std::pair<qsizetype, qsizetype> soundSpan(const QList<float>& samples, float threshold = 0.001f)
{
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > threshold) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return { first, last };
}

inline double soundSpanSeconds(const QList<float>& samples, int sampleRate, float threshold = 0.001f)
{
    const auto [first, last] = soundSpan(samples, threshold);
    return first < 0 ? 0.0 : double(last - first + 1) / sampleRate;
}

// Which steps hold sound (above `thresholdDb`).
inline QList<bool> soundPattern(const QList<double>& stepsDb, double thresholdDb = -45.0)
{
    QList<bool> pattern;
    pattern.reserve(stepsDb.size());
    for (const double db : stepsDb)
        pattern.append(db > thresholdDb);
    return pattern;
}

// Share of steps on which two patterns agree, over the longer one (missing steps disagree).
inline double patternAgreement(const QList<bool>& a, const QList<bool>& b)
{
    const qsizetype length = std::max(a.size(), b.size());
    if (length == 0)
        return 1.0;
    qsizetype same = 0;
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i)
        same += a[i] == b[i] ? 1 : 0;
    return double(same) / double(length);
}

inline QList<float> sine(double hertz, double seconds, int sampleRate, float amplitude = 0.5f)
{
    QList<float> samples(qsizetype(seconds * sampleRate));
    for (qsizetype i = 0; i < samples.size(); ++i)
        samples[i] = amplitude * float(std::sin(2.0 * std::numbers::pi * hertz * double(i) / sampleRate));
    return samples;
}

} // namespace SpokenAudio
