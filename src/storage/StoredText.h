#pragma once

// How the store's texts reach the file and come back: as the bytes of the file's own encoding.
// SQLite's UTF-16 interface, which Qt's driver binds and reads every QString through, takes a
// leading U+FEFF or U+FFFE for a byte-order mark and reads U+FFFE and U+FFFF back as U+FFFD;
// bytes go through untouched.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace StoredText {

// PRAGMA encoding: a store this application made is UTF-8; a file another tool made may not be.
enum class Encoding { Utf8, Utf16le, Utf16be };
std::optional<Encoding> encodingNamed(const QString& pragmaValue);

// The UTF-8 bytes to bind in a UTF-8 file. Never a null array: Qt binds a null one as SQL NULL,
// and an empty text is a value.
QByteArray encode(const QString& text);
// A text selected as its bytes, in the file's encoding. Bytes that are not valid UTF-8 (a file
// written before texts went in as bytes may end in a surrogate of its own) read as SQLite read
// them then.
QString decode(const QByteArray& bytes, Encoding encoding);

// The text with each lone surrogate (half of a pair, as a model's JSON "\ud800" gives) made one
// U+FFFD: UTF-8 cannot hold it, and SQLite's UTF-16 reading joined it with the character after.
// A text that holds none comes back as it is, without a copy.
QString wellFormed(const QString& text);
std::optional<QString> wellFormed(const std::optional<QString>& text);
QStringList wellFormed(const QStringList& texts);
template <typename T> const T& wellFormed(const T& value)
{
    return value;
}

} // namespace StoredText
