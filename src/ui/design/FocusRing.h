#pragma once

#include <QRectF>

class QPainter;
class QWidget;

// The keyboard focus of the controls Quillet paints itself, drawn the same way everywhere.
namespace FocusRing {

// Whether a control draws its ring: it has the focus, and the focus last moved by the keyboard,
// the condition the style draws the standard controls' focus by.
bool shows(const QWidget& control);

// The ring along the inside of a control's shape, two pixels of the accent. On an accent fill
// it is white and set in from the edge, so that it stands out from the fill in both themes.
void paint(QPainter& painter, const QRectF& shape, qreal radius, bool onAccent = false);

// The focus of a borderless text field, where a ring would cut into the text: a line of the
// accent along the bottom of the area, kUnderline pixels high.
constexpr int kUnderline = 2;
void paintUnderline(QPainter& painter, const QRectF& area);

} // namespace FocusRing
