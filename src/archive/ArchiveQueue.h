#pragma once

#include "archive/MeetingArchiver.h"

#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>
#include <chrono>
#include <optional>

class Meeting;
class ModelContext;
class Scheduler;

// Everything between a change in the store and its meeting's file: the one road to the
// archiver's writes, so that no view or service archives what it changed, and what the window
// reads to say whether the files keep up.
//
// It follows the store's own change signals. A change to what a meeting's file shows (its
// title, date, duration, summary, notes, transcript or chat, or the end of its recording)
// makes the meeting owed a write, recorded at once in the store's "ArchiveWrite" rows (one row
// however long the typing goes on, written before the store commits the change), and the write
// waits kDelay after the last change, so that typing, which the store commits at every key,
// writes the file once it pauses. A save() a caller asked for (the end of a recording, a chat's
// answer), the quit and the end of this object hand every waiting write over at once. A write
// is taken from the meeting as the store holds it when it is handed over, and only from what
// the store has committed: while a save is owed (a full disk) the writes wait for the save that
// goes through, so a file never runs ahead of its store. A meeting that leaves the store takes
// its waiting write with it (the file must not come back after a delete; the removal itself is
// ArchiveRemovals').
//
// A meeting stays owed until the archive reports a write through with nothing newer waiting,
// so a write that failed (a full notes folder), never ran or was never handed over (the process
// ended first) is made again: every kRetryInterval while Quillet runs, and at the next launch
// (writeOwed). A failed write is published at once, with the archive's reason, until every
// meeting that failed is written; an index the archive had to rebuild, from then on. Main
// thread only.
class ArchiveQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveQueue)
    Q_PROPERTY(Problem problem READ problem NOTIFY problemChanged)

public:
    // indexRebuilt: the archive's index could not be read and was rebuilt from the folder; said
    // until Quillet quits, under any failure of a write.
    enum class Problem { none, folderFull, writeFailed, indexRebuilt };
    Q_ENUM(Problem)

    static constexpr std::chrono::milliseconds kDelay { 900 };
    static constexpr std::chrono::milliseconds kRetryInterval { 15000 };

    ArchiveQueue(ModelContext& store, MeetingArchiver& archiver, Scheduler& scheduler, QObject* parent = nullptr);
    // Hands every waiting write over, unless the store still owes a save.
    ~ArchiveQueue() override;

    Problem problem() const { return m_problem; }
    // The archive's words for the last failure: the path and the system's reason.
    QString reason() const { return m_reason; }
    // The notes folder.
    QString folder() const { return m_archiver.archiveRoot(); }

    // Hands every waiting write to the archiver now, unless the store still owes a save.
    void flush();
    // At launch: writes every meeting whose write an earlier run left owed.
    void writeOwed();
    // Hands the archive every finished meeting its index lacks. The index is read on the
    // archive's thread; the snapshots are taken when its answer is back, of the meetings that
    // are finished then.
    void backfill();

    // Whether a write of the meeting waits, for its delay or for the store.
    bool isPending(const QUuid& meetingId) const { return m_pending.contains(meetingId); }

signals:
    void problemChanged();
    // A write went to the archiver.
    void handedOver(const QUuid& meetingId);

private:
    // What changed in a meeting, for the one rule of a recording's file.
    enum class Change {
        // What the user writes (title, notes, summary) and the chat: written during a
        // recording too, with the transcript so far.
        written,
        // The transcript and the recording's own fields, and a write made again.
        content,
    };
    enum class When { afterDelay, now };

    static bool waitsForTheRecordingsEnd(const Meeting& meeting, Change change);

    // The part of a meeting's fields that its archive file shows.
    struct FileFields
    {
        QString title;
        std::optional<QString> summary;
        QString userNotes;
        QDateTime date;
        double duration = 0;
        bool isRecording = false;

        explicit FileFields(const Meeting& meeting);
        bool operator==(const FileFields&) const = default;
    };

    struct Pending
    {
        QPointer<const Meeting> meeting;
        quint64 change = 0;
        // Its delay has passed, or it was never to wait for one, while the store owed a save.
        bool due = false;
    };

    void meetingUpdated(Meeting* meeting);
    void queue(const Meeting& meeting, Change change, When when);
    void fire(const QUuid& meetingId, quint64 change);
    void handOverDue();
    bool storeHoldsEdits() const;
    void handOver(const Pending& write);
    void owe(const QUuid& meetingId);
    void landed(const QUuid& meetingId);
    void settle(const QUuid& meetingId, const MeetingArchiver::WriteOutcome& outcome);
    void scheduleRetry();
    void retry();
    void removed(Meeting* meeting);
    void setProblem(Problem problem, const QString& reason = {});

    QPointer<ModelContext> m_store;
    MeetingArchiver& m_archiver;
    Scheduler& m_scheduler;
    // As last seen, to tell a change the file shows from one it does not.
    QHash<const Meeting*, FileFields> m_fileFields;
    QHash<QUuid, Pending> m_pending;
    quint64 m_changes = 0;
    // Recorded in the store.
    QSet<QUuid> m_owed;
    // Writes handed over whose outcome is not in yet, per meeting.
    QHash<QUuid, int> m_inFlight;
    // Meetings whose last write failed.
    QSet<QUuid> m_failed;
    bool m_retryQueued = false;
    Problem m_problem = Problem::none;
    QString m_reason;
    // The archive's words for the index it rebuilt, once it did.
    QString m_indexRebuilt;
};
