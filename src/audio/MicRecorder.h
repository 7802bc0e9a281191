#pragma once

#include "audio/AudioSamples.h"
#include "platform/PulseCapture.h"

#include <QObject>
#include <QString>
#include <optional>

class MicRecorderError final
{
public:
    enum class Kind {
        BadFormat, // no input device, or one reporting no rate or channels
        ConverterFailed,
        CaptureFailed, // the sound server refused: see status and serverMessage
    };

    Kind kind = Kind::CaptureFailed;
    int status = 0;
    QString serverMessage;

    QString description() const;
    bool operator==(const MicRecorderError& other) const { return kind == other.kind && status == other.status; }
};

// The user's own side of a recording: the sound server's default source, delivered buffer by
// buffer (about 85 ms each) to one consumer on the capture thread.
class MicRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MicRecorder)
    // 0 ... 1, written on the main thread only.
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)

public:
    explicit MicRecorder(QObject* parent = nullptr);
    ~MicRecorder() override;

    // Restarts capture when it already runs. Main thread.
    [[nodiscard]] std::optional<MicRecorderError> start();
    // Returns when no consumer call can run any more; harmless when not started. Main thread.
    void stop();
    bool isCapturing() const;

    // Called on the capture thread with each buffer; may be replaced at any time.
    void setOnAudioChunk(AudioSamplesCallback callback);

    float audioLevel() const { return m_audioLevel; }

signals:
    void audioLevelChanged();

private:
    void deliver(std::span<const float> samples);
    void setAudioLevel(float level);

    PulseCapture m_capture;
    GuardedCallback<const AudioSamples&> m_onAudioChunk;
    float m_audioLevel = 0.0f;
};
