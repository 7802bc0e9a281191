#include "ui/design/RecordingDot.h"

#include "ui/design/Quillet.h"

#include <QPainter>
#include <cmath>

namespace {
constexpr int kHalfCycleMs = 900;
constexpr qreal kFadedOpacity = 0.45;
constexpr int kRepaintIntervalMs = 33;
} // namespace

RecordingDot::RecordingDot(qreal size, QWidget* parent)
    : QWidget(parent)
    , m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_pulse.setStartValue(0.0);
    m_pulse.setEndValue(2.0);
    m_pulse.setDuration(2 * kHalfCycleMs);
    m_pulse.setLoopCount(-1);
    connect(&m_pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        // 0..1 fades out, 1..2 back in, each half on the ease-in-out curve.
        const qreal phase = value.toReal();
        const qreal half = phase <= 1 ? phase : 2 - phase;
        static const QEasingCurve curve = Quillet::easeInOut();
        m_opacity = 1 - (1 - kFadedOpacity) * curve.valueForProgress(half);
        // A slow fade looks the same at half the animation's frame rate, and every frame
        // repaints and sends the window's changed pixels to the display.
        if (!m_sinceRepaint.isValid() || m_sinceRepaint.elapsed() >= kRepaintIntervalMs) {
            m_sinceRepaint.start();
            update();
        }
    });
}

QSize RecordingDot::sizeHint() const
{
    const int side = static_cast<int>(std::ceil(m_size));
    return { side, side };
}

void RecordingDot::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_pulse.stop();
    m_opacity = 1;
    m_pulse.start();
}

void RecordingDot::hideEvent(QHideEvent* event)
{
    m_pulse.stop();
    QWidget::hideEvent(event);
}

void RecordingDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Quillet::withOpacity(Quillet::accent(), m_opacity));
    const QPointF centre = QRectF(rect()).center();
    painter.drawEllipse(centre, m_size / 2, m_size / 2);
}
