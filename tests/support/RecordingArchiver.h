#pragma once

// An archiver that keeps what it was handed instead of writing files, for tests of the
// archive's callers; its writes report the failure a test sets.

#include "archive/MeetingArchiver.h"

#include <QFuture>
#include <QList>
#include <QSet>
#include <QUuid>

class RecordingArchiver final : public MeetingArchiver
{
public:
    QString archiveRoot() const override { return QStringLiteral("/nonexistent/QuilletNotes"); }
    QFuture<WriteOutcome> archive(const Snapshot& snapshot) override
    {
        archived.append(snapshot);
        return QtFuture::makeReadyFuture(failure);
    }
    void backfill(const QList<Snapshot>& snapshots) override { backfills.append(snapshots); }
    QFuture<bool> remove(const QUuid& meetingId) override
    {
        removed.append(meetingId);
        return QtFuture::makeReadyFuture(true);
    }
    // What a real index would hold: every meeting archived or backfilled here, minus removals.
    QFuture<QSet<QUuid>> indexedIds() override
    {
        QSet<QUuid> ids;
        for (const Snapshot& snapshot : std::as_const(archived))
            ids.insert(snapshot.id);
        for (const QList<Snapshot>& batch : std::as_const(backfills))
            for (const Snapshot& snapshot : batch)
                ids.insert(snapshot.id);
        for (const QUuid& id : std::as_const(removed))
            ids.remove(id);
        return QtFuture::makeReadyFuture(ids);
    }
    void adopt(const ImportedFiles& files) override { adopted.append(files); }
    void prune(const QSet<QUuid>& storedIds) override { prunes.append(storedIds); }
    QFuture<void> idle() override { return QtFuture::makeReadyFuture(); }
    void setIndexNotice(IndexNotice notice) override { indexNotice = std::move(notice); }

    // What every write reports; nothing: written.
    WriteOutcome failure;
    QList<Snapshot> archived;
    QList<QList<Snapshot>> backfills;
    QList<QUuid> removed;
    QList<QSet<QUuid>> prunes;
    ImportedFiles adopted;
    // What the archive would call when its index was rebuilt.
    IndexNotice indexNotice;
};

// The meetings of a batch the archive was handed, in no order.
inline QSet<QUuid> idsOf(const QList<MeetingArchiver::Snapshot>& snapshots)
{
    QSet<QUuid> ids;
    for (const MeetingArchiver::Snapshot& snapshot : snapshots)
        ids.insert(snapshot.id);
    return ids;
}
