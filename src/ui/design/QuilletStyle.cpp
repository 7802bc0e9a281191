#include "ui/design/QuilletStyle.h"

#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>

namespace {

// Between a line edit's frame and its text, on top of what the base style leaves.
constexpr int kLineEditPadding = 6;

// The height of a pill with a one-line label (PillButton's font and vertical padding).
int pillHeight()
{
    return qRound(QFontMetricsF(Quillet::font(12.5, QFont::Medium)).height() + 2 * 7);
}

// An edge in the window text's tone: the base styles derive theirs from the window colour,
// which leaves nothing to see on a dark one.
QColor edgeColor(const QPalette& palette, qreal opacity)
{
    return Quillet::withOpacity(palette.color(QPalette::Active, QPalette::WindowText), opacity);
}

bool isFramedLineEdit(const QStyleOption* option)
{
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    return frame && frame->lineWidth > 0;
}

bool anotherButtonHasFocus(const QWidget* widget)
{
    if (!widget)
        return false;
    const QWidget* focused = widget->window()->focusWidget();
    return focused && focused != widget && focused->hasFocus() && qobject_cast<const QAbstractButton*>(focused);
}

} // namespace

QuilletStyle::QuilletStyle(QStyle* base)
    : QProxyStyle(base)
{
    // A default button's look depends on where the focus is: it is drawn again whenever the
    // focus moves within its window.
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // Only the widget that takes the focus is looked at: the one that loses it may be
        // half destroyed.
        connect(application, &QApplication::focusChanged, this, [](QWidget*, QWidget* now) {
            if (!now)
                return;
            for (QPushButton* button : now->window()->findChildren<QPushButton*>())
                if (button->isDefault())
                    button->update();
        });
    }
}

void QuilletStyle::drawPrimitive(
    PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    // The base styles outline a dialog's default button as they outline the focused one: with
    // the focus on another button, both would look focused. The default look waits until no
    // other button holds the focus (Enter presses the focused one then anyway).
    if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option); element == PE_PanelButtonCommand
        && button && (button->features & QStyleOptionButton::DefaultButton) && anotherButtonHasFocus(widget)) {
        QStyleOptionButton plain(*button);
        plain.features &= ~QStyleOptionButton::DefaultButton;
        QProxyStyle::drawPrimitive(element, &plain, painter, widget);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    switch (element) {
    case PE_IndicatorCheckBox: {
        const bool enabled = option->state & State_Enabled;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(edgeColor(option->palette, enabled ? 0.45 : 0.2), 1));
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -1.5, -1.5), 2, 2);
        painter->restore();
        break;
    }
    case PE_PanelMenu: // Fusion's menus draw their edge here
    case PE_FrameMenu:
        painter->save();
        painter->setPen(QPen(edgeColor(option->palette, 0.3), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        break;
    default:
        break;
    }
}

void QuilletStyle::drawComplexControl(
    ComplexControl control, const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    // The base styles draw no focus on a toolbar's flat buttons: the keyboard's place among
    // them would be invisible.
    if (control == CC_ToolButton && (option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange))
        FocusRing::paint(*painter, QRectF(option->rect), 5);
}

QSize QuilletStyle::sizeFromContents(
    ContentsType type, const QStyleOption* option, const QSize& size, const QWidget* widget) const
{
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_LineEdit && isFramedLineEdit(option)) {
        result.rwidth() += 2 * kLineEditPadding;
        result.setHeight(std::max(result.height(), pillHeight()));
    }
    return result;
}

QRect QuilletStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const
{
    QRect result = QProxyStyle::subElementRect(element, option, widget);
    if (element == SE_LineEditContents && isFramedLineEdit(option))
        result.adjust(kLineEditPadding, 0, -kLineEditPadding, 0);
    return result;
}
