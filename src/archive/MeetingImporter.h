#pragma once

#include <QString>
#include <QStringList>

class Clock;
class MeetingArchiver;
class ModelContext;

// Rebuilds an empty store from the markdown archive in "$HOME/QuilletNotes". It only reads:
// no file is written, moved or deleted. "index.json" only tells which of two files of one
// meeting to take. The archive that writes that folder is told which file each meeting came
// from when that file is exactly the writer's text.
namespace MeetingImporter {

// When the store holds no meeting and never had one deleted, creates one meeting (source
// "imported") per readable archive file, with its title, date, duration, summary, notes,
// transcript and chat, and saves. Runs synchronously on the main thread. `clock` dates the meetings
// whose file has no readable date.
void runIfNeeded(ModelContext& context, const Clock& clock);
void runIfNeeded(ModelContext& context);
// The same, reading the archive in `folder` instead of archiveFolder(). When `folderArchive`
// writes that same folder, it is handed the file of every meeting whose file is exactly the
// writer's text before the store saves them, so that their writes go to the files they came
// from (under whatever name) and their deletion removes them; every other file stays as it is
// and its meeting gets a file of its own. Of the files of one identifier the one the folder's
// index lists is read, else the newest, else the first in byte order.
void runIfNeeded(
    ModelContext& context, const Clock& clock, const QString& folder, MeetingArchiver* folderArchive = nullptr);

// The folder the import reads, whatever the build.
QString archiveFolder();

// The ".md" files below `folder` at any depth (hidden ones too), as paths relative to it in
// byte order. Empty when the folder cannot be listed.
QStringList markdownFiles(const QString& folder);

} // namespace MeetingImporter
