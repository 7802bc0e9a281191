#pragma once

#include <QList>
#include <cmath>
#include <functional>
#include <mutex>
#include <span>

// Audio between the recorders, the mixer and its observers: 32-bit float, mono, 24,000 Hz,
// nominally -1 ... 1. A QList so that an observer can hand a buffer to another thread
// without copying it.
using AudioSamples = QList<float>;
using AudioSamplesCallback = std::function<void(const AudioSamples& samples)>;

inline constexpr int kAudioSampleRate = 24000;

// A consumer callback that one thread replaces while another calls it. The call runs under
// the lock, so once set() returns the previous callback is neither running nor called again
// (pausing relies on that). A callback must therefore never wait for the thread that sets it.
template <typename... Args> class GuardedCallback final
{
public:
    using Function = std::function<void(Args...)>;

    void set(Function function)
    {
        std::lock_guard lock(m_mutex);
        m_function = std::move(function);
    }

    void call(Args... args)
    {
        std::lock_guard lock(m_mutex);
        if (m_function)
            m_function(args...);
    }

private:
    std::mutex m_mutex;
    Function m_function;
};

// Loudness for the level meters: the buffer's RMS times ten, capped at 1.
inline float meterLevel(std::span<const float> samples)
{
    float sumOfSquares = 0.0f;
    for (const float sample : samples)
        sumOfSquares += sample * sample;
    const float rms = std::sqrt(sumOfSquares / float(samples.empty() ? 1 : samples.size()));
    return std::isfinite(rms) ? std::min(rms * 10.0f, 1.0f) : 1.0f;
}
