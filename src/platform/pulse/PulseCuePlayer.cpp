#include "platform/pulse/PulseCuePlayer.h"

#include "platform/CueGate.h"

#include <QMetaObject>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <pulse/error.h>
#include <pulse/simple.h>

namespace {

// Small buffers keep a cut-off cue from sounding on after the next one started.
constexpr int kChunkMs = 10;
constexpr int kTargetLatencyMs = 40;

struct ParsedWav
{
    QByteArray samples;
    int sampleRate = 0;
};

// Reads the mono 16-bit PCM WAV that the cue renderer writes (a plain 44-byte header).
std::optional<ParsedWav> parseWav(const QByteArray& wav)
{
    if (wav.size() < 44 || !wav.startsWith("RIFF") || wav.mid(8, 8) != "WAVEfmt " || wav.mid(36, 4) != "data")
        return std::nullopt;
    const uchar* header = reinterpret_cast<const uchar*>(wav.constData());
    const quint16 format = qFromLittleEndian<quint16>(header + 20);
    const quint16 channels = qFromLittleEndian<quint16>(header + 22);
    const quint32 rate = qFromLittleEndian<quint32>(header + 24);
    const quint16 bits = qFromLittleEndian<quint16>(header + 34);
    const quint32 dataSize = qFromLittleEndian<quint32>(header + 40);
    if (format != 1 || channels != 1 || bits != 16 || rate == 0 || rate > 192000 || dataSize > quint32(wav.size() - 44))
        return std::nullopt;
    return ParsedWav { wav.mid(44, qsizetype(dataSize & ~1u)), int(rate) };
}

} // namespace

PulseCuePlayer::PulseCuePlayer(QObject* parent)
    : QObject(parent)
    , m_thread([this] { run(); })
{ }

PulseCuePlayer::~PulseCuePlayer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        ++m_generation;
    }
    m_wake.notify_all();
    m_thread.join();
}

void PulseCuePlayer::play(const QByteArray& wav, float volume)
{
    std::optional<ParsedWav> parsed = parseWav(wav);
    if (!parsed) {
        emit cueFinished(false);
        return;
    }
    // The simple API has no stream volume, so the level is applied to the samples.
    const float gain = std::clamp(volume, 0.0f, 1.0f);
    QByteArray samples = parsed->samples;
    auto* data = reinterpret_cast<uchar*>(samples.data());
    for (qsizetype i = 0; i + 1 < samples.size(); i += 2) {
        const qint16 value = qFromLittleEndian<qint16>(data + i);
        qToLittleEndian<qint16>(qint16(std::lround(value * gain)), data + i);
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_next = Cue { samples, parsed->sampleRate, m_generation };
    }
    m_wake.notify_all();
}

bool PulseCuePlayer::superseded(quint64 generation)
{
    std::lock_guard lock(m_mutex);
    return m_generation != generation;
}

void PulseCuePlayer::run()
{
    for (;;) {
        Cue cue;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_next.has_value(); });
            if (m_stopping)
                return;
            cue = std::move(*m_next);
            m_next.reset();
        }
        const bool played = playCue(cue);
        QMetaObject::invokeMethod(
            this, [this, played] { emit cueFinished(played); }, Qt::QueuedConnection);
    }
}

bool PulseCuePlayer::playCue(const Cue& cue)
{
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = uint32_t(cue.sampleRate);
    spec.channels = 1;
    const uint32_t bytesPerMs = uint32_t(cue.sampleRate) * 2 / 1000;
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = bytesPerMs * kTargetLatencyMs;
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);

    int error = 0;
    pa_simple* stream
        = pa_simple_new(nullptr, "Quillet", PA_STREAM_PLAYBACK, nullptr, "Feedback cue", &spec, nullptr, &attr, &error);
    if (!stream)
        return false;

    CueGate::notePlayback(qint64(cue.samples.size() / 2) * 1000 / cue.sampleRate + kTargetLatencyMs);
    const qsizetype chunkBytes = qsizetype(bytesPerMs) * kChunkMs;
    bool played = true;
    for (qsizetype offset = 0; offset < cue.samples.size(); offset += chunkBytes) {
        if (superseded(cue.generation)) {
            played = false;
            break;
        }
        const qsizetype length = std::min(chunkBytes, cue.samples.size() - offset);
        if (pa_simple_write(stream, cue.samples.constData() + offset, size_t(length), &error) < 0) {
            played = false;
            break;
        }
    }
    if (played)
        played = pa_simple_drain(stream, &error) >= 0;
    else
        pa_simple_flush(stream, &error);
    pa_simple_free(stream);
    return played;
}
