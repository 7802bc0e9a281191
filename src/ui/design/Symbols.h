#pragma once

#include "ui/design/Quillet.h"

#include <QIcon>
#include <QRectF>
#include <QString>

class QPainter;

// The symbols the views draw, by the names the views use ("waveform", "checkmark", ...).
// Each is a monochrome SVG compiled into the application and tinted when it is drawn, so a
// symbol follows light and dark like text does.
namespace Symbols {

bool contains(const QString& name);

// The symbol a folder is drawn with: its stored icon, or "folder" when that names no symbol.
QString forFolder(const QString& icon);

// The side of the square a symbol takes when it stands beside text of the given size.
qreal sideFor(qreal fontPixels);

// Draws the symbol centred in box, keeping its proportions, in color. Unknown names draw
// nothing.
void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color);

// An icon for actions and tool buttons that tints itself with the application palette's
// colour of tone each time it is drawn (disabled icons with the disabled colours).
QIcon icon(const QString& name, Quillet::Tone tone = Quillet::Tone::primary);

} // namespace Symbols
