#include "ui/PlainButton.h"

#include <QPainter>

namespace {
// Room around the text for the focus ring.
constexpr int kPadding = 2;
} // namespace

PlainButton::PlainButton(const QString& text, const QFont& font, Quillet::Tone tone, QWidget* parent)
    : QAbstractButton(parent)
    , m_tone(tone)
{
    setText(text);
    setFont(font);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

QSize PlainButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return { metrics.horizontalAdvance(text()) + 2 * kPadding, metrics.height() + 2 * kPadding };
}

void PlainButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = Quillet::color(m_tone, palette());
    if (!isEnabled())
        color = Quillet::withOpacity(color, 0.5);
    else if (isDown())
        color = Quillet::withOpacity(color, 0.6);
    if (hasFocus()) {
        painter.setPen(QPen(Quillet::withOpacity(Quillet::accent(), 0.5), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 3, 3);
    }
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}
