#pragma once

#include "archive/MeetingArchiver.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>
#include <chrono>

class ArchiveDebouncer;
class Meeting;
class ModelContext;
class Scheduler;

// Whether the archive's files keep up with the store. A meeting is recorded in the store as
// owed a write from the first change the debouncer holds for it (one row however long the
// typing goes on, written before the store commits the change) until the archive reports its
// write through with nothing newer pending, so a write that failed (a full notes folder),
// never ran or was never handed over (the process ended first) is made again: every
// kRetryInterval while Quillet runs, from the meeting as the store holds it then, and at the
// next launch. A failed write is published at once, with the archive's reason, for the window
// to say, until every meeting that failed is written. Main thread only.
class ArchiveHealth final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveHealth)
    Q_PROPERTY(Problem problem READ problem NOTIFY problemChanged)

public:
    // indexRebuilt: the archive's index could not be read and was rebuilt from the folder; said
    // until Quillet quits, under any failure of a write.
    enum class Problem { none, folderFull, writeFailed, indexRebuilt };
    Q_ENUM(Problem)

    static constexpr std::chrono::milliseconds kRetryInterval { 15000 };

    ArchiveHealth(MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent = nullptr);
    ~ArchiveHealth() override { m_archiver.setIndexNotice({}); }

    Problem problem() const { return m_problem; }
    // The archive's words for the last failure: the path and the system's reason.
    QString reason() const { return m_reason; }
    // The notes folder.
    QString folder() const { return m_archiver.archiveRoot(); }

    // Records every meeting the debouncer holds a write for as owed, follows the writes it
    // hands over, and keeps a meeting owed while a newer write of it is pending there.
    void follow(ArchiveDebouncer& debouncer);
    // Follows a write handed to the archiver until its outcome is in.
    void track(const QUuid& meetingId, const QFuture<MeetingArchiver::WriteOutcome>& written);
    // At launch: writes every meeting whose write an earlier run left owed.
    void writeOwed();

signals:
    void problemChanged();

private:
    void owe(const QUuid& meetingId);
    void settle(const QUuid& meetingId, const MeetingArchiver::WriteOutcome& outcome);
    void write(const Meeting& meeting);
    void scheduleRetry();
    void retry();
    void setProblem(Problem problem, const QString& reason = {});

    MeetingArchiver& m_archiver;
    ModelContext& m_store;
    Scheduler& m_scheduler;
    QPointer<ArchiveDebouncer> m_debouncer;
    Problem m_problem = Problem::none;
    QString m_reason;
    QString m_indexRebuilt;
    // Recorded in the store.
    QSet<QUuid> m_owed;
    // Writes handed over whose outcome is not in yet, per meeting.
    QHash<QUuid, int> m_inFlight;
    // Meetings whose last write failed.
    QSet<QUuid> m_failed;
    bool m_retryQueued = false;
};
