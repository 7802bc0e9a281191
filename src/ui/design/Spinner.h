#pragma once

#include <QBasicTimer>
#include <QWidget>

// The indeterminate progress spinner: twelve spokes whose brightest one steps round once a
// second. It turns only while shown.
class Spinner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Spinner)

public:
    explicit Spinner(int diameter = 16, QWidget* parent = nullptr);

    bool isSpinning() const { return m_timer.isActive(); }

    QSize sizeHint() const override { return { m_diameter, m_diameter }; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int m_diameter;
    int m_step = 0;
    QBasicTimer m_timer;
};
