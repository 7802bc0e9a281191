#pragma once

#include <QElapsedTimer>
#include <QVariantAnimation>
#include <QWidget>

// The accent dot that marks a live recording. While it is on screen it fades between full
// opacity and 0.45 and back, 0.9 s each way; it starts again from full opacity each time it is
// shown and stands still while hidden.
class RecordingDot final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecordingDot)

public:
    explicit RecordingDot(qreal size, QWidget* parent = nullptr);

    qreal opacity() const { return m_opacity; }
    bool isPulsing() const { return m_pulse.state() == QAbstractAnimation::Running; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    qreal m_size;
    qreal m_opacity = 1;
    // One full cycle, out and back; the curve is applied to each half.
    QVariantAnimation m_pulse;
    QElapsedTimer m_sinceRepaint;
};
