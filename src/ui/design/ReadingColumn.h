#pragma once

#include <QScrollArea>

// A page's scrolling reading column: the content in a column no wider than a measure that
// reads well, centred on the page or kept at its leading side. Its scroll bar is the slim
// indicator, always there and drawn only when there is something to scroll, so the column
// keeps its place when the content grows past the page. It paints no background: the page or
// panel behind it shows through, in the palette of the moment. Whatever the keyboard moves the
// focus to inside it is scrolled into view, from outside the column as from inside.
class ReadingColumn final : public QScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReadingColumn)

public:
    enum class Placement { Centred, Leading };
    Q_ENUM(Placement)

    ReadingColumn(int maximumWidth, Placement placement, QWidget* parent = nullptr);

    // Lay the content out on this widget.
    QWidget* column() const { return m_column; }

    // Scrolls the column that holds the widget, if one does, until the widget's current part
    // shows: its cursor rectangle where it names one (a list's current row), else all of it.
    static void reveal(QWidget& widget);
    // What reveal() shows of a control: also the part of the column around it that belongs to
    // it (its caption, a message under it), the control first where not all of it fits. The
    // part is one of the control's ancestors.
    static void revealWith(QWidget& control, QWidget& part);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_canvas;
    QWidget* m_column;
};
