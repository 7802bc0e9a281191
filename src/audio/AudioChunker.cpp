#include "audio/AudioChunker.h"

#include <algorithm>
#include <cmath>

namespace {

inline qint16 toSample16(float sample)
{
    // Converting NaN to an integer is undefined; treat it as full scale.
    if (std::isnan(sample) || sample >= 1.0f)
        return 32767;
    if (sample <= -1.0f)
        return -32767;
    return qint16(sample * 32767.0f);
}

} // namespace

AudioChunker::AudioChunker(int sampleRate, int chunkDurationMs)
    : m_chunkSize(std::size_t(std::max<qint64>(1, qint64(sampleRate) * chunkDurationMs / 1000)))
{
    m_buffer.reserve(m_chunkSize * 2);
}

void AudioChunker::setOnChunkReady(ChunkCallback callback)
{
    std::lock_guard lock(m_lock);
    m_onChunkReady = std::move(callback);
}

void AudioChunker::feed(std::span<const float> samples)
{
    std::unique_lock lock(m_lock);
    m_buffer.insert(m_buffer.end(), samples.begin(), samples.end());
    while (m_buffer.size() >= m_chunkSize) {
        const std::vector<float> chunk(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_chunkSize));
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_chunkSize));
        const ChunkCallback callback = m_onChunkReady;
        lock.unlock();
        send(chunk, callback);
        lock.lock();
    }
}

void AudioChunker::flush()
{
    std::vector<float> rest;
    ChunkCallback callback;
    {
        std::lock_guard lock(m_lock);
        rest.swap(m_buffer);
        m_buffer.reserve(m_chunkSize * 2);
        callback = m_onChunkReady;
    }
    if (!rest.empty())
        send(rest, callback);
}

void AudioChunker::clear()
{
    std::lock_guard lock(m_lock);
    m_buffer.clear();
}

void AudioChunker::send(std::span<const float> samples, const ChunkCallback& callback)
{
    if (callback)
        callback(encode(samples));
}

QByteArray AudioChunker::toPcm16(std::span<const float> samples)
{
    QByteArray pcm(qsizetype(samples.size() * 2), Qt::Uninitialized);
    char* out = pcm.data();
    // Plain indexing keeps unoptimised builds usable on an hour of audio.
    const float* in = samples.data();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto value = quint16(toSample16(in[i]));
        *out++ = char(value & 0xff);
        *out++ = char(value >> 8);
    }
    return pcm;
}

QString AudioChunker::encode(std::span<const float> samples)
{
    return QString::fromLatin1(toPcm16(samples).toBase64());
}
