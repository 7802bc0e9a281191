#pragma once

// A sentence as espeak-ng says it, ready to lay into a track for the recorder: trimmed to the
// audible part and resampled to the recorder's rate, so that where a test places it is where
// the speech starts. Needs espeak-ng on the PATH.

#include "platform/PolyphaseResampler.h"
#include "support/SpokenAudio.h"

#include <QList>
#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace SpokenAudio {

// Nothing when espeak-ng is missing or fails; `folder` takes its WAV file.
inline std::optional<QList<float>> sentence(const QString& text, const QString& folder, int sampleRate = 24000)
{
    const auto clip = speak(text, folder + QStringLiteral("/spoken.wav"));
    if (!clip)
        return std::nullopt;
    const auto [first, last] = soundSpan(clip->samples);
    const QList<float> audible = clip->samples.mid(first, last - first + 1);
    PolyphaseResampler resampler(clip->sampleRate, sampleRate);
    std::vector<float> resampled;
    resampler.process(std::span<const float>(audible.constData(), std::size_t(audible.size())), resampled);
    return QList<float>(resampled.begin(), resampled.end());
}

} // namespace SpokenAudio
