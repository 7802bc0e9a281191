#include "app/ArchiveHealth.h"

#include "archive/ArchiveDebouncer.h"
#include "archive/MeetingSnapshot.h"
#include "platform/Scheduler.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QFutureWatcher>
#include <cerrno>
#include <cstring>

namespace {

// The archive passes on the system's words, in the user's language: the same words for "no
// space left" tell a full folder.
bool isFull(const QString& failure)
{
    return failure.contains(QString::fromLocal8Bit(std::strerror(ENOSPC)));
}

} // namespace

ArchiveHealth::ArchiveHealth(MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_archiver(archiver)
    , m_store(store)
    , m_scheduler(scheduler)
    , m_owed(store.archiveWritesOwed())
{
    m_archiver.setIndexNotice([this](const QString& reason) {
        m_indexRebuilt = reason;
        if (m_failed.isEmpty())
            setProblem(Problem::indexRebuilt, reason);
    });
    // Its file goes with it; a write of it that failed is owed no more.
    connect(&m_store, &ModelContext::meetingAboutToBeRemoved, this, [this](Meeting* meeting) {
        m_failed.remove(meeting->id());
        if (m_failed.isEmpty())
            setProblem(Problem::none);
    });
}

void ArchiveHealth::follow(ArchiveDebouncer& debouncer)
{
    m_debouncer = &debouncer;
    connect(&debouncer, &ArchiveDebouncer::becamePending, this, &ArchiveHealth::owe);
    connect(&debouncer, &ArchiveDebouncer::handedOver, this, &ArchiveHealth::track);
}

void ArchiveHealth::owe(const QUuid& meetingId)
{
    // The change is committed at the loop's next turn at the earliest: a process ended after
    // that commit finds the row.
    if (!m_owed.contains(meetingId) && m_store.recordArchiveWritesOwed({ meetingId }))
        m_owed.insert(meetingId);
}

void ArchiveHealth::track(const QUuid& meetingId, const QFuture<MeetingArchiver::WriteOutcome>& written)
{
    ++m_inFlight[meetingId];
    owe(meetingId);
    // A watcher rather than a continuation: it goes with this object, and an outcome that comes
    // after the application took this object down reports to no one.
    auto* watcher = new QFutureWatcher<MeetingArchiver::WriteOutcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, meetingId] {
        watcher->deleteLater();
        // A job that never ran (the archiver went first) leaves the write owed.
        if (watcher->future().resultCount() == 0) {
            if (--m_inFlight[meetingId] <= 0)
                m_inFlight.remove(meetingId);
            return;
        }
        settle(meetingId, watcher->result());
    });
    watcher->setFuture(written);
}

void ArchiveHealth::settle(const QUuid& meetingId, const MeetingArchiver::WriteOutcome& outcome)
{
    if (--m_inFlight[meetingId] <= 0)
        m_inFlight.remove(meetingId);
    if (outcome) {
        m_failed.insert(meetingId);
        setProblem(isFull(*outcome) ? Problem::folderFull : Problem::writeFailed, *outcome);
        scheduleRetry();
        return;
    }
    m_failed.remove(meetingId);
    // A later write of the same meeting, under way or still waiting for its delay, keeps it
    // owed until it is through.
    const bool newerPending = m_debouncer && m_debouncer->isPending(meetingId);
    if (!m_inFlight.contains(meetingId) && !newerPending && m_owed.contains(meetingId)
        && m_store.clearArchiveWritesOwed({ meetingId }))
        m_owed.remove(meetingId);
    if (m_failed.isEmpty())
        setProblem(Problem::none);
}

void ArchiveHealth::writeOwed()
{
    QSet<QUuid> gone;
    for (const QUuid& id : std::as_const(m_owed)) {
        const Meeting* meeting = m_store.meetingById(id);
        if (!meeting)
            gone.insert(id);
        // A recording left open is written when the launch repairs it.
        else if (!meeting->isRecording() && !m_inFlight.contains(id))
            write(*meeting);
    }
    if (!gone.isEmpty() && m_store.clearArchiveWritesOwed(gone))
        m_owed.subtract(gone);
}

void ArchiveHealth::write(const Meeting& meeting)
{
    track(meeting.id(), m_archiver.archive(MeetingSnapshot(meeting)));
}

void ArchiveHealth::scheduleRetry()
{
    if (m_retryQueued)
        return;
    m_retryQueued = true;
    m_scheduler.schedule(kRetryInterval, this, [this] {
        m_retryQueued = false;
        retry();
    });
}

void ArchiveHealth::retry()
{
    // Each write that fails again asks for the next round.
    const QSet<QUuid> failed = m_failed;
    for (const QUuid& id : failed) {
        if (m_inFlight.contains(id))
            continue;
        const Meeting* meeting = m_store.meetingById(id);
        if (!meeting) {
            m_failed.remove(id);
            continue;
        }
        // Its file is written when the recording ends, with everything said meanwhile.
        if (!meeting->isRecording())
            write(*meeting);
    }
    if (m_failed.isEmpty())
        setProblem(Problem::none);
}

void ArchiveHealth::setProblem(Problem problem, const QString& reason)
{
    if (problem == Problem::none && !m_indexRebuilt.isEmpty())
        return setProblem(Problem::indexRebuilt, m_indexRebuilt);
    if (problem == m_problem && reason == m_reason)
        return;
    m_problem = problem;
    m_reason = reason;
    emit problemChanged();
}
