#include "ui/design/Switch.h"

#include "ui/design/AccessibleRole.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kTrackWidth = 32;
constexpr int kTrackHeight = 18;
constexpr qreal kKnobInset = 2;
// Room around the track for the focus ring and the gap inside it.
constexpr int kMargin = 4;
} // namespace

Switch::Switch(const QString& accessibleName, QWidget* parent)
    : QAbstractButton(parent)
{
    // Read as the on/off box it is, and by the label a row gives it.
    AccessibleRole::set(*this, QAccessible::CheckBox);
    setCheckable(true);
    setAccessibleName(accessibleName);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    m_slide.setDuration(150);
    m_slide.setEasingCurve(Quillet::easeInOut());
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_position = value.toReal();
        update();
    });
    // clicked() comes from the user alone (mouse, Space, click()); toggled() also from setChecked().
    connect(this, &QAbstractButton::clicked, this, &Switch::toggledByUser);
}

QSize Switch::sizeHint() const
{
    return { kTrackWidth + 2 * kMargin, kTrackHeight + 2 * kMargin };
}

void Switch::nextCheckState()
{
    m_userToggle = true;
    QAbstractButton::nextCheckState();
    m_userToggle = false;
}

void Switch::checkStateSet()
{
    QAbstractButton::checkStateSet();
    // A value shown from the store is simply there; only the user's own change slides.
    moveKnob(m_userToggle);
}

void Switch::moveKnob(bool animated)
{
    const qreal target = isChecked() ? 1.0 : 0.0;
    m_slide.stop();
    if (!animated || !isVisible()) {
        m_position = target;
        update();
        return;
    }
    m_slide.setStartValue(m_position);
    m_slide.setEndValue(target);
    m_slide.start();
}

bool Switch::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void Switch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(kMargin, (height() - kTrackHeight) / 2.0, kTrackWidth, kTrackHeight);
    const qreal radius = kTrackHeight / 2.0;

    const QColor off = Quillet::withOpacity(Quillet::primary(palette()), 0.16);
    QColor on = palette().color(QPalette::Active, QPalette::Highlight);
    QColor fill = off;
    fill.setRgbF(off.redF() + (on.redF() - off.redF()) * float(m_position),
        off.greenF() + (on.greenF() - off.greenF()) * float(m_position),
        off.blueF() + (on.blueF() - off.blueF()) * float(m_position),
        off.alphaF() + (on.alphaF() - off.alphaF()) * float(m_position));
    if (!isEnabled())
        fill = Quillet::withOpacity(fill, 0.5);
    if (isDown())
        fill = fill.darker(108);
    QPainterPath path;
    path.addRoundedRect(track, radius, radius);
    painter.fillPath(path, fill);

    const qreal knob = kTrackHeight - 2 * kKnobInset;
    const qreal travel = kTrackWidth - kTrackHeight;
    const QRectF knobBox(track.left() + kKnobInset + travel * m_position, track.top() + kKnobInset, knob, knob);
    painter.setPen(QPen(Quillet::withOpacity(Qt::black, 0.12), 0.5));
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(0xf0, 0xf0, 0xf0));
    painter.drawEllipse(knobBox);

    // Clear of the track, so that it stands apart from an accent track too.
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, track.marginsAdded(QMarginsF(kMargin, kMargin, kMargin, kMargin)), radius + kMargin);
}
