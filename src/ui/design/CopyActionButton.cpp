#include "ui/design/CopyActionButton.h"

#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"

#include <QPainter>

namespace {
const QString kCheckmark = QStringLiteral("checkmark");
constexpr qreal kSymbolFont = 12;
} // namespace

CopyActionButton::CopyActionButton(
    const QString& title, const QString& icon, std::function<void()> copy, Scheduler& scheduler, QWidget* parent)
    : QAbstractButton(parent)
    , m_icon(icon)
    , m_copy(std::move(copy))
    , m_scheduler(scheduler)
{
    setToolTip(title);
    setAccessibleName(title);
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::TabFocus);
    EnterKey::pressesButton(*this);
    connect(&m_replace, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_transition = value.toReal();
        update();
    });
    connect(this, &QAbstractButton::clicked, this, &CopyActionButton::press);
}

void CopyActionButton::press()
{
    if (m_copy)
        m_copy();
    setCopied(true);
    m_scheduler.schedule(kResetDelay, this, [this] { setCopied(false); });
}

void CopyActionButton::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    m_replace.stop();
    if (isVisible()) {
        // In quickly, out slowly.
        m_replace.setDuration(copied ? 150 : 300);
        m_replace.setEasingCurve(copied ? Quillet::easeOut() : Quillet::easeIn());
        m_replace.setStartValue(0.0);
        m_replace.setEndValue(1.0);
        m_replace.start();
    } else {
        m_transition = 1;
    }
    update();
    emit copiedChanged(copied);
}

void CopyActionButton::hideEvent(QHideEvent* event)
{
    m_replace.stop();
    m_transition = 1;
    QAbstractButton::hideEvent(event);
}

void CopyActionButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.35);
    const qreal side = Symbols::sideFor(kSymbolFont);
    const QRectF box(QRectF(rect()).center() - QPointF(side, side) / 2, QSizeF(side, side));

    // The outgoing symbol shrinks and fades as the new one grows in.
    const auto draw = [&](bool copied, qreal presence) {
        if (presence <= 0)
            return;
        const qreal scale = 0.6 + 0.4 * presence;
        painter.save();
        painter.setOpacity(painter.opacity() * presence);
        painter.translate(box.center());
        painter.scale(scale, scale);
        painter.translate(-box.center());
        Symbols::paint(
            painter, copied ? kCheckmark : m_icon, box, copied ? Quillet::accent() : Quillet::secondary(palette()));
        painter.restore();
    };
    draw(!m_copied, 1 - m_transition);
    draw(m_copied, m_transition);
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, QRectF(rect()), 5);
}
