#pragma once

#include "archive/MeetingSnapshot.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>
#include <optional>

class ArchiveIndex;

// The file work of the archive, run synchronously on whatever thread calls it (the archive's
// worker thread in the application). Each call reads the index from disk, so instances hold
// nothing but the folder.
class ArchiveWriter final
{
public:
    explicit ArchiveWriter(QString root);

    // Writes the meeting's file and index entry; a file under an earlier name is deleted once
    // the index lists the new one. Returns a description of the failure, in which case the
    // index is unchanged and any earlier file of the meeting is kept.
    std::optional<QString> archive(const MeetingSnapshot& snapshot) const;

    // Archives every snapshot the index does not hold yet, reading the index once and
    // saving it every 100 files and at the end. Failures are skipped (a failed index write is
    // logged). Returns files written.
    int backfill(const QList<MeetingSnapshot>& snapshots) const;

    // Drops the meeting's entry and deletes its file; an unknown identifier changes nothing.
    // Returns the failure when the index could not be written (the entry is then still listed).
    std::optional<QString> remove(const QUuid& meetingId) const;

    // The meetings the index holds; none when it is missing or unreadable.
    QSet<QUuid> indexedIds() const;

    // Drops every entry whose meeting is not in `storedIds`, deleting the files they list.
    // An empty set changes nothing. Returns the entries dropped (a failed index write is logged).
    int prune(const QSet<QUuid>& storedIds) const;

    // Deletes the temporary files that a write killed before its commit left beside the index
    // and the markdown files.
    void removeLeftoverTemporaryFiles() const;

    QString indexFilePath() const;

private:
    std::optional<QString> archiveInto(const MeetingSnapshot& snapshot, ArchiveIndex& index) const;
    // Why a write to `relativePath` must not happen, or std::nullopt when it may.
    std::optional<QString> unsafeWriteTarget(const QString& relativePath) const;
    // Index paths come from a file the user can edit: only markdown files inside the archive
    // folder may be deleted.
    bool isArchiveMarkdownPath(const QString& relativePath) const;
    // Logs a failure as an archive failure.
    bool saveIndex(const ArchiveIndex& index) const;
    void deleteFile(const QString& relativePath, const ArchiveIndex& index, const QString& id) const;

    QString m_root;
};
