#include "ui/design/Quillet.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <cmath>

namespace {

// The cubic curves of the ease-in, ease-out and ease-in-out timing functions.
QEasingCurve bezier(QPointF first, QPointF second)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(first, second, QPointF(1, 1));
    return curve;
}

// Below the raster engine's threshold for handing a fill to its thread pool.
constexpr int kBandRows = 64;

// A quarter of a disc of the given radius, in the colour, for one corner; made once per colour,
// radius and pixel ratio.
const QPixmap& roundedCorners(qreal radius, const QColor& color, qreal ratio)
{
    static QHash<QString, QPixmap> corners;
    const QString key = QStringLiteral("%1:%2:%3").arg(radius).arg(color.rgba(), 8, 16).arg(ratio);
    if (const auto found = corners.constFind(key); found != corners.constEnd())
        return *found;
    if (corners.size() > 64)
        corners.clear();
    const int side = int(std::ceil(2 * radius * ratio));
    QPixmap disc(side, side);
    disc.fill(Qt::transparent);
    {
        QPainter painter(&disc);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0, 0, side, side));
    }
    disc.setDevicePixelRatio(ratio);
    return *corners.insert(key, disc);
}

} // namespace

namespace Quillet {

void fillRect(QPainter& painter, const QRectF& rect, const QColor& color)
{
    for (qreal top = rect.top(); top < rect.bottom(); top += kBandRows)
        painter.fillRect(
            QRectF(rect.left(), top, rect.width(), std::min<qreal>(kBandRows, rect.bottom() - top)), color);
}

void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color)
{
    if (rect.width() < 2 * radius || rect.height() < 2 * radius || !painter.transform().isIdentity()) {
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawRoundedRect(rect, radius, radius);
        painter.restore();
        return;
    }
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap& disc = roundedCorners(radius, color, ratio);
    const qreal sourceSide = disc.width() / 2.0;
    const QRectF corner(0, 0, radius, radius);
    painter.drawPixmap(corner.translated(rect.topLeft()), disc, QRectF(0, 0, sourceSide, sourceSide));
    painter.drawPixmap(
        corner.translated(rect.right() - radius, rect.top()), disc, QRectF(sourceSide, 0, sourceSide, sourceSide));
    painter.drawPixmap(
        corner.translated(rect.left(), rect.bottom() - radius), disc, QRectF(0, sourceSide, sourceSide, sourceSide));
    painter.drawPixmap(corner.translated(rect.right() - radius, rect.bottom() - radius), disc,
        QRectF(sourceSide, sourceSide, sourceSide, sourceSide));
    const qreal inner = rect.width() - 2 * radius;
    painter.fillRect(QRectF(rect.left() + radius, rect.top(), inner, radius), color);
    painter.fillRect(QRectF(rect.left() + radius, rect.bottom() - radius, inner, radius), color);
    fillRect(painter, QRectF(rect.left(), rect.top() + radius, rect.width(), rect.height() - 2 * radius), color);
}

QColor accent()
{
    return QColor::fromRgbF(0.871f, 0.302f, 0.22f);
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QColor primary(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}
QColor secondary(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.55);
}
QColor tertiary(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.30);
}

QColor color(Tone tone, const QPalette& palette)
{
    switch (tone) {
    case Tone::primary:
        return primary(palette);
    case Tone::secondary:
        return secondary(palette);
    case Tone::tertiary:
        return tertiary(palette);
    case Tone::accent:
        return accent();
    }
    return primary(palette);
}

QColor cardFill(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.045);
}
QColor cardStroke(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.07);
}
QColor barMaterial(const QPalette& palette)
{
    return palette.color(QPalette::Window);
}

QFont font(qreal pixels, QFont::Weight weight, Design design)
{
    QFont result;
    switch (design) {
    case Design::standard:
        result = QGuiApplication::font();
        break;
    case Design::serif:
        result = QGuiApplication::font();
        result.setFamilies({ QStringLiteral("serif") });
        result.setStyleHint(QFont::Serif);
        break;
    case Design::monospaced:
        result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        break;
    }
    // Qt turns point sizes into pixels with the screen's logical DPI; dividing it back out gives
    // the fractional pixel sizes (10.5, 13.5) that QFont::setPixelSize cannot hold.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    result.setPointSizeF(pixels * 72.0 / dpi);
    result.setWeight(weight);
    return result;
}

QFont label()
{
    return font(10.5, QFont::DemiBold);
}
QFont body()
{
    return font(13.5);
}
QFont headline()
{
    return font(13, QFont::DemiBold);
}
QFont caption()
{
    return font(10);
}
QFont caption2()
{
    return font(9.5);
}

QEasingCurve easeIn()
{
    return bezier({ 0.42, 0 }, { 1, 1 });
}
QEasingCurve easeOut()
{
    return bezier({ 0, 0 }, { 0.58, 1 });
}
QEasingCurve easeInOut()
{
    return bezier({ 0.42, 0 }, { 0.58, 1 });
}

} // namespace Quillet
