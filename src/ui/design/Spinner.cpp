#include "ui/design/Spinner.h"

#include "ui/design/Quillet.h"

#include <QPainter>
#include <QTimerEvent>

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMs = 1000 / kSpokes;
} // namespace

Spinner::Spinner(int diameter, QWidget* parent)
    : QWidget(parent)
    , m_diameter(diameter)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Spinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer.start(kStepMs, Qt::PreciseTimer, this);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void Spinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId())
        return QWidget::timerEvent(event);
    m_step = (m_step + 1) % kSpokes;
    update();
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = std::min(width(), height()) / 2.0;
    const QColor ink = Quillet::primary(palette());
    QPen pen(ink, std::max(1.0, radius * 0.2), Qt::SolidLine, Qt::RoundCap);
    painter.translate(QRectF(rect()).center());
    for (int i = 0; i < kSpokes; ++i) {
        // The leading spoke is darkest; the ones behind it fade to a quarter.
        const int behind = (m_step - i + kSpokes) % kSpokes;
        pen.setColor(Quillet::withOpacity(ink, 0.85 - 0.6 * behind / (kSpokes - 1)));
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.drawLine(QPointF(0, -radius * 0.5), QPointF(0, -radius + pen.widthF() / 2));
        painter.restore();
    }
}
