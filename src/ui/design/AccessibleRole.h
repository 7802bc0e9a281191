#pragma once

#include <QAccessible>

class QAbstractButton;
class QComboBox;
class QWidget;

// What a screen reader takes a widget for when its class says otherwise: a painted tile that
// acts as a radio button, a plain window that is a dialog, lines painted as text. Call it
// before anything of the widget is announced (first thing in its constructor).
namespace AccessibleRole {

void set(QWidget& widget, QAccessible::Role role);

// A button that may be held unavailable with the focus on it (Availability) is read as
// unavailable then; call it before the button is first announced.
void readAvailability(QAbstractButton& button);

// Tells a screen reader that a button set as a radio button or a check box was checked or
// unchecked; a painted button that keeps its state elsewhere calls it when that state moves.
void checkedChanged(QWidget& widget);

// A widget that is no button read as a check box (unless set() gave it another role), ticked
// or not; a change is told.
void setChecked(QWidget& widget, bool checked);

// A picker named by a label (QLabel::setBuddy) whose shown choice is still read: a screen
// reader reads the label in place of the picker's name, which is the choice, and finds the
// choice again only as the picker's text.
void readChoiceAsText(QComboBox& picker);

} // namespace AccessibleRole
