#include "platform/PolyphaseResampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace {

// About 80 dB of stopband attenuation; Kaiser's formulas for the window shape and length.
constexpr double kStopbandAttenuationDb = 80.0;

double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 64; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-12)
            break;
    }
    return sum;
}

} // namespace

PolyphaseResampler::PolyphaseResampler(int inputRate, int outputRate)
    : m_inputRate(inputRate)
    , m_outputRate(outputRate)
{
    const int divisor = std::gcd(inputRate, outputRate);
    m_up = outputRate / divisor;
    m_down = inputRate / divisor;

    // The filter runs at the upsampled rate. The transition band spans a quarter of the lower
    // Nyquist frequency centred on it (7 to 9 kHz for 24 -> 16 kHz): what survives above the
    // output Nyquist folds only into the top of the band, which recognisers do not use.
    const double upsampledRate = double(inputRate) * m_up;
    const double nyquist = 0.5 * std::min(inputRate, outputRate);
    const double cutoff = nyquist / upsampledRate; // cycles per sample
    const double transition = 2.0 * std::numbers::pi * (0.25 * nyquist) / upsampledRate;
    const double beta = 0.1102 * (kStopbandAttenuationDb - 8.7);
    int length = int(std::ceil((kStopbandAttenuationDb - 8.0) / (2.285 * transition))) + 1;
    length = (length + m_up - 1) / m_up * m_up;
    m_tapsPerPhase = length / m_up;

    std::vector<double> taps(static_cast<std::size_t>(length));
    const double centre = 0.5 * (length - 1);
    const double i0Beta = besselI0(beta);
    for (int n = 0; n < length; ++n) {
        const double x = n - centre;
        const double sinc
            = x == 0.0 ? 2.0 * cutoff : std::sin(2.0 * std::numbers::pi * cutoff * x) / (std::numbers::pi * x);
        const double r = x / centre;
        const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0Beta;
        // The gain of L restores the level that the inserted zeros take away.
        taps[std::size_t(n)] = sinc * window * m_up;
    }

    m_phases.assign(std::size_t(m_up), std::vector<float>(std::size_t(m_tapsPerPhase)));
    for (int p = 0; p < m_up; ++p)
        for (int j = 0; j < m_tapsPerPhase; ++j)
            m_phases[std::size_t(p)][std::size_t(j)] = float(taps[std::size_t(p + j * m_up)]);
    reset();
}

void PolyphaseResampler::reset()
{
    m_history.assign(std::size_t(m_tapsPerPhase - 1), 0.0f);
    m_historyStart = -(m_tapsPerPhase - 1);
    m_inputCount = 0;
    m_nextOutput = 0;
}

void PolyphaseResampler::process(std::span<const float> input, std::vector<float>& output)
{
    m_history.insert(m_history.end(), input.begin(), input.end());
    m_inputCount += std::int64_t(input.size());

    output.reserve(output.size() + input.size() * std::size_t(m_up) / std::size_t(m_down) + 1);
    while (true) {
        const std::int64_t newest = m_nextOutput / m_up;
        if (newest >= m_inputCount)
            break;
        const auto& phase = m_phases[std::size_t(m_nextOutput % m_up)];
        const float* x = m_history.data() + (newest - m_historyStart);
        float sum = 0.0f;
        for (int j = 0; j < m_tapsPerPhase; ++j)
            sum += phase[std::size_t(j)] * x[-j];
        output.push_back(sum);
        m_nextOutput += m_down;
    }

    const std::int64_t keepFrom = m_nextOutput / m_up - (m_tapsPerPhase - 1);
    if (keepFrom > m_historyStart) {
        const auto drop = std::min<std::int64_t>(keepFrom - m_historyStart, std::int64_t(m_history.size()));
        m_history.erase(m_history.begin(), m_history.begin() + drop);
        m_historyStart += drop;
    }
}
