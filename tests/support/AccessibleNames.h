#pragma once

// What a screen reader finds of a view's controls, read in-process through QAccessible: every
// control a person can reach (shown, and focusable or a kind of control) must have a name.
//
//   QVERIFY2(AccessibleNames::unnamed(view).isEmpty(), qPrintable(AccessibleNames::unnamed(view).join('\n')));
//   QCOMPARE(AccessibleNames::find(view, "Dark")->role(), QAccessible::RadioButton);

#include <QAccessible>
#include <QApplication>
#include <QStringList>
#include <QWidget>
#include <functional>

namespace AccessibleNames {

// The roles a person operates; an object of one of them is a control even while it cannot
// take the focus (a disabled button is still read).
inline bool isControlRole(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::PageTab:
    case QAccessible::Link:
        return true;
    default:
        return false;
    }
}

inline bool isReachable(QAccessibleInterface& face)
{
    const QAccessible::State state = face.state();
    if (state.invisible || state.offscreen)
        return false;
    return state.focusable || isControlRole(face.role());
}

// Calls visit for every object of the tree under root that is shown, depth first.
inline void walk(QAccessibleInterface* face, const std::function<void(QAccessibleInterface&)>& visit, int depth = 0)
{
    // A tree that points back at itself would never end.
    if (!face || !face->isValid() || depth > 64 || face->state().invisible)
        return;
    visit(*face);
    for (int i = 0; i < face->childCount(); ++i)
        walk(face->child(i), visit, depth + 1);
}

inline QString describe(QAccessibleInterface& face)
{
    QString what = QStringLiteral("role %1").arg(int(face.role()));
    if (QObject* object = face.object()) {
        what += QStringLiteral(" %1").arg(QString::fromLatin1(object->metaObject()->className()));
        if (!object->objectName().isEmpty())
            what += QStringLiteral(" \"%1\"").arg(object->objectName());
        if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->parentWidget())
            what
                += QStringLiteral(" in %1").arg(QString::fromLatin1(widget->parentWidget()->metaObject()->className()));
    }
    const QString description = face.text(QAccessible::Description);
    if (!description.isEmpty())
        what += QStringLiteral(" (described as \"%1\")").arg(description);
    return what;
}

// Every reachable control under root that a screen reader would read without a name.
inline QStringList unnamed(QWidget& root)
{
    QStringList found;
    walk(QAccessible::queryAccessibleInterface(&root), [&found](QAccessibleInterface& face) {
        if (isReachable(face) && face.text(QAccessible::Name).trimmed().isEmpty())
            found.append(describe(face));
    });
    return found;
}

// The same, for every window the application shows (the questions and alerts included).
inline QStringList unnamedInShownWindows()
{
    QStringList found;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible())
            found += unnamed(*window);
    return found;
}

// Every widget of the shown windows that is shown and takes the focus by Tab, and has no name.
// A widget that hands its focus to another is no stop of its own.
inline QStringList unnamedFocusableInShownWindows()
{
    QStringList found;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisible() || !(widget->focusPolicy() & Qt::TabFocus) || widget->focusProxy())
                continue;
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
            if (face && face->text(QAccessible::Name).trimmed().isEmpty())
                found.append(describe(*face));
        }
    }
    return found;
}

// The shown object under root with the name; null when there is none.
inline QAccessibleInterface* find(QWidget& root, const QString& name)
{
    QAccessibleInterface* hit = nullptr;
    walk(QAccessible::queryAccessibleInterface(&root), [&](QAccessibleInterface& face) {
        if (!hit && face.text(QAccessible::Name) == name)
            hit = &face;
    });
    return hit;
}

// The names of the shown objects under root with the role, in the tree's order.
inline QStringList namesWithRole(QWidget& root, QAccessible::Role role)
{
    QStringList names;
    walk(QAccessible::queryAccessibleInterface(&root), [&](QAccessibleInterface& face) {
        if (face.role() == role)
            names.append(face.text(QAccessible::Name));
    });
    return names;
}

} // namespace AccessibleNames

// Fails the test with the list of unnamed controls under the widget.
#define QUILLET_VERIFY_ALL_NAMED(root)                                                                                 \
    do {                                                                                                               \
        const QStringList quilletUnnamed = AccessibleNames::unnamed(root);                                             \
        QVERIFY2(quilletUnnamed.isEmpty(),                                                                             \
            qPrintable(QStringLiteral("unnamed: ") + quilletUnnamed.join(QStringLiteral("; "))));                      \
    } while (false)
