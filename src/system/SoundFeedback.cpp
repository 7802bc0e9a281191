#include "system/SoundFeedback.h"

#include "audio/WavFile.h"
#include "platform/pulse/PulseCuePlayer.h"

#include <QTimer>
#include <QtEndian>
#include <cmath>
#include <numbers>

namespace {

constexpr float kStartVolume = 0.14f;
constexpr float kStopFirstVolume = 0.11f;
constexpr float kStopSecondVolume = 0.1f;

void appendLe16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

} // namespace

SoundFeedback::SoundFeedback(QObject* parent)
    : QObject(parent)
    , m_ownPlayer(std::make_unique<PulseCuePlayer>())
    , m_player(*m_ownPlayer)
{ }

SoundFeedback::SoundFeedback(CuePlayer& player, QObject* parent)
    : QObject(parent)
    , m_player(player)
{ }

SoundFeedback::~SoundFeedback() = default;

QByteArray SoundFeedback::renderChord(const QList<Tone>& tones, double durationSeconds, bool fadeIn, double pitchBend)
{
    const quint32 n = quint32(durationSeconds * kSampleRate);
    QByteArray wav = WavFile::monoPcm16Header(2 * n, kSampleRate);
    wav.reserve(44 + qsizetype(n) * 2);

    constexpr double pi = std::numbers::pi;
    for (quint32 i = 0; i < n; ++i) {
        const double p = double(i) / double(n);
        const double t = double(i) / kSampleRate;
        double envelope = 1.0;
        if (fadeIn && p < 0.25)
            envelope = (1 - std::cos(4 * pi * p)) / 2;
        else if (p > 0.5)
            envelope = (1 + std::cos(2 * pi * (p - 0.5))) / 2;
        const double bend = 1 + (pitchBend - 1) * p;
        double sum = 0;
        for (const Tone& tone : tones) {
            const double w = 2 * pi * tone.frequency * bend;
            sum += tone.amplitude * std::sin(w * t);
            sum += tone.amplitude * std::sin(2 * w * t) * 0.08;
            sum += tone.amplitude * std::sin(3 * w * t) * 0.03;
        }
        // Clamp before converting: a chord louder than full scale must clip, never wrap.
        const double scaled = std::trunc(sum * envelope * 32767);
        const qint16 sample = qint16(std::clamp(scaled, -32768.0, 32767.0));
        appendLe16(wav, quint16(sample));
    }
    return wav;
}

QByteArray SoundFeedback::startCue()
{
    return renderChord({ { 523.25, 0.5 }, { 659.25, 0.35 }, { 783.99, 0.25 } }, 0.12, true, 1.02);
}

QByteArray SoundFeedback::stopCueFirst()
{
    return renderChord({ { 783.99, 0.4 }, { 523.25, 0.35 }, { 392.0, 0.2 } }, 0.1, false, 0.98);
}

QByteArray SoundFeedback::stopCueSecond()
{
    return renderChord({ { 523.25, 0.45 }, { 659.25, 0.3 }, { 261.63, 0.15 } }, 0.14, false, 1.0);
}

void SoundFeedback::playStart()
{
    m_player.play(startCue(), kStartVolume);
}

void SoundFeedback::playStop()
{
    m_player.play(stopCueFirst(), kStopFirstVolume);
    // The first chord lasts exactly the gap, so the second follows it without overlap.
    QTimer::singleShot(kStopChordGapMs, this, [this] { m_player.play(stopCueSecond(), kStopSecondVolume); });
}
