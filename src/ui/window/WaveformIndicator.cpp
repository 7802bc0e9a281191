#include "ui/window/WaveformIndicator.h"

#include "ui/design/Quillet.h"

#include <QPainter>
#include <algorithm>

WaveformIndicator::WaveformIndicator(QWidget* parent)
    : QWidget(parent)
    , m_from(heightsFor(0, false))
    , m_to(m_from)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_progress = value.toReal();
        update();
    });
}

WaveformIndicator::Heights WaveformIndicator::heightsFor(float level, bool paused)
{
    Heights heights;
    for (int i = 0; i < kBarCount; ++i) {
        const qreal h = paused ? kMinHeight : kMinHeight + kWeights[i] * (kMaxHeight - kMinHeight) * qreal(level);
        heights[i] = std::clamp(h, kMinHeight, kMaxHeight);
    }
    return heights;
}

WaveformIndicator::Heights WaveformIndicator::heights() const
{
    Heights now;
    for (int i = 0; i < kBarCount; ++i)
        now[i] = m_from[i] + (m_to[i] - m_from[i]) * m_progress;
    return now;
}

void WaveformIndicator::setLevel(float level, bool paused)
{
    const Heights target = heightsFor(level, paused);
    const bool pausedChanged = std::exchange(m_paused, paused) != paused;
    if (target == m_to) {
        if (pausedChanged)
            update();
        return;
    }
    m_from = heights();
    m_to = target;
    m_animation.stop();
    if (!isVisible()) {
        m_progress = 1;
        return;
    }
    m_progress = 0;
    m_animation.setDuration(paused ? 300 : 150);
    m_animation.setEasingCurve(paused ? Quillet::easeOut() : Quillet::easeInOut());
    m_animation.start();
}

void WaveformIndicator::hideEvent(QHideEvent* event)
{
    m_animation.stop();
    m_progress = 1;
    QWidget::hideEvent(event);
}

QSize WaveformIndicator::sizeHint() const
{
    return QSizeF((kBarWidth + 2) * kBarCount, kMaxHeight).toSize();
}

void WaveformIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_paused ? Quillet::withOpacity(Quillet::primary(palette()), 0.2)
                              : Quillet::withOpacity(Quillet::accent(), 0.85));
    const Heights now = heights();
    const qreal stackWidth = kBarCount * kBarWidth + (kBarCount - 1) * kBarSpacing;
    qreal x = (width() - stackWidth) / 2;
    const qreal middle = height() / 2.0;
    for (const qreal h : now) {
        painter.drawRoundedRect(QRectF(x, middle - h / 2, kBarWidth, h), 1, 1);
        x += kBarWidth + kBarSpacing;
    }
}
