#pragma once

#include "ui/design/FocusRing.h"

#include <QFocusEvent>
#include <QPaintEvent>
#include <QPainter>

// A borderless text field (a QTextEdit or QPlainTextEdit) underlined in the accent while the
// keyboard's focus is in it: without a frame, its caret alone is easily missed. The line is
// drawn along the bottom of the viewport, where the field keeps FocusRing::kUnderline pixels
// of room below its text.
template <typename Field> class FocusUnderlined : public Field
{
public:
    using Field::Field;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        Field::paintEvent(event);
        if (!FocusRing::shows(*this))
            return;
        QPainter painter(this->viewport());
        FocusRing::paintUnderline(painter, QRectF(this->viewport()->rect()));
    }

    void focusInEvent(QFocusEvent* event) override
    {
        Field::focusInEvent(event);
        this->viewport()->update();
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        Field::focusOutEvent(event);
        this->viewport()->update();
    }
};
