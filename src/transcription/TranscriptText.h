#pragma once

#include <QString>
#include <QStringList>

// Text handling shared by the transcript filters. Servers may send Vietnamese decomposed
// (a base letter followed by combining marks), so every comparison runs on NFC text, and
// lengths count what a reader sees as one character, not UTF-16 units.
namespace TranscriptText {

// Lower-cased and NFC-composed; nothing trimmed.
QString folded(const QString& text);

// Number of user-perceived characters (grapheme clusters).
qsizetype characterCount(const QString& text);

// The first `count` user-perceived characters (for log lines).
QString prefix(const QString& text, qsizetype count);

// Lower-cased NFC words: pieces between code points that are not letters, marks or numbers.
QStringList words(const QString& text);

} // namespace TranscriptText
