#include "ui/workspace/LatestCapsule.h"

#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"

#include <QPainter>
#include <QtMath>

namespace {

constexpr int kPresenceMs = 180;

} // namespace

LatestCapsule::LatestCapsule(QWidget* parent)
    : QAbstractButton(parent)
{
    setToolTip(QStringLiteral("Jump to the newest line"));
    setAccessibleName(QStringLiteral("Latest"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    m_presence.setDuration(kPresenceMs);
    m_presence.setEasingCurve(Quillet::easeOut());
    connect(&m_presence, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_progress = value.toReal();
        update();
    });
    connect(&m_presence, &QVariantAnimation::finished, this, [this] {
        if (!m_present)
            hide();
    });
    hide();
    resize(sizeHint());
}

void LatestCapsule::setPresent(bool present)
{
    if (present == m_present)
        return;
    m_present = present;
    m_presence.stop();
    if (!isVisibleTo(parentWidget()) && !present)
        return;
    if (present) {
        show();
        raise();
    }
    // Hidden parents get no frames: go straight to the end.
    if (!parentWidget()->isVisible()) {
        m_progress = present ? 1 : 0;
        setVisible(present);
        return;
    }
    m_presence.setStartValue(m_progress);
    m_presence.setEndValue(present ? 1.0 : 0.0);
    m_presence.start();
}

QSize LatestCapsule::sizeHint() const
{
    const QSizeF capsule = capsuleSize();
    return QSize(qCeil(capsule.width()) + 2 * kShadowMargin, qCeil(capsule.height()) + 2 * kShadowMargin);
}

void LatestCapsule::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_progress);
    const QSizeF size = capsuleSize();
    const QRectF capsule(QPointF(kShadowMargin, kShadowMargin + (1 - m_progress) * (size.height() + 12)), size);
    const qreal radius = capsule.height() / 2;
    // A soft shadow, 2 below, fading out over 6.
    for (int i = 6; i >= 1; --i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, int(255 * 0.22 / 6 * (7 - i) / 3.5)));
        const QRectF spread = capsule.translated(0, 2).adjusted(-i / 2.0, -i / 2.0, i / 2.0, i / 2.0);
        painter.drawRoundedRect(spread, radius + i / 2.0, radius + i / 2.0);
    }
    painter.setBrush(Quillet::barMaterial(palette()));
    painter.drawRoundedRect(capsule, radius, radius);
    painter.setPen(QPen(Quillet::withOpacity(Quillet::primary(palette()), 0.14), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(capsule.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

    const QColor ink = Quillet::primary(palette());
    const qreal side = Symbols::sideFor(9);
    QRectF symbol(capsule.left() + 11, capsule.center().y() - side / 2, side, side);
    Symbols::paint(painter, QStringLiteral("arrow.down"), symbol, ink);
    painter.setFont(textFont());
    painter.setPen(ink);
    painter.drawText(QRectF(symbol.right() + 5, capsule.top(), capsule.right() - symbol.right() - 5, capsule.height()),
        Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Latest"));
}

QFont LatestCapsule::textFont()
{
    return Quillet::font(11, QFont::Medium);
}

QSizeF LatestCapsule::capsuleSize() const
{
    const QFontMetricsF metrics(textFont());
    const qreal side = Symbols::sideFor(9);
    return QSizeF(11 + side + 5 + metrics.horizontalAdvance(QStringLiteral("Latest")) + 11,
        std::max(side, metrics.height()) + 12);
}
