#pragma once

#include <QAccessible>

class QLabel;
class QString;
class QWidget;

// Lines that say a state changing before a person's eyes: a recording that listens or is
// paused, an error under a button. A screen reader reads such a line where it is, with the role
// given (an alert message for an error), and is told each new text as it comes: an alert event
// from the line, which Qt's bridge hands the desktop's screen reader as the line's news.
namespace Announcement {

// Call first thing after making the label.
void marks(QLabel& label, QAccessible::Role role = QAccessible::StaticText);

// Shows the text and, when it is new and not empty, tells it.
void setText(QLabel& label, const QString& text);

// Tells what the widget says now (a line that has just come into view).
void announce(QWidget& source);

} // namespace Announcement
