#pragma once

#include <QByteArray>
#include <optional>

// Cuts one stream of 16-bit mono PCM chunks (24 kHz, normally 100 ms each) into utterances:
// an utterance opens on a speech chunk, keeps the silence that follows speech, ends after
// 700 ms of silence or at 15 s, and is only worth sending with at least 4 speech chunks.
// Not thread-safe: the transcriber guards it with its own lock.
class UtteranceDetector
{
public:
    static constexpr int sampleRate = 24000;
    static constexpr float silenceRmsThreshold = 0.012f;
    static constexpr int trailingSilenceChunks = 7;
    static constexpr int maxUtteranceChunks = 150;
    static constexpr int minSpeechChunks = 4;

    struct Utterance
    {
        QByteArray pcm;
        // Seconds from the start of the recording.
        double startOffset = 0;
    };

    // Root mean square of the samples scaled to -1...1; 0 for less than one sample.
    static float rms(const QByteArray& pcm16);

    bool hasAnchor() const { return m_streamStartOffset.has_value(); }
    // Seconds from the recording's start to the arrival of the stream's first chunk.
    void setAnchor(double seconds) { m_streamStartOffset = seconds; }
    std::optional<double> streamStartOffset() const { return m_streamStartOffset; }
    // Seconds of audio delivered so far, counted in samples so that hours of 100 ms chunks
    // add up without drift.
    double audioClock() const { return double(m_samplesReceived) / sampleRate; }

    // Counts the chunk's audio on the stream's clock and, when `accepting`, runs detection.
    // Returns the utterance that this chunk completed, when it held enough speech.
    std::optional<Utterance> addChunk(const QByteArray& pcm16, float loudness, bool accepting);
    // Ends the open utterance now: returns it when it holds enough speech, else drops it.
    std::optional<Utterance> commit();
    void discard();
    bool hasOpenUtterance() const { return m_chunksInUtterance > 0; }

private:
    std::optional<Utterance> take();

    QByteArray m_utterance;
    int m_chunksInUtterance = 0;
    int m_speechChunks = 0;
    int m_consecutiveSilence = 0;
    qint64 m_samplesReceived = 0;
    std::optional<double> m_streamStartOffset;
    std::optional<double> m_openUtteranceStart;
};
