#pragma once

#include "archive/MeetingArchiver.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <chrono>

class Meeting;
class ModelContext;
class Scheduler;

// Whether the archive's files keep up with the store. Each write handed to the archiver is
// recorded in the store until the archive reports it through, so a write that failed (a full
// notes folder) or never ran (the process ended first) is made again: every kRetryInterval
// while Quillet runs, from the meeting as the store holds it then, and at the next launch. A
// failed write is published at once, with the archive's reason, for the window to say, until
// every meeting that failed is written. Main thread only.
class ArchiveHealth final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveHealth)
    Q_PROPERTY(Problem problem READ problem NOTIFY problemChanged)

public:
    enum class Problem { none, folderFull, writeFailed };
    Q_ENUM(Problem)

    static constexpr std::chrono::milliseconds kRetryInterval { 15000 };

    ArchiveHealth(MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent = nullptr);

    Problem problem() const { return m_problem; }
    // The archive's words for the last failure: the path and the system's reason.
    QString reason() const { return m_reason; }
    // The notes folder.
    QString folder() const { return m_archiver.archiveRoot(); }

    // Follows a write handed to the archiver until its outcome is in.
    void track(const QUuid& meetingId, const QFuture<MeetingArchiver::WriteOutcome>& written);
    // At launch: writes every meeting whose write an earlier run left owed.
    void writeOwed();

signals:
    void problemChanged();

private:
    void settle(const QUuid& meetingId, const MeetingArchiver::WriteOutcome& outcome);
    void write(const Meeting& meeting);
    void scheduleRetry();
    void retry();
    void setProblem(Problem problem, const QString& reason = {});

    MeetingArchiver& m_archiver;
    ModelContext& m_store;
    Scheduler& m_scheduler;
    Problem m_problem = Problem::none;
    QString m_reason;
    // Recorded in the store.
    QSet<QUuid> m_owed;
    // Writes handed over whose outcome is not in yet, per meeting.
    QHash<QUuid, int> m_inFlight;
    // Meetings whose last write failed.
    QSet<QUuid> m_failed;
    bool m_retryQueued = false;
};
