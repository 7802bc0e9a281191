#include "ui/design/PillButton.h"

#include "ui/design/Availability.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/Spinner.h"
#include "ui/design/Symbols.h"

#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal kHorizontalPadding = 14;
constexpr qreal kVerticalPadding = 7;
constexpr qreal kPressedOpacity = 0.75;
constexpr qreal kPressedScale = 0.97;
// A disabled pill stays readable but plainly out of reach.
constexpr qreal kDisabledOpacity = 0.45;

QFont pillFont()
{
    return Quillet::font(12.5, QFont::Medium);
}

} // namespace

PillButton::PillButton(const QString& text, bool prominent, QWidget* parent)
    : QAbstractButton(parent)
    , m_prominent(prominent)
{
    setText(text);
    setFont(pillFont());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Reached by Tab only, so the focus ring shows for keyboard users and never after a click.
    setFocusPolicy(Qt::TabFocus);
    EnterKey::pressesButton(*this);
    m_press.setDuration(120);
    m_press.setEasingCurve(Quillet::easeOut());
    connect(&m_press, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_progress = value.toReal();
        update();
    });
    connect(this, &QAbstractButton::pressed, this, [this] { animatePress(true); });
    connect(this, &QAbstractButton::released, this, [this] { animatePress(false); });
}

void PillButton::setMark(const Mark& mark)
{
    m_mark = mark;
    if (mark.shape == Mark::Shape::spinner) {
        if (!m_spinner) {
            m_spinner = new Spinner(qRound(mark.size), this);
            m_spinner->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
        placeSpinner();
        m_spinner->show();
    } else if (m_spinner) {
        delete m_spinner;
        m_spinner = nullptr;
    }
    updateGeometry();
    update();
}

QSizeF PillButton::markSize() const
{
    switch (m_mark.shape) {
    case Mark::Shape::none:
        return {};
    case Mark::Shape::circle:
    case Mark::Shape::roundedSquare:
    case Mark::Shape::spinner:
        return { m_mark.size, m_mark.size };
    case Mark::Shape::symbol: {
        const qreal side = Symbols::sideFor(m_mark.size);
        return { side, side };
    }
    }
    return {};
}

QSize PillButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const QSizeF mark = markSize();
    qreal width = metrics.horizontalAdvance(text());
    if (!mark.isEmpty())
        width += mark.width() + (text().isEmpty() ? 0 : m_mark.spacing);
    const qreal height = std::max(metrics.height(), mark.height());
    return QSizeF(width + 2 * kHorizontalPadding, height + 2 * kVerticalPadding).toSize();
}

void PillButton::animatePress(bool down)
{
    if (!isVisible()) {
        m_progress = down ? 1 : 0;
        return;
    }
    m_press.stop();
    m_press.setStartValue(m_progress);
    m_press.setEndValue(down ? 1.0 : 0.0);
    m_press.start();
}

void PillButton::hideEvent(QHideEvent* event)
{
    m_press.stop();
    m_progress = isDown() ? 1 : 0;
    QAbstractButton::hideEvent(event);
}

QRectF PillButton::markBox() const
{
    const QSizeF mark = markSize();
    if (mark.isEmpty())
        return {};
    const QRectF bounds = QRectF(rect());
    const qreal textWidth = QFontMetricsF(font()).horizontalAdvance(text());
    const qreal spacing = text().isEmpty() ? 0 : m_mark.spacing;
    const qreal x = bounds.center().x() - (mark.width() + spacing + textWidth) / 2;
    return { QPointF(x, bounds.center().y() - mark.height() / 2), mark };
}

void PillButton::placeSpinner()
{
    if (!m_spinner)
        return;
    m_spinner->setGeometry(markBox().toAlignedRect());
    // The spinner draws in its window text colour: the pill's label colour.
    QPalette palette = m_spinner->palette();
    palette.setColor(QPalette::WindowText,
        m_prominent ? QColor(Qt::white) : Quillet::withOpacity(Quillet::primary(this->palette()), 0.82));
    m_spinner->setPalette(palette);
}

void PillButton::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    placeSpinner();
}

void PillButton::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        placeSpinner();
}

void PillButton::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    update();
}

void PillButton::paintEvent(QPaintEvent*)
{
    // The text may have changed since the spinner was placed.
    if (m_spinner)
        m_spinner->setGeometry(markBox().toAlignedRect());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    const QPointF centre = bounds.center();
    const qreal scale = 1 - (1 - kPressedScale) * m_progress;
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
    painter.setOpacity(
        (Availability::isAvailable(*this) ? 1 : kDisabledOpacity) * (1 - (1 - kPressedOpacity) * m_progress));

    const qreal radius = bounds.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(bounds, radius, radius);
    painter.fillPath(capsule, m_prominent ? Quillet::accent() : Quillet::cardFill(palette()));
    if (!m_prominent) {
        painter.setPen(QPen(Quillet::cardStroke(palette()), 1));
        painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    }
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, bounds, radius, m_prominent);

    // The label: mark and text centred together.
    const QColor foreground = m_prominent ? QColor(Qt::white) : Quillet::withOpacity(Quillet::primary(palette()), 0.82);
    const QSizeF mark = markSize();
    const QRectF box = markBox();
    qreal x = box.isEmpty() ? centre.x() - QFontMetricsF(font()).horizontalAdvance(text()) / 2 : box.left();
    if (!mark.isEmpty()) {
        const QColor color = m_mark.color.value_or(foreground);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        switch (m_mark.shape) {
        case Mark::Shape::circle:
            painter.drawEllipse(box);
            break;
        case Mark::Shape::roundedSquare:
            painter.drawRoundedRect(box, 2, 2);
            break;
        case Mark::Shape::symbol:
            Symbols::paint(painter, m_mark.symbol, box, color);
            break;
        case Mark::Shape::spinner: // a child widget of its own
        case Mark::Shape::none:
            break;
        }
        x += mark.width() + (text().isEmpty() ? 0 : m_mark.spacing);
    }
    painter.setPen(foreground);
    painter.setFont(font());
    const QRectF textBox(x, bounds.top(), bounds.right() - x, bounds.height());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}
