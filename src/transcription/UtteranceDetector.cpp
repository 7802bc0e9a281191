#include "transcription/UtteranceDetector.h"

#include <QtEndian>
#include <cmath>

float UtteranceDetector::rms(const QByteArray& pcm16)
{
    const qsizetype samples = pcm16.size() / 2;
    if (samples == 0)
        return 0;
    const auto* bytes = reinterpret_cast<const uchar*>(pcm16.constData());
    // Integer sum of squares is exact (at most 2^30 per sample); scaling once at the end
    // keeps the result independent of summation order.
    quint64 sumOfSquares = 0;
    for (qsizetype i = 0; i < samples; ++i) {
        const qint64 sample = qFromLittleEndian<qint16>(bytes + 2 * i);
        sumOfSquares += quint64(sample * sample);
    }
    const double meanSquare = double(sumOfSquares) / (32768.0 * 32768.0) / double(samples);
    return float(std::sqrt(meanSquare));
}

std::optional<UtteranceDetector::Utterance> UtteranceDetector::addChunk(
    const QByteArray& pcm16, float loudness, bool accepting)
{
    const qint64 clockBefore = m_samplesReceived;
    m_samplesReceived += pcm16.size() / 2;
    if (!accepting)
        return std::nullopt;

    const bool speech = loudness >= silenceRmsThreshold;
    if (m_chunksInUtterance == 0) {
        if (!speech)
            return std::nullopt; // leading silence
        m_utterance.reserve(qsizetype(maxUtteranceChunks) * sampleRate / 10 * 2);
        m_openUtteranceStart = m_streamStartOffset.value_or(0) + double(clockBefore) / sampleRate;
    }
    m_utterance.append(pcm16);
    ++m_chunksInUtterance;

    if (speech) {
        ++m_speechChunks;
        m_consecutiveSilence = 0;
        if (m_chunksInUtterance < maxUtteranceChunks)
            return std::nullopt;
    } else {
        ++m_consecutiveSilence;
        if (m_consecutiveSilence < trailingSilenceChunks && m_chunksInUtterance < maxUtteranceChunks)
            return std::nullopt;
    }
    return take();
}

std::optional<UtteranceDetector::Utterance> UtteranceDetector::commit()
{
    return take();
}

std::optional<UtteranceDetector::Utterance> UtteranceDetector::take()
{
    std::optional<Utterance> result;
    if (m_speechChunks >= minSpeechChunks && m_openUtteranceStart)
        result = Utterance { std::move(m_utterance), *m_openUtteranceStart };
    discard();
    return result;
}

void UtteranceDetector::discard()
{
    m_utterance = QByteArray();
    m_chunksInUtterance = 0;
    m_speechChunks = 0;
    m_consecutiveSilence = 0;
    m_openUtteranceStart.reset();
}
