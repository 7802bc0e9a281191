#include "audio/AudioRecorder.h"

#include <QMetaObject>

void AudioRecorder::publish(const AudioSamples& buffer)
{
    m_onAudioChunk.call(buffer);
    const float level = meterLevel(std::span<const float>(buffer.constData(), size_t(buffer.size())));
    QMetaObject::invokeMethod(
        this, [this, level] { setAudioLevel(level); }, Qt::QueuedConnection);
}

void AudioRecorder::resetLevel()
{
    QMetaObject::invokeMethod(
        this, [this] { setAudioLevel(0.0f); }, Qt::QueuedConnection);
}

void AudioRecorder::setAudioLevel(float level)
{
    if (level == m_audioLevel)
        return;
    m_audioLevel = level;
    emit audioLevelChanged();
}
