#include "ui/design/SymbolView.h"

#include "ui/design/Symbols.h"

#include <QPainter>

SymbolView::SymbolView(const QString& name, qreal fontPixels, Quillet::Tone tone, QWidget* parent)
    : QWidget(parent)
    , m_name(name)
    , m_fontPixels(fontPixels)
    , m_tone(tone)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setName(const QString& name)
{
    m_name = name;
    update();
}

void SymbolView::setColor(const std::optional<QColor>& color)
{
    m_color = color;
    update();
}

QSize SymbolView::sizeHint() const
{
    const int side = qRound(Symbols::sideFor(m_fontPixels));
    return { side, side };
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Symbols::paint(painter, m_name, QRectF(rect()), m_color.value_or(Quillet::color(m_tone, palette())));
}
