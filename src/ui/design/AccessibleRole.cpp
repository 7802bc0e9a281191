#include "ui/design/AccessibleRole.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QLabel>
#include <QTextDocumentFragment>
#include <QWidget>

namespace {

const char* const kRoleProperty = "quilletAccessibleRole";

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

// A label read with another role keeps its text as its name.
class RoleLabel final : public QAccessibleWidget
{
public:
    RoleLabel(QLabel* label, QAccessible::Role role)
        : QAccessibleWidget(label, role)
    { }

    QString text(QAccessible::Text t) const override
    {
        const auto* label = static_cast<const QLabel*>(widget());
        if (t == QAccessible::Name && label->accessibleName().isEmpty())
            return label->textFormat() == Qt::PlainText ? label->text()
                                                        : QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        return QAccessibleWidget::text(t);
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
    return new QAccessibleWidget(widget, chosen);
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
