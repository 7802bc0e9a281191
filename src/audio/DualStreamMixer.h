#pragma once

#include "audio/AudioChunker.h"
#include "audio/AudioSamples.h"
#include "audio/MicRecorder.h"

#include <QObject>
#include <optional>

class SystemAudioRecorder;

// Runs the two sides of a recording side by side (they are never mixed into one signal):
// the microphone, which must start, and the system audio, which is optional. Each stream
// feeds a chunker of its own, and one observer per stream may see the raw samples.
//
// start(), pause(), resume(), stop() and flush() belong to the main thread; the chunkers and
// observers are called on the capture threads.
class DualStreamMixer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DualStreamMixer)

public:
    DualStreamMixer(MicRecorder& micRecorder, SystemAudioRecorder& systemRecorder, QObject* parent = nullptr);
    ~DualStreamMixer() override;

    // Fails only when the microphone cannot start; without system audio the recording goes
    // on with the microphone alone (see systemAudioAvailable()). Does nothing when running.
    [[nodiscard]] std::optional<MicRecorderError> start();
    // Samples stop reaching the chunkers and observers; capture and level meters go on.
    void pause();
    // Samples reach the chunkers and the observers again.
    void resume();
    // Stops capture, then flushes both chunkers, so no samples can arrive behind the last chunk.
    void stop();

    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }
    // Whether the last start() got system audio; stop() leaves it as it was.
    bool systemAudioAvailable() const { return m_systemAudioAvailable; }

    AudioChunker& micChunker() { return m_micChunker; }
    AudioChunker& systemChunker() { return m_systemChunker; }

    // Observers of the raw samples, called on the capture threads after the chunker was fed.
    // They may be replaced at any time; once the setter returns the old one is not running.
    void setOnMicSamples(AudioSamplesCallback callback) { m_onMicSamples.set(std::move(callback)); }
    void setOnSystemSamples(AudioSamplesCallback callback) { m_onSystemSamples.set(std::move(callback)); }

    MicRecorder& micRecorder() { return m_micRecorder; }

private:
    void attachMic();
    void attachSystem();

    MicRecorder& m_micRecorder;
    SystemAudioRecorder& m_systemRecorder;
    AudioChunker m_micChunker { kAudioSampleRate, 100 };
    AudioChunker m_systemChunker { kAudioSampleRate, 100 };
    bool m_isRunning = false;
    bool m_isPaused = false;
    bool m_systemAudioAvailable = true;
    GuardedCallback<const AudioSamples&> m_onMicSamples;
    GuardedCallback<const AudioSamples&> m_onSystemSamples;
};
