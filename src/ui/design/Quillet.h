#pragma once

#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QPalette>

class QPainter;

// The design tokens every view draws with; views use these instead of restating values.
// Colours that follow light and dark are derived from the palette they are painted with, at
// paint time, so a theme switch needs no bookkeeping in the views.
// Sizes are logical pixels: a font of N gets N logical pixels, whatever the screen's DPI.
namespace Quillet {

// The colours text and symbols are drawn in.
enum class Tone { primary, secondary, tertiary, accent };

QColor accent();
// Window text at 100 %, 55 % and 30 %.
QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor color(Tone tone, const QPalette& palette);
// Window text at 4.5 % and 7 %: the tint and outline of cards and plain pills.
QColor cardFill(const QPalette& palette);
QColor cardStroke(const QPalette& palette);
// The background of bars along the window's edges.
QColor barMaterial(const QPalette& palette);
QColor withOpacity(QColor color, qreal opacity);

enum class Design { standard, serif, monospaced };

// The application's font (or the serif or fixed family) at a size in logical pixels.
QFont font(qreal pixels, QFont::Weight weight = QFont::Normal, Design design = Design::standard);

QFont label(); // 10.5 semibold: small section labels
QFont body(); // 13.5
QFont headline(); // 13 semibold
QFont caption(); // 10
QFont caption2(); // 9.5

// Fills a rectangle, or a rounded one, with a colour, alpha included. The raster engine hands
// any fill of more than about 96 spans to its thread pool and waits for it, which costs far
// more than the fill itself for the tinted bubbles and panes the views paint many times a
// second; these fill in bands short enough to stay on the calling thread, with the corners
// drawn once and kept.
void fillRect(QPainter& painter, const QRectF& rect, const QColor& color);
void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color);

// The animation curves the views use.
QEasingCurve easeIn();
QEasingCurve easeOut();
QEasingCurve easeInOut();

} // namespace Quillet
