#include "transcription/EchoSuppressor.h"

#include "platform/Settings.h"
#include "transcription/TranscriptText.h"

#include <cmath>
#include <vector>

namespace EchoSuppressor {

namespace {

// Each word of `a` may match one unused equal word of `b`; matches over the shorter list.
double similarity(const QStringList& a, const QStringList& b)
{
    std::vector<bool> used(size_t(b.size()), false);
    qsizetype matches = 0;
    for (const QString& word : a) {
        for (qsizetype j = 0; j < b.size(); ++j) {
            if (!used[size_t(j)] && b.at(j) == word) {
                used[size_t(j)] = true;
                ++matches;
                break;
            }
        }
    }
    return double(matches) / double(std::min(a.size(), b.size()));
}

} // namespace

bool isEnabled(const Settings& settings)
{
    return settings.get(SettingsKeys::echoSuppressionEnabled);
}

std::optional<qsizetype> duplicateIndex(const QString& text, double startOffset, const QList<Candidate>& candidates)
{
    const QStringList words = TranscriptText::words(text);
    if (words.isEmpty())
        return std::nullopt;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const Candidate& candidate = candidates.at(i);
        if (std::abs(candidate.timestamp - startOffset) > timeWindowSeconds)
            continue;
        const QStringList candidateWords = TranscriptText::words(candidate.text);
        if (candidateWords.isEmpty())
            continue;
        if (candidateWords == words) {
            if (words.size() >= minWordsForExactRepeat)
                return i;
            continue;
        }
        if (words.size() >= minWordsForNearRepeat && candidateWords.size() >= minWordsForNearRepeat
            && similarity(words, candidateWords) >= minSharedWordShare)
            return i;
    }
    return std::nullopt;
}

} // namespace EchoSuppressor
