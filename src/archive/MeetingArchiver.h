#pragma once

#include "archive/MeetingSnapshot.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

class ArchiveWriter;
class Meeting;

// Mirrors every meeting as a markdown file under the user's home folder, with an
// "index.json" that maps each meeting's identifier to its file. Callers on the main thread
// take a Snapshot and hand it over; the file work then runs elsewhere, one job after another
// in the order they were queued, so the caller never waits for the disk and no record ever
// leaves the main thread. Failures are logged; a write's future tells its caller the outcome.
//
// The application makes one MarkdownArchiver and hands it down; tests may hand in a fake.
class MeetingArchiver
{
    Q_DISABLE_COPY_MOVE(MeetingArchiver)

public:
    // A plain copy of a meeting, safe to hand to another thread.
    using Snapshot = MeetingSnapshot;

    MeetingArchiver() = default;
    virtual ~MeetingArchiver() = default;

    // The archive folder.
    virtual QString archiveRoot() const = 0;

    // What became of a write: nothing once the file and its index entry are written, else
    // why not (the archive's words: a path and the system's reason).
    using WriteOutcome = std::optional<QString>;

    // Queues writing the meeting's file and index entry; returns at once. The future finishes
    // once the job has run, with its outcome (a failure is logged as well).
    virtual QFuture<WriteOutcome> archive(const Snapshot& snapshot) = 0;

    // Queues one job that archives every meeting the index does not know yet.
    virtual void backfill(const QList<Snapshot>& snapshots) = 0;

    // Queues listing in the index the meetings an import has just read from the archive folder,
    // each with the path of its file relative to the folder (a snapshot without transcript and
    // chat is enough), so that the meeting is written to the file it came from and its deletion
    // removes that file, whatever its name. Only a file that holds exactly the writer's text for
    // its meeting is listed; any other stays the person's. Queue it before any write of those
    // meetings.
    using ImportedFiles = QList<QPair<Snapshot, QString>>;
    virtual void adopt(const ImportedFiles& files) = 0;

    // Queues removing the meeting's file and index entry. The future finishes once the job has
    // run: true when the index no longer lists the meeting (false: it could not be written, the
    // failure is logged).
    virtual QFuture<bool> remove(const QUuid& meetingId) = 0;

    // Queues a job that reads which meetings the index holds. The future finishes with their
    // identifiers once every job queued before it has run; continue it on the main thread
    // (QFuture::then with a context object) to take snapshots of only the meetings it lacks.
    virtual QFuture<QSet<QUuid>> indexedIds() = 0;

    // Queues dropping the index entry, and deleting the file it lists, of every meeting that is
    // not in `storedIds` (the identifiers of all meetings in the store): a deletion whose removal
    // never ran, because the process ended first, would otherwise come back with a later import.
    // Files the index does not list, and listed files that are not the meeting's own, are never
    // touched, and an empty set changes nothing, since an
    // empty store is refilled from the archive. Meant for launch, once the store is open; not on
    // a launch whose import has just refilled the store, as the files that import skipped (not
    // UTF-8, too large) would be deleted with their entries.
    virtual void prune(const QSet<QUuid>& storedIds) = 0;

    // Finishes once every job queued before this call has run. Tests and tools wait on it; the
    // application never needs to.
    virtual QFuture<void> idle() = 0;

    // Told, on the main thread, each time the archive found its index unreadable (missing,
    // damaged, not a file) and rebuilt it from the folder's files, with words for the person
    // that name the index file and what became of it. A notice that came before the hook was
    // set is told once it is.
    using IndexNotice = std::function<void(const QString& reason)>;
    virtual void setIndexNotice(IndexNotice notice) = 0;

    // "$HOME/QuilletNotes", or "$HOME/QuilletNotes-Test" for test builds.
    static QString defaultRoot();
};

// The archive on disk. Jobs run on one worker thread of this object
// ("com.orvane.quillet.archiver"), through one ArchiveWriter that keeps the index in memory
// between them; the first removes the temporary files a killed write left behind and finishes
// what the index lists as half done. Destroying
// the object runs the jobs still queued, then ends the thread, so what was handed over before
// the application quits is written.
class MarkdownArchiver final : public MeetingArchiver
{
public:
    explicit MarkdownArchiver(QString root = defaultRoot());
    ~MarkdownArchiver() override;

    QString archiveRoot() const override { return m_root; }
    QFuture<WriteOutcome> archive(const Snapshot& snapshot) override;
    void backfill(const QList<Snapshot>& snapshots) override;
    QFuture<bool> remove(const QUuid& meetingId) override;
    QFuture<QSet<QUuid>> indexedIds() override;
    void adopt(const ImportedFiles& files) override;
    void prune(const QSet<QUuid>& storedIds) override;
    QFuture<void> idle() override;
    void setIndexNotice(IndexNotice notice) override;

private:
    void post(std::function<void()> job);
    void tell(const QString& reason);

    const QString m_root;
    // Main thread: where the writer's notices are told, and those told before a hook was set.
    std::unique_ptr<QObject> m_main;
    IndexNotice m_indexNotice;
    QStringList m_untold;
    // Used on the worker thread only.
    std::unique_ptr<ArchiveWriter> m_writer;
    QThread m_thread;
    std::unique_ptr<QObject> m_worker;
};
