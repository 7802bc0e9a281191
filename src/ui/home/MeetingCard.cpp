#include "ui/home/MeetingCard.h"

#include "format/TimeText.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"
#include "ui/design/TextLines.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

constexpr int kPaddingX = 14;
constexpr int kPaddingY = 11;
constexpr int kActionsSide = 26;
constexpr int kActionsSpacing = 8; // between the open area and "⋯"
constexpr int kDotSize = 7;
constexpr int kDotSpacing = 12;
constexpr int kTitleFactsSpacing = 4;
constexpr int kFactSpacing = 6;
constexpr int kFolderSymbolSpacing = 4;
constexpr qreal kTitlePixels = 15;
constexpr qreal kFactPixels = 11;
constexpr qreal kFactSymbolPixels = 9;
constexpr qreal kActionsSymbolPixels = 13;
constexpr qreal kPressedOpacity = 0.7;

QFont titleFont()
{
    return Quillet::font(kTitlePixels, QFont::Medium);
}

QFont factFont()
{
    return Quillet::font(kFactPixels);
}

qreal titleLineHeight()
{
    return QFontMetricsF(titleFont()).lineSpacing();
}

qreal factLineHeight()
{
    return std::max(QFontMetricsF(factFont()).height(), Symbols::sideFor(kFactSymbolPixels));
}

QRect contentRect(const QRect& card)
{
    return card.adjusted(kPaddingX, kPaddingY, -kPaddingX, -kPaddingY);
}

int titleWidth(int cardWidth, bool recording)
{
    int width = cardWidth - 2 * kPaddingX - kActionsSpacing - kActionsSide;
    if (recording)
        width -= kDotSpacing + kDotSize;
    return std::max(width, 1);
}

} // namespace

namespace MeetingCard {

QString title(const Meeting& meeting)
{
    const QString& title = meeting.fields().title;
    return title.isEmpty() ? QCoreApplication::translate("MeetingCard", "Untitled") : title;
}

QList<Fact> facts(const Meeting& meeting, bool showFolder)
{
    const Meeting::Fields& fields = meeting.fields();
    QList<Fact> facts;
    facts.append({ formatShortTime(fields.date.toLocalTime().time()), {} });
    if (fields.duration > 0) {
        const QString duration = formatDuration(fields.duration);
        if (!duration.isEmpty())
            facts.append({ duration, {} });
    }
    if (fields.summary)
        facts.append({ {}, kSummarySymbol });
    if (showFolder && meeting.folder())
        facts.append({ meeting.folder()->name(), Symbols::forFolder(meeting.folder()->icon()) });
    return facts;
}

int titleLines(const Meeting& meeting, int cardWidth)
{
    return TextLines::count(title(meeting), titleFont(), titleWidth(cardWidth, meeting.isRecording()), 2);
}

int height(int titleLines)
{
    const qreal column = titleLines * titleLineHeight() + kTitleFactsSpacing + factLineHeight();
    return int(std::ceil(std::max<qreal>(column, kActionsSide))) + 2 * kPaddingY;
}

QRect actionsRect(const QRect& card)
{
    const QRect content = contentRect(card);
    return { content.right() + 1 - kActionsSide, content.center().y() + 1 - kActionsSide / 2, kActionsSide,
        kActionsSide };
}

QRect dotRect(const QRect& card)
{
    const QRect actions = actionsRect(card);
    return { actions.left() - kActionsSpacing - kDotSize, card.center().y() + 1 - (kDotSize + 1) / 2, kDotSize,
        kDotSize };
}

void paint(QPainter& painter, const QRect& card, const Meeting& meeting, bool showFolder, const QPalette& palette,
    bool pressed)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(card), kCornerRadius, kCornerRadius);
    painter.fillPath(shape, Quillet::cardFill(palette));
    if (pressed)
        painter.setOpacity(kPressedOpacity);

    const QRect content = contentRect(card);
    const QColor primary = Quillet::primary(palette);
    const QColor secondary = Quillet::secondary(palette);

    // The title and the fact line, one column centred in the card's height.
    const QFont titleFont = ::titleFont();
    const QFont factFont = ::factFont();
    const QFontMetricsF titleMetrics(titleFont);
    const QFontMetricsF factMetrics(factFont);
    const int width = titleWidth(card.width(), meeting.isRecording());
    const QStringList lines = TextLines::wrap(title(meeting), titleFont, width, 2);
    const qreal factHeight = factLineHeight();
    const qreal column = lines.size() * titleMetrics.lineSpacing() + kTitleFactsSpacing + factHeight;
    qreal y = content.top() + std::max<qreal>(0, (content.height() - column) / 2);

    painter.setFont(titleFont);
    painter.setPen(primary);
    for (const QString& line : lines) {
        painter.drawText(QPointF(content.left(), y + titleMetrics.ascent()), line);
        y += titleMetrics.lineSpacing();
    }
    y += kTitleFactsSpacing;

    painter.setFont(factFont);
    const qreal factRight = content.left() + titleWidth(card.width(), meeting.isRecording());
    const qreal baseline = y + (factHeight - factMetrics.height()) / 2 + factMetrics.ascent();
    const qreal symbolSide = Symbols::sideFor(kFactSymbolPixels);
    const QString dot = QStringLiteral("\u00B7");
    qreal x = content.left();
    bool first = true;
    for (const Fact& fact : facts(meeting, showFolder)) {
        if (!first) {
            painter.setPen(secondary);
            painter.drawText(QPointF(x, baseline), dot);
            x += factMetrics.horizontalAdvance(dot) + kFactSpacing;
        }
        first = false;
        if (!fact.symbol.isEmpty()) {
            Symbols::paint(
                painter, fact.symbol, QRectF(x, y + (factHeight - symbolSide) / 2, symbolSide, symbolSide), secondary);
            x += symbolSide + (fact.text.isEmpty() ? kFactSpacing : kFolderSymbolSpacing);
        }
        if (!fact.text.isEmpty()) {
            const QString shown = factMetrics.elidedText(fact.text, Qt::ElideRight, std::max<qreal>(0, factRight - x));
            painter.setPen(secondary);
            painter.drawText(QPointF(x, baseline), shown);
            x += factMetrics.horizontalAdvance(shown) + kFactSpacing;
        }
    }

    const QRect actions = actionsRect(card);
    const qreal side = Symbols::sideFor(kActionsSymbolPixels);
    Symbols::paint(painter, QStringLiteral("ellipsis"),
        QRectF(QPointF(actions.center()) - QPointF(side / 2 - 0.5, side / 2 - 0.5), QSizeF(side, side)), secondary);
    painter.restore();
}

} // namespace MeetingCard
