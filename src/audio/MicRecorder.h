#pragma once

#include "audio/AudioRecorder.h"
#include "platform/pulse/PulseCapture.h"

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
class MicRecorder final : public AudioRecorder
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MicRecorder)

public:
    explicit MicRecorder(QObject* parent = nullptr);
    ~MicRecorder() override;

    // Restarts capture when it already runs. Main thread.
    [[nodiscard]] std::optional<MicRecorderError> start();
    // Returns when no consumer call can run any more; harmless when not started. Main thread.
    void stop();
    bool isCapturing() const;

private:
    PulseCapture m_capture;
};
