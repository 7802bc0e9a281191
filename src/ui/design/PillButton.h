#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>
#include <optional>

class Spinner;

// The capsule button: filled with the accent colour when prominent, else tinted like a card
// with a hairline outline. Pressed, it dims to 75 % and shrinks to 97 % over 0.12 s.
class PillButton final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PillButton)

public:
    // A small mark before the text: a dot, a rounded square, a symbol or a turning spinner
    // (for a button whose work is under way; the text may then be empty).
    struct Mark
    {
        enum class Shape { none, circle, roundedSquare, symbol, spinner };
        Shape shape = Shape::none;
        qreal size = 0; // diameter, side, the symbol's font size, or the spinner's diameter
        QString symbol; // Shape::symbol
        std::optional<QColor> color; // none: the button's text colour
        qreal spacing = 6; // between the mark and the text
    };

    PillButton(const QString& text, bool prominent, QWidget* parent = nullptr);

    bool isProminent() const { return m_prominent; }
    void setMark(const Mark& mark);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // How far the pressed look has come, 0 (released) to 1 (pressed).
    qreal pressProgress() const { return m_progress; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void animatePress(bool down);
    QSizeF markSize() const;
    // Where the mark goes: centred together with the text.
    QRectF markBox() const;
    void placeSpinner();

    bool m_prominent;
    Mark m_mark;
    qreal m_progress = 0;
    QVariantAnimation m_press;
    Spinner* m_spinner = nullptr;
};
