#include "ui/settings/ThemeTile.h"

#include "platform/Settings.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/ThemeController.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr QSizeF kCard { 78, 52 };
constexpr qreal kCardRadius = 7;
constexpr qreal kCardPadding = 10;
constexpr qreal kNameSpacing = 8;
// Room for the half of the selected outline that lies outside the card and, clear of it, the
// focus ring.
constexpr qreal kOutlineRoom = 4;

struct Bar
{
    qreal width;
    qreal opacity; // of the scheme's text colour; 0 for the accent bar
};
constexpr Bar kBars[] = { { 22, 0 }, { 44, 0.35 }, { 36, 0.18 } };
constexpr qreal kBarHeight = 3;
constexpr qreal kBarSpacing = 3;

} // namespace

ThemeTile::ThemeTile(const QString& name, const QString& value, Settings& settings, QWidget* parent)
    : QAbstractButton(parent)
    , m_value(value)
    , m_settings(settings)
{
    // One of three exclusive choices, read as a radio button of the tiles' group.
    AccessibleRole::set(*this, QAccessible::RadioButton);
    setText(name);
    setFont(Quillet::caption());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    EnterKey::pressesButton(*this);
    connect(this, &QAbstractButton::clicked, this, [this] { m_settings.set(SettingsKeys::appTheme, m_value); });
    connect(&m_settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::appTheme.is(key)) {
            update();
            AccessibleRole::checkedChanged(*this);
        }
    });
}

// The arrows move along the tiles, as in any group of radio buttons, and stop at either end: a
// plain button's arrows would go on to the next control ("Back"), where Enter acts.
void ThemeTile::keyPressEvent(QKeyEvent* event)
{
    const bool reversed = layoutDirection() == Qt::RightToLeft;
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Up:
        step = -1;
        break;
    case Qt::Key_Down:
        step = 1;
        break;
    case Qt::Key_Left:
        step = reversed ? 1 : -1;
        break;
    case Qt::Key_Right:
        step = reversed ? -1 : 1;
        break;
    default:
        QAbstractButton::keyPressEvent(event);
        return;
    }
    if (!parentWidget())
        return;
    const QList<ThemeTile*> row = parentWidget()->findChildren<ThemeTile*>(Qt::FindDirectChildrenOnly);
    const qsizetype next = row.indexOf(this) + step;
    if (next >= 0 && next < row.size())
        row.at(next)->setFocus(Qt::TabFocusReason);
}

bool ThemeTile::isSelected() const
{
    return m_settings.get(SettingsKeys::appTheme) == m_value;
}

QSize ThemeTile::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const qreal width = std::max(kCard.width() + 2 * kOutlineRoom, metrics.horizontalAdvance(text()));
    const qreal height = kOutlineRoom + kCard.height() + kOutlineRoom + kNameSpacing + metrics.height();
    return QSizeF(width, height).toSize() + QSize(1, 1);
}

QRectF ThemeTile::cardRect() const
{
    return { QPointF((width() - kCard.width()) / 2, kOutlineRoom), kCard };
}

void ThemeTile::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool selected = isSelected();
    const bool dark = m_value == QLatin1String("dark");
    const QRectF card = cardRect();
    QPainterPath outline;
    outline.addRoundedRect(card, kCardRadius, kCardRadius);

    // The preview is drawn in its own scheme, whatever the application's is: the "system" card
    // looks like the light one.
    painter.save();
    painter.setClipPath(outline);
    painter.fillRect(card, dark ? QColor::fromRgbF(0, 0, 0, 0.85f) : QColor(Qt::white));
    const QColor ink
        = (dark ? ThemeController::darkPalette() : ThemeController::lightPalette()).color(QPalette::WindowText);
    painter.setPen(Qt::NoPen);
    qreal y = card.top() + kCardPadding;
    for (const Bar& bar : kBars) {
        painter.setBrush(bar.opacity == 0 ? Quillet::accent() : Quillet::withOpacity(ink, bar.opacity));
        painter.drawRoundedRect(QRectF(card.left() + kCardPadding, y, bar.width, kBarHeight), 1.5, 1.5);
        y += kBarHeight + kBarSpacing;
    }
    painter.restore();

    painter.setBrush(Qt::NoBrush);
    painter.setPen(selected ? QPen(Quillet::accent(), 2) : QPen(Quillet::cardStroke(palette()), 1));
    painter.drawPath(outline);
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, card.adjusted(-kOutlineRoom, -kOutlineRoom, kOutlineRoom, kOutlineRoom),
            kCardRadius + kOutlineRoom);

    painter.setPen(selected ? Quillet::primary(palette()) : Quillet::secondary(palette()));
    painter.setFont(font());
    const QRectF nameBox(0, card.bottom() + kOutlineRoom + kNameSpacing, width(), QFontMetricsF(font()).height());
    painter.drawText(nameBox, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text());
}
