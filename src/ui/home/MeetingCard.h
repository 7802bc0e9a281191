#pragma once

#include <QList>
#include <QPalette>
#include <QRect>
#include <QString>

class Meeting;
class QPainter;

// One meeting's card on the home page. Cards are painted by the list that shows them (no
// widget per card); this is what the list asks of one card: its texts, its height, where its
// parts sit and how it looks. The card reads the meeting live each time it is drawn.
namespace MeetingCard {

// One part of the fact line; every part after the first is preceded by "·" (U+00B7).
struct Fact
{
    QString text; // may be empty: a folder's name is shown as stored
    QString symbol; // drawn before the text; empty for none

    friend bool operator==(const Fact&, const Fact&) = default;
};

// The symbol of the summary mark among the facts.
inline const QString kSummarySymbol = QStringLiteral("text.alignleft");

// The meeting's title, or "Untitled" when it is exactly empty.
QString title(const Meeting& meeting);

// The time of day; the duration when above 0 (none for lengths that are not finite or do
// not fit a 64-bit count of seconds); the summary mark when a summary exists, even an empty
// one; with showFolder, the folder's symbol and name.
QList<Fact> facts(const Meeting& meeting, bool showFolder);

// How many lines (one or two) the title takes on a card of that width.
int titleLines(const Meeting& meeting, int cardWidth);
int height(int titleLines);

// The rounding of a card's corners.
constexpr qreal kCornerRadius = 10;

// The "⋯" target and the recording dot's place, inside a card's rectangle.
QRect actionsRect(const QRect& card);
QRect dotRect(const QRect& card);

// Draws the card (its dot excepted: the list shows a live RecordingDot there).
void paint(QPainter& painter, const QRect& card, const Meeting& meeting, bool showFolder, const QPalette& palette,
    bool pressed);

} // namespace MeetingCard
