#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Every whole-file write of the application goes through here: the file is replaced in one
// step (readers see the old content or the new, never half), and a failure in any step leaves
// the old content in place.
//
// QSaveFile alone is not enough: on a full disk in Qt 6.4 its write() lands in a buffer and
// answers with the full count, the flush inside commit() fails, and commit() still answers true
// after renaming the empty temporary file over the real one. So every write's count and an
// explicit flush() are checked before commit(), and any failure cancels the save.
//
// Returns the failure as "<path>: <reason>", or nothing when the new content is in place.
std::optional<QString> replaceFileContents(const QString& path, const QByteArray& content);
