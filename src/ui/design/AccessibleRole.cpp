#include "ui/design/AccessibleRole.h"

#include "ui/design/AccessibleRows.h"
#include "ui/design/AccessibleTextField.h"
#include "ui/design/Availability.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QTextDocumentFragment>
#include <QWidget>
#include <algorithm>

namespace {

const char* const kRoleProperty = "quilletAccessibleRole";
// A painted check box that is no button keeps its state here.
const char* const kCheckedProperty = "quilletAccessibleChecked";
const char* const kChoiceAsText = "quilletChoiceAsText";

using Relations = QList<QPair<QAccessibleInterface*, QAccessible::Relation>>;

// Qt finds a control's label only among the control's siblings; a row lays its title out
// apart from its control (in a column of its own). Any label inside the control's parent
// whose buddy is the control is its label.
Relations withLabels(const QWidget& control, Relations relations, QAccessible::Relation match)
{
    if (!(match & QAccessible::Label) || !control.parentWidget())
        return relations;
    for (QLabel* label : control.parentWidget()->findChildren<QLabel*>()) {
        if (label->buddy() != &control)
            continue;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(label);
        const bool known = std::any_of(
            relations.cbegin(), relations.cend(), [face](const auto& relation) { return relation.first == face; });
        if (face && !known)
            relations.append({ face, QAccessible::Label });
    }
    return relations;
}

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
        // Held unavailable with the focus on it: unavailable to a screen reader too.
        if (!Availability::isAvailable(*button()))
            state.disabled = true;
        if (role() == QAccessible::RadioButton || role() == QAccessible::CheckBox) {
            state.checkable = true;
            state.checked = button()->isCheckable() ? button()->isChecked() : button()->property("selected").toBool();
        }
        return state;
    }

    Relations relations(QAccessible::Relation match) const override
    {
        return withLabels(*widget(), QAccessibleWidget::relations(match), match);
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (Availability::isAvailable(*button()))
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && Availability::isAvailable(*button()))
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

    Relations relations(QAccessible::Relation match) const override
    {
        return withLabels(*widget(), QAccessibleWidget::relations(match), match);
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

// A picker whose choice is its name (as Qt reads one on this platform) and its text too.
class ChoiceAsText final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ChoiceAsText(QComboBox* picker)
        : QAccessibleWidget(picker, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("activated(int)"));
    }

    QComboBox* picker() const { return static_cast<QComboBox*>(widget()); }
    QString choice() const { return picker()->currentText(); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name || t == QAccessible::Value)
            return choice();
        return QAccessibleWidget::text(t);
    }

    Relations relations(QAccessible::Relation match) const override
    {
        return withLabels(*widget(), QAccessibleWidget::relations(match), match);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = picker()->view()->isVisible();
        return state;
    }

    // The list it opens, as Qt's own picker has it.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(picker()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == picker()->view() ? 0 : -1;
    }

    QStringList actionNames() const override { return { showMenuAction(), pressAction() }; }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction())
            picker()->showPopup();
    }

    // The text: the choice, read only.
    QString text(int start, int end) const override { return choice().mid(start, end - start); }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        return AccessibleTextField::textAt(*this, offset, boundary, start, end);
    }
    int characterCount() const override { return int(choice().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override { }
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

QAccessibleInterface* roleFactory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (auto* picker = qobject_cast<QComboBox*>(widget); picker && widget->property(kChoiceAsText).toBool())
        return new ChoiceAsText(picker);
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

namespace {

void installRoleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(roleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

void AccessibleRole::set(QWidget& widget, QAccessible::Role role)
{
    installRoleFactory();
    widget.setProperty(kRoleProperty, int(role));
    // An interface made before (by an announcement of the widget) would keep the class's role.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget); made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void AccessibleRole::readAvailability(QAbstractButton& button)
{
    installRoleFactory();
    if (!button.property(kRoleProperty).isValid())
        button.setProperty(kRoleProperty, int(QAccessible::Button));
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&button);
        made && !dynamic_cast<RoleButton*>(made))
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

void AccessibleRole::readChoiceAsText(QComboBox& picker)
{
    installRoleFactory();
    picker.setProperty(kChoiceAsText, true);
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&picker);
        made && !dynamic_cast<ChoiceAsText*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}
