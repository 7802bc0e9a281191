#pragma once

// An archiver whose index answers only when the test says so (answer()), for the moments
// between asking the archive what it holds and hearing back. Writes nothing; keeps the batches
// it was handed to backfill.

#include "archive/MeetingArchiver.h"

#include <QFuture>
#include <QList>
#include <QPromise>
#include <QSet>
#include <QUuid>

class SlowIndexArchiver final : public MeetingArchiver
{
public:
    QString archiveRoot() const override { return {}; }
    QFuture<WriteOutcome> archive(const Snapshot&) override { return QtFuture::makeReadyFuture(WriteOutcome()); }
    void backfill(const QList<Snapshot>& snapshots) override { backfills.append(snapshots); }
    QFuture<bool> remove(const QUuid&) override { return QtFuture::makeReadyFuture(true); }
    void adopt(const ImportedFiles&) override { }
    void prune(const QSet<QUuid>&) override { }
    QFuture<void> idle() override { return QtFuture::makeReadyFuture(); }
    void setIndexNotice(IndexNotice) override { }
    QFuture<QSet<QUuid>> indexedIds() override
    {
        pending.start();
        return pending.future();
    }
    void answer(const QSet<QUuid>& ids)
    {
        pending.addResult(ids);
        pending.finish();
    }

    QPromise<QSet<QUuid>> pending;
    QList<QList<Snapshot>> backfills;
};
