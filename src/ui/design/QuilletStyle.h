#pragma once

#include <QProxyStyle>

// The application's style: a base style (Fusion for Quillet's own themes, the desktop's for
// "system") with the few looks Quillet settles itself, so that they hold in light and dark
// alike: checkboxes and menus keep an edge that shows on a dark window, a toolbar's buttons show
// the keyboard's focus, a dialog's default button looks focused only while no other button is,
// and framed line edits are as tall as the pills beside them, with room between their text and
// their frame.
class QuilletStyle final : public QProxyStyle
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QuilletStyle)

public:
    // Takes the base style over; a null base is the application's default style.
    explicit QuilletStyle(QStyle* base);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
        const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(
        ContentsType type, const QStyleOption* option, const QSize& size, const QWidget* widget) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;
};
