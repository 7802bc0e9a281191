#include "ui/workspace/MeetingPageParts.h"

#include "ui/design/Quillet.h"

#include <QBoxLayout>
#include <QPainter>

namespace MeetingPageParts {

QWidget* readingColumn(QLayout* content, const QMargins& padding, bool centred)
{
    auto* frame = new QWidget;
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* column = new QWidget(frame);
    column->setMaximumWidth(kColumnWidth);
    content->setContentsMargins(padding);
    column->setLayout(content);
    if (centred)
        row->addStretch(1);
    row->addWidget(column, centred ? 1000 : 1);
    row->addStretch(centred ? 1 : 0);
    return frame;
}

PausedDot::PausedDot(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(7, 7);
}

void PausedDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Quillet::secondary(palette()));
    painter.drawEllipse(QRectF(rect()));
}

Pane::Pane(QWidget* parent)
    : QWidget(parent)
{
    m_animation.setDuration(200);
    m_animation.setEasingCurve(Quillet::easeInOut());
    connect(&m_animation, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { setFixedHeight(value.toInt()); });
}

void Pane::setPaneHeight(double height, bool animated)
{
    m_animation.stop();
    if (!animated || !isVisible()) {
        setFixedHeight(qRound(height));
        return;
    }
    m_animation.setStartValue(this->height());
    m_animation.setEndValue(qRound(height));
    m_animation.start();
}

void Pane::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Quillet::fillRect(painter, rect(), Quillet::cardFill(palette()));
}

} // namespace MeetingPageParts
