#include "ui/design/PlainButton.h"

#include "ui/design/Availability.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"

#include <QPainter>

namespace {
// Room around the text for the focus ring.
constexpr int kPadding = 4;
} // namespace

PlainButton::PlainButton(const QString& text, const QFont& font, Quillet::Tone tone, QWidget* parent)
    : QAbstractButton(parent)
    , m_tone(tone)
{
    setText(text);
    setFont(font);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    EnterKey::pressesButton(*this);
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
    if (!Availability::isAvailable(*this))
        color = Quillet::withOpacity(color, 0.5);
    else if (isDown())
        color = Quillet::withOpacity(color, 0.6);
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, QRectF(rect()), 4);
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}
