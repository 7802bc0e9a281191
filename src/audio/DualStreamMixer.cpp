#include "audio/DualStreamMixer.h"

#include "audio/SystemAudioRecorder.h"
#include "platform/Log.h"

namespace {

std::span<const float> spanOf(const AudioSamples& samples)
{
    return { samples.constData(), std::size_t(samples.size()) };
}

} // namespace

DualStreamMixer::DualStreamMixer(MicRecorder& micRecorder, SystemAudioRecorder& systemRecorder, QObject* parent)
    : QObject(parent)
    , m_micRecorder(micRecorder)
    , m_systemRecorder(systemRecorder)
{ }

DualStreamMixer::~DualStreamMixer()
{
    // The recorders may outlive us: make sure none of their threads can call into a dead mixer.
    m_micRecorder.setOnAudioChunk(nullptr);
    m_systemRecorder.setOnAudioChunk(nullptr);
}

void DualStreamMixer::attachMic()
{
    m_micRecorder.setOnAudioChunk([this](const AudioSamples& samples) {
        m_micChunker.feed(spanOf(samples));
        m_onMicSamples.call(samples);
    });
}

void DualStreamMixer::attachSystem()
{
    m_systemRecorder.setOnAudioChunk([this](const AudioSamples& samples) {
        m_systemChunker.feed(spanOf(samples));
        m_onSystemSamples.call(samples);
    });
}

std::optional<MicRecorderError> DualStreamMixer::start()
{
    if (m_isRunning)
        return std::nullopt;
    attachMic();
    attachSystem();

    if (const auto micError = m_micRecorder.start()) {
        // Left attached, a later start of either recorder elsewhere (the onboarding probe)
        // would feed our chunkers.
        m_micRecorder.setOnAudioChunk(nullptr);
        m_systemRecorder.setOnAudioChunk(nullptr);
        return micError;
    }

    if (const auto systemError = m_systemRecorder.start()) {
        m_systemAudioAvailable = false;
        m_systemRecorder.setOnAudioChunk(nullptr);
        Log::line("[Quillet] System audio unavailable: %@. Running mic-only mode.", systemError->description());
    } else {
        m_systemAudioAvailable = true;
        Log::line("[Quillet] Dual stream: mic + system audio active");
    }
    m_isRunning = true;
    return std::nullopt;
}

void DualStreamMixer::pause()
{
    if (!m_isRunning || m_isPaused)
        return;
    m_isPaused = true;
    m_micRecorder.setOnAudioChunk(nullptr);
    if (m_systemAudioAvailable)
        m_systemRecorder.setOnAudioChunk(nullptr);
    Log::line("[Quillet] Dual stream paused");
}

void DualStreamMixer::resume()
{
    if (!m_isRunning || !m_isPaused)
        return;
    m_isPaused = false;
    attachMic();
    if (m_systemAudioAvailable)
        attachSystem();
    Log::line("[Quillet] Dual stream resumed");
}

void DualStreamMixer::stop()
{
    if (!m_isRunning)
        return;
    m_micRecorder.stop();
    m_micRecorder.setOnAudioChunk(nullptr);
    m_micChunker.flush();
    if (m_systemAudioAvailable) {
        m_systemRecorder.stop();
        m_systemRecorder.setOnAudioChunk(nullptr);
        m_systemChunker.flush();
    }
    m_isRunning = false;
    m_isPaused = false;
    Log::line("[Quillet] Dual stream stopped");
}
