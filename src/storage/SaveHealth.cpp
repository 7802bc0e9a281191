#include "storage/SaveHealth.h"

#include "platform/Scheduler.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

SaveHealth::SaveHealth(ModelContext& store, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_scheduler(scheduler)
{
    connect(&m_store, &ModelContext::saved, this, [this] { setProblem(Problem::none); });
    connect(&m_store, &ModelContext::saveFailed, this, &SaveHealth::saveFailed);
    connect(&m_store, &ModelContext::meetingInserted, this, &SaveHealth::changedWhileFailing);
    connect(&m_store, &ModelContext::meetingUpdated, this, &SaveHealth::changedWhileFailing);
    connect(&m_store, &ModelContext::meetingRemoved, this, &SaveHealth::changedWhileFailing);
    connect(&m_store, &ModelContext::transcriptChanged, this, &SaveHealth::changedWhileFailing);
    connect(&m_store, &ModelContext::folderInserted, this, &SaveHealth::changedWhileFailing);
    connect(&m_store, &ModelContext::folderUpdated, this, &SaveHealth::changedWhileFailing);
    connect(&m_store, &ModelContext::folderRemoved, this, &SaveHealth::changedWhileFailing);
}

void SaveHealth::saveFailed(const QString& reason)
{
    // SQLite's own words for SQLITE_FULL, whichever file (store or journal) ran out of room.
    const bool full = reason.contains(QLatin1String("database or disk is full"), Qt::CaseInsensitive);
    setProblem(full ? Problem::diskFull : Problem::writeFailed);
    scheduleTimedRetry();
}

void SaveHealth::changedWhileFailing()
{
    // After the change is complete, not in the middle of the caller's edit.
    if (m_problem == Problem::none || m_retryQueued)
        return;
    m_retryQueued = true;
    m_scheduler.schedule(std::chrono::milliseconds(0), this, [this] {
        m_retryQueued = false;
        retry();
    });
}

void SaveHealth::scheduleTimedRetry()
{
    if (m_timedRetryQueued)
        return;
    m_timedRetryQueued = true;
    m_scheduler.schedule(kRetryInterval, this, [this] {
        m_timedRetryQueued = false;
        // A failure again schedules the next round.
        retry();
    });
}

void SaveHealth::retry()
{
    if (m_problem == Problem::none)
        return;
    // Another caller's save went through, or the changes were rolled back: nothing is owed.
    if (!m_store.hasChanges()) {
        setProblem(Problem::none);
        return;
    }
    m_store.save();
}

void SaveHealth::setProblem(Problem problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    emit problemChanged();
}
