#pragma once

#include <QAccessible>

class QString;

// A one-line text field as a screen reader reads it: Qt's own reading, except for one answer.
// Asked for the word or the sentence at the end of its text, or before the first word of a
// text that starts with a space or a quote, Qt 6.4's field never answers, and the window
// freezes for good; Orca asks that when a person moves by word to the start of "'budget
// review". Installed once for the application, before any field is first read.
namespace AccessibleTextField {

void install();

// The item of the kind (a word, a sentence, a line, ...) at the offset of face's text, as
// Qt's textAtOffset() means it, for any text and offset: what an accessible text of our own
// answers in its place.
QString textAt(
    const QAccessibleTextInterface& face, int offset, QAccessible::TextBoundaryType boundary, int* start, int* end);

} // namespace AccessibleTextField
