#include "ui/Quillet.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace {

// The cubic curves of the ease-in, ease-out and ease-in-out timing functions.
QEasingCurve bezier(QPointF first, QPointF second)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(first, second, QPointF(1, 1));
    return curve;
}

} // namespace

namespace Quillet {

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
