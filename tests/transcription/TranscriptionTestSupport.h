#pragma once

#include "transcription/TessraTranscriber.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <mutex>

// Synthetic audio for the transcriber: 100 ms chunks of one constant sample value.
namespace Chunks {

inline constexpr int samplesPerChunk = 2400;
inline constexpr qint16 speech = 1000; // RMS 0.0305
inline constexpr qint16 silence = 0;

inline QByteArray pcm(qint16 value, int samples = samplesPerChunk)
{
    QByteArray out(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i)
        qToLittleEndian(value, out.data() + 2 * i);
    return out;
}

inline QByteArray base64(qint16 value, int samples = samplesPerChunk)
{
    return pcm(value, samples).toBase64();
}

inline void send(TessraTranscriber& transcriber, qint16 value, int count)
{
    const QByteArray chunk = base64(value);
    for (int i = 0; i < count; ++i)
        transcriber.sendAudio(chunk);
}

// One complete utterance: `speechChunks` of speech, then the 7 silent chunks that end it.
inline void sendUtterance(TessraTranscriber& transcriber, int speechChunks = 4)
{
    send(transcriber, speech, speechChunks);
    send(transcriber, silence, 7);
}

} // namespace Chunks

// Collects what a transcriber reports from its upload thread.
class Reports
{
public:
    void attach(TessraTranscriber& transcriber)
    {
        transcriber.setOnTranscriptCompleted([this](const QString& text, double offset) {
            std::lock_guard lock(m_mutex);
            m_texts.append(text);
            m_offsets.append(offset);
        });
        transcriber.setOnError([this](const TessraError& error) {
            std::lock_guard lock(m_mutex);
            m_errors.append(error.description);
        });
        transcriber.setOnStateChanged([this](TessraTranscriber::State state) {
            std::lock_guard lock(m_mutex);
            m_states.append(state);
        });
    }
    QStringList texts() const { return locked(m_texts); }
    QList<double> offsets() const { return locked(m_offsets); }
    QStringList errors() const { return locked(m_errors); }
    QList<TessraTranscriber::State> states() const { return locked(m_states); }

private:
    template <typename T>
    T locked(const T& value) const
    {
        std::lock_guard lock(m_mutex);
        return value;
    }

    mutable std::mutex m_mutex;
    QStringList m_texts;
    QList<double> m_offsets;
    QStringList m_errors;
    QList<TessraTranscriber::State> m_states;
};
