#include "audio/SystemAudioRecorder.h"

#include "platform/CueGate.h"
#include "platform/Log.h"

QString SystemAudioError::description() const
{
    switch (kind) {
    case Kind::TapCreationFailed:
        return QStringLiteral("Failed to create audio tap (status: %1). Grant system audio permission in System "
                              "Settings.")
            .arg(status);
    case Kind::BadFormat:
        return QStringLiteral("Invalid audio format");
    case Kind::NoOutputDevice:
        break;
    }
    return QStringLiteral("No output audio device found");
}

SystemAudioRecorder::SystemAudioRecorder(QObject* parent)
    : AudioRecorder(parent)
    , m_capture(QStringLiteral("System audio"))
{ }

SystemAudioRecorder::~SystemAudioRecorder()
{
    m_capture.stop();
}

std::optional<SystemAudioError> SystemAudioRecorder::start()
{
    if (m_isRunning)
        return std::nullopt;
    if (!captureEnabled())
        return SystemAudioError { SystemAudioError::Kind::TapCreationFailed, 0 };
    const PulseCapture::Source source = m_sourceOverride.isEmpty() ? PulseCapture::Source::defaultOutputMonitor()
                                                                   : PulseCapture::Source::named(m_sourceOverride);
    const auto error = m_capture.start(source, [this](std::span<const float> samples) { deliver(samples); });
    if (error) {
        switch (error->kind) {
        case PulseCapture::Error::Kind::NoDevice:
            return SystemAudioError { SystemAudioError::Kind::NoOutputDevice, 0 };
        case PulseCapture::Error::Kind::BadSourceFormat:
            return SystemAudioError { SystemAudioError::Kind::BadFormat, 0 };
        case PulseCapture::Error::Kind::ServerUnavailable:
        case PulseCapture::Error::Kind::SourceUnavailable:
            break;
        }
        return SystemAudioError { SystemAudioError::Kind::TapCreationFailed, error->status };
    }
    m_isRunning = true;
    emit isRunningChanged();
    Log::line("[Quillet] System audio capture started from %@", m_capture.sourceName());
    return std::nullopt;
}

void SystemAudioRecorder::stop()
{
    if (!m_isRunning)
        return;
    m_capture.stop();
    m_isRunning = false;
    emit isRunningChanged();
    resetLevel();
    Log::line("[Quillet] System audio capture stopped");
}

void SystemAudioRecorder::deliver(std::span<const float> samples)
{
    publish(CueGate::isActive() ? AudioSamples(qsizetype(samples.size()), 0.0f)
                                : AudioSamples(samples.begin(), samples.end()));
}
