#include "ui/design/ScrollIndicator.h"

#include "ui/design/Quillet.h"

#include <QPainter>
#include <QStyleOptionSlider>

ScrollIndicator::ScrollIndicator(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void ScrollIndicator::paintEvent(QPaintEvent*)
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    // The thumb where the style hit-tests it, so dragging it feels as it looks.
    const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    if (slider.isEmpty() || maximum() == minimum())
        return;
    QPainter painter(this);
    const bool vertical = orientation() == Qt::Vertical;
    const qreal thickness = m_hovered || isSliderDown() ? 7 : 5;
    QRectF thumb(slider);
    if (vertical)
        thumb = QRectF(width() - thickness - 3, thumb.top() + 2, thickness, thumb.height() - 4);
    else
        thumb = QRectF(thumb.left() + 2, height() - thickness - 3, thumb.width() - 4, thickness);
    const qreal opacity = isSliderDown() ? 0.5 : m_hovered ? 0.4 : 0.28;
    Quillet::fillRoundedRect(painter, thumb, thickness / 2, Quillet::withOpacity(Quillet::primary(palette()), opacity));
}

void ScrollIndicator::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QScrollBar::enterEvent(event);
}

void ScrollIndicator::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QScrollBar::leaveEvent(event);
}
