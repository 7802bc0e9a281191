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
class ArchiveWriter final
{
public:
    explicit ArchiveWriter(QString root);

    // Writes the meeting's file and index entry; a file under an earlier name is deleted once
    // the index lists the new one. Returns a description of the failure, in which case the
    // index is unchanged and any earlier file of the meeting is kept. A meeting whose entry
    // keeps its path is written to that file, whatever its title and date.
    std::optional<QString> archive(const MeetingSnapshot& snapshot);

    // Archives every snapshot the index does not hold yet, saving the index every 100 files and
    // at the end. Failures are skipped (a failed index write is logged). Returns files written.
    int backfill(const QList<MeetingSnapshot>& snapshots);

    // Drops the meeting's entry and deletes its file; an unknown identifier changes nothing.
    // Returns the failure when the index could not be written (the entry is then still listed).
    std::optional<QString> remove(const QUuid& meetingId);

    // Lists meetings the import read from files of this folder under the files' paths, so that
    // they are written to those files and their deletion removes them. A file named as the
    // writer would name it is renamed with its title as usual; any other keeps its name.
    // Returns the failure when the index could not be written.
    std::optional<QString> adopt(const QList<QPair<MeetingSnapshot, QString>>& files);

    // The meetings the index holds; none when it is missing or unreadable.
    QSet<QUuid> indexedIds();

    // Drops every entry whose meeting is not in `storedIds`, deleting the files they list.
    // An empty set changes nothing. Returns the entries dropped (a failed index write is logged).
    int prune(const QSet<QUuid>& storedIds);

    // Deletes the temporary files that a write killed before its commit left beside the index
    // and the markdown files.
    void removeLeftoverTemporaryFiles() const;

    QString indexFilePath() const;

    // Called, on the writer's thread, with words for the person each time the index file could
    // not be read and was rebuilt from the folder.
    void setIndexRebuilt(std::function<void(const QString& reason)> told) { m_indexRebuilt = std::move(told); }

private:
    // The index as the file holds it, read again when the file is not the one last seen.
    ArchiveIndex& index();
    // The writer's own path for the snapshot, before any suffix that tells two meetings apart.
    QString ownPath(const MeetingSnapshot& snapshot) const;
    std::optional<QString> archiveInto(const MeetingSnapshot& snapshot, ArchiveIndex& index) const;
    // Why a write to `relativePath` must not happen, or std::nullopt when it may.
    std::optional<QString> unsafeWriteTarget(const QString& relativePath) const;
    // Index paths come from a file the user can edit: only markdown files inside the archive
    // folder may be deleted.
    bool isArchiveMarkdownPath(const QString& relativePath) const;
    // Writes the index; a failure is returned, and the index is read from the file again by
    // the next call.
    std::optional<QString> writeIndex();
    // The same, logging a failure as an archive failure.
    bool saveIndex();
    void deleteFile(const QString& relativePath, const ArchiveIndex& index, const QString& id) const;

    QString m_root;
    std::function<void(const QString&)> m_indexRebuilt;
    std::optional<ArchiveIndex> m_index;
    // What the index file looked like when it was last read or written.
    QString m_indexSeen;
};
