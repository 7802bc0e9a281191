#include "ui/SymbolButton.h"

#include "ui/Symbols.h"

#include <QPainter>

namespace {
// Room around the symbol for the focus ring.
constexpr int kPadding = 2;
} // namespace

SymbolButton::SymbolButton(const QString& symbol, qreal fontPixels, Quillet::Tone tone, QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_fontPixels(fontPixels)
    , m_tone(tone)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void SymbolButton::setSymbol(const QString& symbol, const std::optional<QColor>& color)
{
    if (symbol == m_symbol && color == m_color)
        return;
    m_symbol = symbol;
    m_color = color;
    update();
}

QSize SymbolButton::sizeHint() const
{
    const int side = qRound(Symbols::sideFor(m_fontPixels)) + 2 * kPadding;
    return { side, side };
}

void SymbolButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = m_color.value_or(Quillet::color(m_tone, palette()));
    if (!isEnabled())
        color = Quillet::withOpacity(color, 0.5);
    else if (isDown())
        color = Quillet::withOpacity(color, 0.6);
    if (hasFocus()) {
        painter.setPen(QPen(Quillet::withOpacity(Quillet::accent(), 0.5), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 3, 3);
    }
    Symbols::paint(painter, m_symbol, QRectF(rect()).adjusted(kPadding, kPadding, -kPadding, -kPadding), color);
}
