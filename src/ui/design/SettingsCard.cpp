#include "ui/design/SettingsCard.h"

#include "ui/design/Quillet.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr qreal kCornerRadius = 14;
}

SettingsCard::SettingsCard(QWidget* parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
}

void SettingsCard::addWidget(QWidget* widget)
{
    m_layout->addWidget(widget);
}

void SettingsCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, Quillet::cardFill(palette()));
    // The outline lies inside the card's edge: half a pixel in, with the radius shrunk to match.
    painter.setPen(QPen(Quillet::cardStroke(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius - 0.5, kCornerRadius - 0.5);
}
