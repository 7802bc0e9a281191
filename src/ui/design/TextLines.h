#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// Text broken into lines the way labels and painted rows show it: at word boundaries (anywhere
// inside a word longer than a line), line breaks kept, at most maxLines lines (0: any number),
// the last shown line ending in an ellipsis when text is left over. Data is drawn as it is:
// nothing here reads markup.
namespace TextLines {

QStringList wrap(const QString& text, const QFont& font, qreal width, int maxLines);

// The number of lines wrap() gives, without making the ellipsis.
int count(const QString& text, const QFont& font, qreal width, int maxLines);

// What a one-line field counts as empty: nothing but tabs and spaces of any width (no-break
// and ideographic spaces too). A line break counts as text.
bool isBlank(const QString& text);

} // namespace TextLines
