#include "ui/design/SymbolButton.h"

#include "ui/design/Availability.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Symbols.h"

#include <QEvent>
#include <QPainter>

namespace {
// Room around the symbol and text for the focus ring.
constexpr qreal kRingRoomX = 4;
constexpr qreal kRingRoomY = 3;
} // namespace

SymbolButton::SymbolButton(const Look& look, QWidget* parent)
    : QAbstractButton(parent)
    , m_look(look)
{
    setText(look.text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    EnterKey::pressesButton(*this);
    setCursor(Qt::PointingHandCursor);
    if (!look.frame.isEmpty())
        setFixedSize(look.frame);
}

void SymbolButton::setTone(Quillet::Tone tone)
{
    if (tone != m_tone) {
        m_tone = tone;
        update();
    }
}

void SymbolButton::setColor(const std::optional<QColor>& color)
{
    m_color = color;
    update();
}

void SymbolButton::setSymbolRotation(qreal degrees)
{
    m_rotation = degrees;
    update();
}

void SymbolButton::setSymbol(const QString& symbol)
{
    m_look.symbol = symbol;
    update();
}

QSize SymbolButton::sizeHint() const
{
    if (!m_look.frame.isEmpty())
        return m_look.frame;
    const qreal side = Symbols::sideFor(m_look.symbolSize);
    qreal width = side;
    qreal height = side;
    if (!text().isEmpty()) {
        const QFontMetricsF metrics(m_look.font);
        width += m_look.spacing + metrics.horizontalAdvance(text());
        height = std::max(height, metrics.height());
    }
    return QSizeF(width + 2 * kRingRoomX, height + 2 * kRingRoomY).toSize();
}

bool SymbolButton::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTipChange && text().isEmpty()
        && (accessibleName().isEmpty() || accessibleName() == m_nameFromHelp)) {
        m_nameFromHelp = toolTip();
        setAccessibleName(m_nameFromHelp);
    }
    return QAbstractButton::event(event);
}

void SymbolButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(Availability::isAvailable(*this) ? 1.0 : m_look.disabledOpacity);
    const QColor ink = m_color.value_or(Quillet::color(m_tone, palette()));
    const qreal side = Symbols::sideFor(m_look.symbolSize);
    const qreal spacing = m_look.spacing;
    qreal contentWidth = side;
    const QFontMetricsF metrics(m_look.font);
    if (!text().isEmpty())
        contentWidth += spacing + metrics.horizontalAdvance(text());
    // Centred in a fixed frame, else from the leading edge.
    const qreal left = m_look.frame.isEmpty() ? kRingRoomX : (width() - contentWidth) / 2;
    const QRectF symbol(left, (height() - side) / 2, side, side);
    painter.save();
    if (m_rotation != 0) {
        painter.translate(symbol.center());
        painter.rotate(m_rotation);
        painter.translate(-symbol.center());
    }
    Symbols::paint(painter, m_look.symbol, symbol, ink);
    painter.restore();
    if (!text().isEmpty()) {
        painter.setFont(m_look.font);
        painter.setPen(ink);
        painter.drawText(
            QRectF(symbol.right() + spacing, 0, width(), height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
    if (FocusRing::shows(*this)) {
        painter.setOpacity(1);
        FocusRing::paint(painter, QRectF(rect()), 5);
    }
}
