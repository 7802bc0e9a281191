#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>

// An on/off switch: a capsule track with a round knob, filled with the palette's highlight when
// on. Space and a click toggle it. Only those changes are announced by toggledByUser();
// setChecked() (a view showing a stored value) moves the knob and announces nothing there, so
// a service wired to a switch is never called because a page opened.
class Switch final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Switch)

public:
    // accessibleName: what the switch turns on and off (the title of its row).
    explicit Switch(const QString& accessibleName, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void toggledByUser(bool checked);

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override;
    void checkStateSet() override;
    bool hitButton(const QPoint& pos) const override;

private:
    void moveKnob(bool animated);

    // 0: off, 1: on; in between while the knob slides.
    qreal m_position = 0;
    bool m_userToggle = false;
    QVariantAnimation m_slide;
};
