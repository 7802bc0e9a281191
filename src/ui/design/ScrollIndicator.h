#pragma once

#include <QScrollBar>

// A scroll bar drawn as a slim rounded thumb over nothing, for the reading columns and feeds.
// It scrolls like any scroll bar; only its look differs, and that look is cheap to repaint,
// which matters for views that scroll on every new line.
class ScrollIndicator final : public QScrollBar
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScrollIndicator)

public:
    explicit ScrollIndicator(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hovered = false;
};
