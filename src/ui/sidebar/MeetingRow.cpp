#include "ui/sidebar/MeetingRow.h"

#include "format/TimeText.h"
#include "storage/Meeting.h"
#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>
#include <limits>

namespace {

constexpr int kPaddingV = 3;
constexpr int kSpacing = 8; // between the dot and the text
constexpr int kLineSpacing = 3;
constexpr int kMetaSpacing = 4;
constexpr qreal kMarkPixels = 8.5;
const QString kSeparator = QStringLiteral("·");

// Whole minutes, "<1m" under one: the sidebar has no room for the hour form of the cards.
// Lengths that are no number of seconds show nothing.
QString sidebarDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds >= double(std::numeric_limits<qint64>::max()))
        return {};
    const auto whole = static_cast<qint64>(seconds);
    if (whole < 60)
        return QStringLiteral("<1m");
    return QString::number(whole / 60) + QLatin1Char('m');
}

} // namespace

MeetingRow::Content MeetingRow::content(const Meeting& meeting)
{
    Content content;
    content.recording = meeting.isRecording();
    content.title = meeting.title().isEmpty() ? QStringLiteral("Untitled") : meeting.title();
    content.meta.append(formatShortTime(meeting.date().toLocalTime().time()));
    if (meeting.duration() > 0) {
        const QString length = sidebarDuration(meeting.duration());
        if (!length.isEmpty())
            content.meta << kSeparator << length;
    }
    content.summaryMark = meeting.summary().has_value();
    return content;
}

QFont MeetingRow::titleFont()
{
    return Quillet::font(13, QFont::Medium);
}

QFont MeetingRow::metaFont()
{
    return Quillet::font(10.5);
}

int MeetingRow::height()
{
    const QFontMetricsF title(titleFont());
    const QFontMetricsF meta(metaFont());
    return int(std::ceil(kPaddingV + title.height() + kLineSpacing + meta.height() + kPaddingV));
}

QRect MeetingRow::dotRect(const QRect& rect)
{
    const int side = int(std::ceil(kDotSize));
    return { rect.left(), rect.center().y() - side / 2, side, side };
}

void MeetingRow::paint(
    QPainter& painter, const QRect& rect, const Content& content, const QPalette& palette, qreal dotOpacity)
{
    painter.save();
    qreal x = rect.left();
    if (content.recording) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Quillet::withOpacity(Quillet::accent(), dotOpacity));
        painter.drawEllipse(QRectF(dotRect(rect)).center(), kDotSize / 2, kDotSize / 2);
        x += kDotSize + kSpacing;
    }
    const qreal width = rect.right() + 1 - x;
    const QFontMetricsF titleMetrics(titleFont());
    const QFontMetricsF metaMetrics(metaFont());
    const qreal top = rect.top() + (rect.height() - (titleMetrics.height() + kLineSpacing + metaMetrics.height())) / 2;

    painter.setFont(titleFont());
    painter.setPen(Quillet::primary(palette));
    const QRectF titleBox(x, top, width, titleMetrics.height());
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        titleMetrics.elidedText(content.title, Qt::ElideRight, width));

    painter.setFont(metaFont());
    painter.setPen(Quillet::secondary(palette));
    const QRectF metaLine(x, titleBox.bottom() + kLineSpacing, width, metaMetrics.height());
    qreal metaX = metaLine.left();
    for (const QString& part : content.meta) {
        const qreal partWidth = metaMetrics.horizontalAdvance(part);
        painter.drawText(QRectF(metaX, metaLine.top(), partWidth + 1, metaLine.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, part);
        metaX += partWidth + kMetaSpacing;
    }
    if (content.summaryMark) {
        const qreal partWidth = metaMetrics.horizontalAdvance(kSeparator);
        painter.drawText(QRectF(metaX, metaLine.top(), partWidth + 1, metaLine.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, kSeparator);
        metaX += partWidth + kMetaSpacing;
        const qreal side = Symbols::sideFor(kMarkPixels);
        Symbols::paint(painter, QStringLiteral("text.alignleft"),
            QRectF(metaX, metaLine.center().y() - side / 2, side, side), Quillet::secondary(palette));
    }
    painter.restore();
}
