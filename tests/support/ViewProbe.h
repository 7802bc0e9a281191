#pragma once

// What a user sees of a view: its widgets that are shown, found by the text they show.
//
//   QTest::mouseClick(ViewProbe::button(view, "Send link"), Qt::LeftButton);
//   QVERIFY(ViewProbe::texts(view).contains("Check your email"));

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace ViewProbe {

inline bool isShown(const QWidget& root, const QWidget* widget)
{
    return widget == &root || widget->isVisibleTo(&root);
}

inline QString textOf(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    return {};
}

// Every text shown, labels and buttons alike, in the order the widgets were made.
inline QStringList texts(const QWidget& root)
{
    QStringList shown;
    for (const QWidget* widget : root.findChildren<QWidget*>())
        if (isShown(root, widget) && !textOf(widget).isEmpty())
            shown.append(textOf(widget));
    return shown;
}

// The one shown widget of the type with the text; null when there is none.
template <typename Widget = QAbstractButton> Widget* find(const QWidget& root, const QString& text)
{
    for (Widget* widget : root.findChildren<Widget*>())
        if (isShown(root, widget) && textOf(widget) == text)
            return widget;
    return nullptr;
}

inline QAbstractButton* button(const QWidget& root, const QString& text)
{
    return find<QAbstractButton>(root, text);
}

inline QLabel* label(const QWidget& root, const QString& text)
{
    return find<QLabel>(root, text);
}

// The shown text field with the placeholder.
inline QLineEdit* field(const QWidget& root, const QString& placeholder)
{
    for (QLineEdit* edit : root.findChildren<QLineEdit*>())
        if (isShown(root, edit) && edit->placeholderText() == placeholder)
            return edit;
    return nullptr;
}

// Presses the shown button with the text; false when there is none or it is disabled.
inline bool click(const QWidget& root, const QString& text)
{
    QAbstractButton* target = button(root, text);
    if (!target || !target->isEnabled())
        return false;
    QTest::mouseClick(target, Qt::LeftButton);
    return true;
}

} // namespace ViewProbe
