#include "ui/design/ToneLabel.h"

#include "ui/design/TextLines.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <cmath>

ToneLabel::ToneLabel(const QString& text, const QFont& font, Quillet::Tone tone, QWidget* parent)
    : QLabel(text, parent)
    , m_tone(tone)
{
    // Texts come from data (titles, messages) and are shown as written, never as markup.
    setTextFormat(Qt::PlainText);
    setFont(font);
    applyTone();
}

void ToneLabel::setTone(Quillet::Tone tone)
{
    m_tone = tone;
    applyTone();
}

void ToneLabel::setTextWithRoomForMarks(const QString& text)
{
    const QFontMetricsF metrics(font());
    const qreal rise = -metrics.tightBoundingRect(text).top() - metrics.ascent();
    // Measured outlines and the hinted glyphs drawn differ by a pixel or so.
    const int room = rise > 0 ? int(std::ceil(rise)) + 2 : 0;
    const bool selectable = textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (!selectable || room == 0) {
        QMargins margins = contentsMargins();
        margins.setTop(room);
        if (margins != contentsMargins())
            setContentsMargins(margins);
        setTextFormat(Qt::PlainText);
        QLabel::setText(text);
        return;
    }
    // A selectable label cuts what it draws at the top of its text's first line whatever its
    // margins, so there the room goes inside the text, which is held escaped.
    setTextFormat(Qt::RichText);
    // (A first block's top margin is not kept; a cell's padding is.)
    QLabel::setText(QStringLiteral("<table cellspacing=\"0\" cellpadding=\"0\"><tr><td style=\"padding-top:%1px; "
                                   "white-space:pre-wrap\">%2</td></tr></table>")
                        .arg(room)
                        .arg(text.toHtmlEscaped()));
}

void ToneLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        applyTone();
}

void ToneLabel::applyTone()
{
    // Setting the palette sends a palette change of its own.
    if (m_applying)
        return;
    m_applying = true;
    // The label's own window text is overridden, so the tone is taken from what it would
    // inherit.
    const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    QPalette own = palette();
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        QPalette source = inherited;
        source.setCurrentColorGroup(group);
        own.setColor(group, QPalette::WindowText, Quillet::color(m_tone, source));
    }
    setPalette(own);
    m_applying = false;
}

void ToneLabel::setMaximumLines(int lines)
{
    m_maximumLines = std::max(lines, 0);
    setWordWrap(m_maximumLines > 0 || wordWrap());
    updateGeometry();
    update();
}

QSize ToneLabel::sizeHint() const
{
    if (m_maximumLines == 0)
        return QLabel::sizeHint();
    const QFontMetricsF metrics(font());
    const int width = int(std::ceil(metrics.horizontalAdvance(text()))) + 2 * margin();
    return { width, heightForWidth(width) };
}

QSize ToneLabel::minimumSizeHint() const
{
    if (m_maximumLines == 0)
        return QLabel::minimumSizeHint();
    const QFontMetricsF metrics(font());
    return { int(std::ceil(metrics.horizontalAdvance(QChar(0x2026)))), int(std::ceil(metrics.height())) };
}

bool ToneLabel::hasHeightForWidth() const
{
    return m_maximumLines > 0 || QLabel::hasHeightForWidth();
}

int ToneLabel::heightForWidth(int width) const
{
    if (m_maximumLines == 0)
        return QLabel::heightForWidth(width);
    const QFontMetricsF metrics(font());
    const int lines = TextLines::count(text(), font(), width - 2 * margin(), m_maximumLines);
    return int(std::ceil(metrics.height() + (lines - 1) * metrics.lineSpacing())) + 2 * margin();
}

void ToneLabel::paintEvent(QPaintEvent* event)
{
    if (m_maximumLines == 0) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QRectF box = QRectF(contentsRect()).adjusted(margin(), margin(), -margin(), -margin());
    const QFontMetricsF metrics(font());
    const QStringList lines = TextLines::wrap(text(), font(), box.width(), m_maximumLines);
    qreal baseline = box.top() + metrics.ascent();
    for (const QString& line : lines) {
        const qreal advance = metrics.horizontalAdvance(line);
        qreal x = box.left();
        if (alignment() & Qt::AlignHCenter)
            x += (box.width() - advance) / 2;
        else if (alignment() & Qt::AlignRight)
            x += box.width() - advance;
        painter.drawText(QPointF(x, baseline), line);
        baseline += metrics.lineSpacing();
    }
}
