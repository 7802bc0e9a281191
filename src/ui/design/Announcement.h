#pragma once

#include <QAccessible>

class QLabel;
class QString;
class QWidget;

// What a screen reader says of its own accord: a state changing before a person's eyes (a
// recording that starts or pauses, an answer that has come, an error under a button), said
// once, after whatever the keyboard's focus said, and without moving the focus.
//
// The desktop's screen reader speaks neither an alert event nor a changed line away from the
// focus; it does speak a notification that comes into view. So each window keeps a few hidden
// notifications, and a text to say is the name of one of them as it is shown. What is said
// until the focus has rested a moment goes as one notification: a page that comes moves the
// focus and shows many things at once, and Orca, in such a flood, drops the notifications it
// holds.
namespace Announcement {

// Call first thing after making the label: the role it is read with where it is.
void marks(QLabel& label, QAccessible::Role role = QAccessible::StaticText);

// Shows the text and, when it is new and not empty, says it.
void setText(QLabel& label, const QString& text);

// Says the text once, from near's window; nothing while near is out of sight.
void say(QWidget& near, const QString& text);

// As say(), in place of what near said that is not said yet: news that the next makes stale (a
// search's verdict while the search is typed) is said once, as it ends. An empty text takes
// back what is not said yet.
void sayLatest(QWidget& near, const QString& text);

} // namespace Announcement
