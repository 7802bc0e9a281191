#include "ui/SymbolLabel.h"

#include "ui/Symbols.h"

#include <QPainter>
#include <cmath>

SymbolLabel::SymbolLabel(const QString& symbol, qreal pixels, Quillet::Tone tone, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_pixels(pixels)
    , m_tone(tone)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolLabel::setSymbol(const QString& symbol)
{
    m_symbol = symbol;
    update();
}

QSize SymbolLabel::sizeHint() const
{
    const int side = int(std::ceil(Symbols::sideFor(m_pixels)));
    return { side, side };
}

void SymbolLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Symbols::paint(painter, m_symbol, QRectF(rect()), Quillet::color(m_tone, palette()));
}
