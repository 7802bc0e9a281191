#pragma once

#include <QString>

// Model output and transcripts are cut by what a reader sees as characters, so a Vietnamese
// letter with its combining marks, or an emoji sequence, is never split in half.
namespace TextPrefix {

// The first `count` grapheme clusters of text (all of it when shorter).
QString graphemes(const QString& text, qsizetype count);

} // namespace TextPrefix
