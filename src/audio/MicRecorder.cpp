#include "audio/MicRecorder.h"

#include "platform/Log.h"

QString MicRecorderError::description() const
{
    switch (kind) {
    case Kind::BadFormat:
        return QStringLiteral("Invalid audio format");
    case Kind::ConverterFailed:
        return QStringLiteral("Could not create audio converter");
    case Kind::CaptureFailed:
        break;
    }
    return QStringLiteral("Could not start the microphone: %1 (status: %2)").arg(serverMessage).arg(status);
}

MicRecorder::MicRecorder(QObject* parent)
    : AudioRecorder(parent)
    , m_capture(QStringLiteral("Microphone"))
{ }

MicRecorder::~MicRecorder()
{
    m_capture.stop();
}

std::optional<MicRecorderError> MicRecorder::start()
{
    if (!captureEnabled())
        return MicRecorderError { MicRecorderError::Kind::CaptureFailed, 0, QStringLiteral("capture is off") };
    const auto error = m_capture.start(PulseCapture::Source::defaultInput(),
        [this](std::span<const float> samples) { publish(AudioSamples(samples.begin(), samples.end())); });
    if (error) {
        switch (error->kind) {
        case PulseCapture::Error::Kind::NoDevice:
        case PulseCapture::Error::Kind::BadSourceFormat:
            return MicRecorderError { MicRecorderError::Kind::BadFormat, 0, error->message };
        case PulseCapture::Error::Kind::ServerUnavailable:
        case PulseCapture::Error::Kind::SourceUnavailable:
            break;
        }
        return MicRecorderError { MicRecorderError::Kind::CaptureFailed, error->status, error->message };
    }
    const PulseCapture::NativeFormat format = m_capture.nativeFormat();
    Log::line("[Quillet] Mic format: %.0fHz, %dch", double(format.sampleRate), format.channels);
    Log::line("[Quillet] Mic recording started");
    return std::nullopt;
}

void MicRecorder::stop()
{
    m_capture.stop();
    resetLevel();
    Log::line("[Quillet] Mic recording stopped");
}

bool MicRecorder::isCapturing() const
{
    return m_capture.isRunning();
}
