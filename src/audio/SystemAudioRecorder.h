#pragma once

#include "audio/AudioRecorder.h"
#include "platform/pulse/PulseCapture.h"

#include <QObject>
#include <QString>
#include <optional>

class SystemAudioError final
{
public:
    enum class Kind {
        TapCreationFailed, // the sound server or the monitor source refused the stream
        BadFormat,
        NoOutputDevice,
    };

    Kind kind = Kind::TapCreationFailed;
    int status = 0; // the sound server's error number

    QString description() const;
    bool operator==(const SystemAudioError& other) const = default;
};

// The far side of a call: everything the computer plays, taken from the monitor of the
// default sink and delivered to one consumer on a capture thread of its own.
//
// A monitor also hears our own start and stop cues; while one sounds (see CueGate) the
// samples are replaced by zeros rather than dropped, so the stream's clock keeps counting.
class SystemAudioRecorder final : public AudioRecorder
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SystemAudioRecorder)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)

public:
    explicit SystemAudioRecorder(QObject* parent = nullptr);
    ~SystemAudioRecorder() override;

    // Does nothing when already running. A failed start leaves nothing behind. Main thread.
    [[nodiscard]] std::optional<SystemAudioError> start();
    // Does nothing unless running; returns when no consumer call can run any more. Main thread.
    void stop();
    bool isRunning() const { return m_isRunning; }

    // Records this source instead of the default sink's monitor (empty: the monitor again).
    void setSourceOverride(const QString& sourceName) { m_sourceOverride = sourceName; }

signals:
    void isRunningChanged();

private:
    void deliver(std::span<const float> samples);

    PulseCapture m_capture;
    QString m_sourceOverride;
    bool m_isRunning = false;
};
