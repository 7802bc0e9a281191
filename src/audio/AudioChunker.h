#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

// Cuts one stream of 24 kHz float samples into 100 ms chunks of signed 16-bit little-endian
// PCM, handed on as base64 text (standard alphabet, padded, one line). Fed on a capture
// thread, flushed on the main thread; the consumer is always called outside the lock, so a
// slow consumer never holds up flush() and may itself call into the chunker.
class AudioChunker final
{
public:
    using ChunkCallback = std::function<void(const QString& base64Chunk)>;

    explicit AudioChunker(int sampleRate = 24000, int chunkDurationMs = 100);
    AudioChunker(const AudioChunker&) = delete;
    AudioChunker& operator=(const AudioChunker&) = delete;

    // Called on whichever thread feeds or flushes. Chunks leave in sample order as long as
    // flush() does not race a feed(): stop the producer first.
    void setOnChunkReady(ChunkCallback callback);

    // May send any number of full chunks before it returns.
    void feed(std::span<const float> samples);
    // Sends what is left as one shorter chunk; nothing when empty.
    void flush();
    // Forgets what is buffered without sending it.
    void clear();

    // Clamped to -1 ... 1, scaled by 32767 and cut toward zero; NaN becomes 32767.
    static QByteArray toPcm16(std::span<const float> samples);
    static QString encode(std::span<const float> samples);

private:
    void send(std::span<const float> samples, const ChunkCallback& callback);

    const std::size_t m_chunkSize;
    std::mutex m_lock;
    std::vector<float> m_buffer;
    ChunkCallback m_onChunkReady;
};
