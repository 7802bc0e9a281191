#pragma once

#include "audio/AudioSamples.h"

#include <QObject>

// What the microphone and the system-audio recorders share: one consumer of the captured
// buffers, called on the capture thread, and the level published for the meters.
class AudioRecorder : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AudioRecorder)
    // 0 ... 1, written on the main thread only.
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)

public:
    using QObject::QObject;

    // Called on the capture thread with each buffer; may be replaced at any time.
    void setOnAudioChunk(AudioSamplesCallback callback) { m_onAudioChunk.set(std::move(callback)); }

    // Off: start() fails at once and never reaches the sound server (tests that must not
    // record through the shared test sound server).
    void setCaptureEnabled(bool enabled) { m_captureEnabled = enabled; }
    bool captureEnabled() const { return m_captureEnabled; }

    float audioLevel() const { return m_audioLevel; }

signals:
    void audioLevelChanged();

protected:
    // Capture thread: hands the buffer to the consumer, then posts its level to the main thread.
    void publish(const AudioSamples& buffer);
    // Main thread, once capture stopped: the meter comes to rest at 0 behind any level still queued.
    void resetLevel();

private:
    void setAudioLevel(float level);

    GuardedCallback<const AudioSamples&> m_onAudioChunk;
    bool m_captureEnabled = true;
    float m_audioLevel = 0.0f;
};
