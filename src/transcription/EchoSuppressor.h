#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class Settings;

// Decides whether a newly transcribed text repeats a recent segment of the other stream:
// the microphone hears the loudspeakers, so the far side's words can arrive twice. Pure;
// no state of its own.
namespace EchoSuppressor {

inline constexpr double timeWindowSeconds = 3.5;
inline constexpr qsizetype minWordsForExactRepeat = 3;
inline constexpr qsizetype minWordsForNearRepeat = 8;
inline constexpr double minSharedWordShare = 0.85;

// The setting, read afresh; missing or not a bool counts as enabled.
bool isEnabled(const Settings& settings);

struct Candidate
{
    QString text;
    double timestamp = 0;
};

// Index of the first candidate that `text`, starting at `startOffset` seconds, repeats.
std::optional<qsizetype> duplicateIndex(const QString& text, double startOffset, const QList<Candidate>& candidates);

// The first segment (anything with text() and timestamp(), such as TranscriptSegment) that
// `text` repeats, or nullptr.
template <typename Segment>
Segment* duplicate(const QString& text, double startOffset, const QList<Segment*>& candidates)
{
    QList<Candidate> plain;
    plain.reserve(candidates.size());
    for (const Segment* segment : candidates)
        plain.append(Candidate { segment->text(), segment->timestamp() });
    const std::optional<qsizetype> index = duplicateIndex(text, startOffset, plain);
    return index ? candidates.at(*index) : nullptr;
}

} // namespace EchoSuppressor
