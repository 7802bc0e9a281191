#pragma once

#include "ui/design/Quillet.h"

#include <QFont>
#include <QString>
#include <QStringList>

// The transcript feed's measures and the helpers its files share.
namespace TranscriptFeedParts {

inline constexpr int kPaddingTop = 14;
inline constexpr int kPaddingBottom = 14;
inline constexpr int kColumnInset = 36;
inline constexpr int kColumnMaxWidth = 660;
inline constexpr int kRowSpacing = 10;
inline constexpr int kBubbleMaxWidth = 700;
inline constexpr int kBubblePadH = 15;
inline constexpr int kBubblePadV = 12;
inline constexpr qreal kLineSpacing = 5;
inline constexpr int kDraftMaxWidth = 580;
inline constexpr qreal kDotSide = 3.5;
inline constexpr qreal kDotSpacing = 3;
inline constexpr qreal kDotsWidth = 3 * kDotSide + 2 * kDotSpacing;
inline constexpr int kDraftDotsGap = 6;
inline constexpr int kLiveDotSide = 7;
inline constexpr int kLiveRowTopPadding = 3;
inline constexpr int kLiveRowSpacing = 8;
inline constexpr qreal kFadeFraction = 0.035;
inline constexpr int kFollowMs = 250;
inline constexpr int kDotFadeMs = 280;

inline QFont bubbleFont()
{
    return Quillet::font(14);
}

inline QFont liveRowFont()
{
    return Quillet::font(12);
}

inline QString listeningText(bool paused)
{
    return paused ? QStringLiteral("Paused") : QStringLiteral("Listening…");
}

inline bool sameLines(const QStringList& a, const QStringList& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        // The groups share the segments' strings, so equal lines are usually the same data.
        if (a[i].size() != b[i].size() || (a[i].constData() != b[i].constData() && a[i] != b[i]))
            return false;
    }
    return true;
}

} // namespace TranscriptFeedParts
