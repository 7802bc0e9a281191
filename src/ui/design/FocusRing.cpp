#include "ui/design/FocusRing.h"

#include "ui/design/Quillet.h"

#include <QPainter>
#include <QWidget>
#include <algorithm>

namespace FocusRing {

bool shows(const QWidget& control)
{
    return control.hasFocus() && control.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void paint(QPainter& painter, const QRectF& shape, qreal radius, bool onAccent)
{
    constexpr qreal kWidth = 2;
    const qreal inset = onAccent ? 2 * kWidth - 0.5 : kWidth / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(onAccent ? QColor(Qt::white) : Quillet::accent(), kWidth));
    const qreal inner = std::max<qreal>(radius - inset, 0);
    painter.drawRoundedRect(shape.adjusted(inset, inset, -inset, -inset), inner, inner);
    painter.restore();
}

void paintUnderline(QPainter& painter, const QRectF& area)
{
    Quillet::fillRect(
        painter, QRectF(area.left(), area.bottom() - kUnderline, area.width(), kUnderline), Quillet::accent());
}

} // namespace FocusRing
