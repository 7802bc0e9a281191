#pragma once

#include "archive/ArchiveIndex.h"
#include "archive/MeetingSnapshot.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>
#include <functional>
#include <optional>

// The file work of the archive, run synchronously on whatever thread calls it (the archive's
// worker thread in the application), one call at a time. The index is read once and kept: a
// call reads the file again only when it is not the one this writer last read or wrote (its
// size or times differ: someone else changed it), and writes it only when an entry changed
// (a new file, a new name or date, a removal), never for an edit inside a file.
//
// The folder is the person's too, and its index may have been changed by anyone: no file is
// replaced or removed unless notOwnFile() finds it the meeting's own, whatever the index says.
class ArchiveWriter final
{
public:
    explicit ArchiveWriter(QString root);

    // Writes the meeting's file and index entry. A new file is listed in the index before it is
    // written, and a file under an earlier name is removed once the new one is written. Returns
    // a description of the failure, in which case the index lists what it did before and every
    // file of the meeting is kept. A meeting whose entry keeps its path is written to that file,
    // whatever its title and date, while the file is its own.
    std::optional<QString> archive(const MeetingSnapshot& snapshot);

    // Archives every snapshot the index does not hold yet, listing them in the index 100 at a
    // time before their files are written. Failures are skipped (a failed index write is
    // logged). Returns files written.
    int backfill(const QList<MeetingSnapshot>& snapshots);

    // Drops the meeting's entry and removes its file; an unknown identifier changes nothing.
    // Returns the failure when the index could not be written (the entry is then still listed).
    std::optional<QString> remove(const QUuid& meetingId);

    // Lists meetings the import read from files of this folder under the files' paths, so that
    // they are written to those files and their deletion removes them. Only a file that is
    // exactly the writer's text for its meeting is listed (the import hands over no other). A
    // file named as the writer would name it is renamed with its title as usual; any other
    // keeps its name. Returns the failure when the index could not be written.
    std::optional<QString> adopt(const QList<QPair<MeetingSnapshot, QString>>& files);

    // The meetings the index holds.
    QSet<QUuid> indexedIds();

    // Drops every entry whose meeting is not in `storedIds`, removing the files they list.
    // An empty set changes nothing. Returns the entries dropped (a failed index write is logged).
    int prune(const QSet<QUuid>& storedIds);

    // The first job of a launch: deletes the temporary files that a write ended before its
    // commit left behind, and reads the index, which finishes what an ended process left
    // half done (see ArchiveIndexEntry::replaces).
    void start();

    QString indexFilePath() const;

    // Called, on the writer's thread, with words for the person each time the index file could
    // not be read and was rebuilt from the folder.
    void setIndexRebuilt(std::function<void(const QString& reason)> told) { m_indexRebuilt = std::move(told); }

    // The moments between the steps of a change, where a process may end. Tests end it there.
    enum class Step { indexWritten, fileWritten, fileRemoved };
    void setStepHook(std::function<void(Step)> hook) { m_stepHook = std::move(hook); }

    // Why the file at `relativePath` is not the meeting's own to replace or remove, or nothing
    // when it is: a path inside the archive folder, in any spelling, with no symbolic link on
    // the way, naming a markdown file that is absent, or whose front matter carries the
    // meeting's identifier and that the index lists for the meeting (`listed`) or that holds
    // exactly the writer's text. `unsafe` tells a path that must never be written (outside the
    // folder, through a link) from a file that is someone else's.
    struct Refusal
    {
        QString why;
        bool unsafe = false;
    };
    std::optional<Refusal> notOwnFile(const QString& relativePath, const QUuid& id, bool listed) const;

private:
    // The index as the file holds it, read again when the file is not the one last seen. An
    // index that cannot be read is rebuilt from the folder and the person told.
    ArchiveIndex& index();
    ArchiveIndex rebuiltIndex() const;
    // Finishes or undoes the changes an ended process left listed as unconfirmed.
    bool settle(ArchiveIndex& index) const;
    // The writer's own path for the snapshot, before any suffix that tells two meetings apart.
    QString ownPath(const MeetingSnapshot& snapshot) const;
    // Where the meeting's file goes: its kept path, its own, or its own with the identifier
    // suffix, the first that is free and not someone else's file.
    std::optional<QString> target(
        const MeetingSnapshot& snapshot, const ArchiveIndex& index, QString& path, bool& keepsPath) const;
    // Why a write to `relativePath` must not happen, or std::nullopt when it may.
    std::optional<QString> unsafeWriteTarget(const QString& relativePath) const;
    // Removes the file when it is the meeting's own and no other meeting is listed at it.
    void removeOwnFile(const QString& relativePath, const ArchiveIndex& index, const QString& id) const;
    // Writes the index; a failure is returned, and the index is read from the file again by
    // the next call.
    std::optional<QString> writeIndex();
    // The same, logging a failure as an archive failure.
    bool saveIndex();
    void step(Step step) const;

    QString m_root;
    std::function<void(const QString&)> m_indexRebuilt;
    std::function<void(Step)> m_stepHook;
    std::optional<ArchiveIndex> m_index;
    // What the index file looked like when it was last read or written.
    QString m_indexSeen;
    // Why the index last read could not be read, once the person was told.
    QString m_toldUnreadable;
};
