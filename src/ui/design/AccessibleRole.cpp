#include "ui/design/AccessibleRole.h"

#include "ui/design/AccessibleRows.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QLabel>
#include <QTextDocumentFragment>
#include <QWidget>

namespace {

const char* const kRoleProperty = "quilletAccessibleRole";
// A painted check box that is no button keeps its state here.
const char* const kCheckedProperty = "quilletAccessibleChecked";

void readCheckedProperty(const QWidget& widget, QAccessible::State& state)
{
    if (const QVariant checked = widget.property(kCheckedProperty); checked.isValid()) {
        state.checkable = true;
        state.checked = checked.toBool();
    }
}

// A button read with the role it acts as. Its checked state is the button's, or, for a button
// that is not checkable and keeps its selection elsewhere (a theme tile), its "selected" property.
class RoleButton final : public QAccessibleWidget
{
public:
    RoleButton(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    { }

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (role() == QAccessible::RadioButton || role() == QAccessible::CheckBox) {
            state.checkable = true;
            state.checked = button()->isCheckable() ? button()->isChecked() : button()->property("selected").toBool();
        }
        return state;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (button()->isEnabled())
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && button()->isEnabled())
            button()->click();
        else
            QAccessibleWidget::doAction(name);
    }
};

// Any other widget read with another role, with its checked state where it keeps one.
class RoleWidget : public QAccessibleWidget
{
public:
    RoleWidget(QWidget* widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    { }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        readCheckedProperty(*widget(), state);
        // A row of a list is the focus while it is the keyboard's row there; the list holds
        // the keyboard's focus for it.
        if (AccessibleRows::isCurrentRow(*widget())) {
            state.focusable = true;
            state.focused = widget()->parentWidget()->hasFocus();
        }
        return state;
    }
};

// A label read with another role keeps its text as its name.
class RoleLabel final : public RoleWidget
{
public:
    RoleLabel(QLabel* label, QAccessible::Role role)
        : RoleWidget(label, role)
    { }

    QString text(QAccessible::Text t) const override
    {
        const auto* label = static_cast<const QLabel*>(widget());
        if (t == QAccessible::Name && label->accessibleName().isEmpty())
            return label->textFormat() == Qt::PlainText ? label->text()
                                                        : QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        return RoleWidget::text(t);
    }
};

QAccessibleInterface* roleFactory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    const auto chosen = QAccessible::Role(role.toInt());
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return new RoleButton(button, chosen);
    if (auto* label = qobject_cast<QLabel*>(widget))
        return new RoleLabel(label, chosen);
    return new RoleWidget(widget, chosen);
}

} // namespace

void AccessibleRole::set(QWidget& widget, QAccessible::Role role)
{
    static const bool installed = [] {
        QAccessible::installFactory(roleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget.setProperty(kRoleProperty, int(role));
    // An interface made before (by an announcement of the widget) would keep the class's role.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget); made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void AccessibleRole::checkedChanged(QWidget& widget)
{
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(&widget, changed);
    QAccessible::updateAccessibility(&event);
}

void AccessibleRole::setChecked(QWidget& widget, bool checked)
{
    if (!widget.property(kRoleProperty).isValid())
        set(widget, QAccessible::CheckBox);
    if (widget.property(kCheckedProperty) == QVariant(checked))
        return;
    widget.setProperty(kCheckedProperty, checked);
    if (QAccessible::isActive())
        checkedChanged(widget);
}
