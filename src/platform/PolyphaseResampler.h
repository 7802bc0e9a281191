#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Rational sample-rate conversion (up L, down M) through one windowed-sinc low-pass filter
// split into L polyphase branches. The filter cuts at the lower of the two Nyquist
// frequencies, so content that the output rate cannot carry is removed instead of folding
// back into the speech band (plain interpolation lets it alias and breaks recognition).
// Keeps its state between calls: a stream fed in pieces of any size gives the same output as
// the whole stream fed at once. Not thread-safe; use one per stream.
class PolyphaseResampler final
{
public:
    PolyphaseResampler(int inputRate, int outputRate);

    int inputRate() const { return m_inputRate; }
    int outputRate() const { return m_outputRate; }

    // Appends the output for these input samples to `output`.
    void process(std::span<const float> input, std::vector<float>& output);

    void reset();

private:
    int m_inputRate;
    int m_outputRate;
    int m_up = 1;
    int m_down = 1;
    int m_tapsPerPhase = 1;
    // m_phases[p][j] multiplies the input sample j steps back from the newest one in reach.
    std::vector<std::vector<float>> m_phases;
    // Input samples from absolute index m_historyStart on; starts with zeros before index 0.
    std::vector<float> m_history;
    std::int64_t m_historyStart = 0;
    std::int64_t m_inputCount = 0;
    // Position of the next output sample on the upsampled time axis.
    std::int64_t m_nextOutput = 0;
};
