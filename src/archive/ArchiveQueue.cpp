#include "archive/ArchiveQueue.h"

#include "archive/MeetingSnapshot.h"
#include "platform/Scheduler.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QCoreApplication>
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

ArchiveQueue::FileFields::FileFields(const Meeting& meeting)
    : title(meeting.title())
    , summary(meeting.summary())
    , userNotes(meeting.userNotes())
    , date(meeting.date())
    , duration(meeting.duration())
    , isRecording(meeting.isRecording())
{ }

ArchiveQueue::ArchiveQueue(ModelContext& store, MeetingArchiver& archiver, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_store(&store)
    , m_archiver(archiver)
    , m_scheduler(scheduler)
    , m_owed(store.archiveWritesOwed())
{
    m_archiver.setIndexNotice([this](const QString& reason) {
        m_indexRebuilt = reason;
        if (m_failed.isEmpty())
            setProblem(Problem::indexRebuilt, reason);
    });
    const QList<Meeting*> meetings = store.fetchMeetings();
    m_fileFields.reserve(meetings.size());
    for (const Meeting* meeting : meetings)
        m_fileFields.insert(meeting, FileFields(*meeting));

    // A new meeting is written once something is said or typed in it, as before it was stored.
    connect(&store, &ModelContext::meetingInserted, this,
        [this](Meeting* meeting) { m_fileFields.insert(meeting, FileFields(*meeting)); });
    connect(&store, &ModelContext::meetingAboutToBeRemoved, this, &ArchiveQueue::removed);
    connect(&store, &ModelContext::meetingUpdated, this, &ArchiveQueue::meetingUpdated);
    connect(&store, &ModelContext::transcriptChanged, this,
        [this](Meeting* meeting) { queue(*meeting, Change::content, When::afterDelay); });
    connect(&store, &ModelContext::chatChanged, this,
        [this](Meeting* meeting) { queue(*meeting, Change::written, When::afterDelay); });
    // A commit of typing lets the writes wait for their delay, except those it was owed.
    connect(&store, &ModelContext::saved, this, &ArchiveQueue::handOverDue);
    connect(&store, &ModelContext::savedOnRequest, this, &ArchiveQueue::flush);
    // The store commits what the writes show before they are handed over.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            if (m_store)
                m_store->save();
            flush();
        });
}

ArchiveQueue::~ArchiveQueue()
{
    m_archiver.setIndexNotice({});
    flush();
}

void ArchiveQueue::meetingUpdated(Meeting* meeting)
{
    const FileFields fields(*meeting);
    const auto seen = m_fileFields.find(meeting);
    if (seen != m_fileFields.end() && *seen == fields)
        return;
    const bool written = seen == m_fileFields.end() || seen->title != fields.title || seen->summary != fields.summary
        || seen->userNotes != fields.userNotes;
    m_fileFields.insert(meeting, fields);
    queue(*meeting, written ? Change::written : Change::content, When::afterDelay);
}

bool ArchiveQueue::waitsForTheRecordingsEnd(const Meeting& meeting, Change change)
{
    // A recording's file is written when it ends, with everything said meanwhile; what the user
    // writes during it, and its chat, are written as they change, with the transcript so far.
    return meeting.isRecording() && change == Change::content;
}

void ArchiveQueue::queue(const Meeting& meeting, Change change, When when)
{
    if (waitsForTheRecordingsEnd(meeting, change))
        return;
    const QUuid id = meeting.id();
    const quint64 number = ++m_changes;
    m_pending.insert(id, Pending { &meeting, number, when == When::now });
    owe(id);
    if (when == When::afterDelay)
        m_scheduler.schedule(kDelay, this, [this, id, number] { fire(id, number); });
}

void ArchiveQueue::fire(const QUuid& meetingId, quint64 change)
{
    const auto found = m_pending.find(meetingId);
    // A later change took its place, or the write was dropped or already made.
    if (found == m_pending.end() || found->change != change)
        return;
    // While the store has not committed the change, the write waits for the save that does.
    if (!storeHoldsEdits()) {
        found->due = true;
        return;
    }
    const Pending write = *found;
    m_pending.erase(found);
    handOver(write);
}

void ArchiveQueue::handOverDue()
{
    if (!storeHoldsEdits())
        return;
    QList<Pending> due;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->due) {
            due.append(*it);
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    for (const Pending& write : std::as_const(due))
        handOver(write);
}

bool ArchiveQueue::storeHoldsEdits() const
{
    return !m_store || !m_store->hasChanges();
}

void ArchiveQueue::flush()
{
    // A file ahead of its store would be written back to the store's older text by the next
    // edit after a restart: what a failed save left in memory stays out of the archive, and
    // is dropped with this object when no save ever takes it.
    if (!storeHoldsEdits())
        return;
    const QHash<QUuid, Pending> pending = std::exchange(m_pending, {});
    for (const Pending& write : pending)
        handOver(write);
}

void ArchiveQueue::handOver(const Pending& write)
{
    // Taken now rather than at each change: the store holds no unsaved change, so this is what
    // it has committed, and typing does not copy the meeting at every key.
    const Meeting* meeting = write.meeting.data();
    if (!meeting)
        return;
    const MeetingSnapshot snapshot(*meeting);
    const QUuid id = snapshot.id;
    ++m_inFlight[id];
    owe(id);
    // A watcher rather than a continuation: it goes with this object, and an outcome that comes
    // after the application took this object down reports to no one.
    auto* watcher = new QFutureWatcher<MeetingArchiver::WriteOutcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, id] {
        watcher->deleteLater();
        landed(id);
        // A job that never ran (the archiver went first) leaves the write owed.
        if (watcher->future().resultCount() > 0)
            settle(id, watcher->result());
    });
    watcher->setFuture(m_archiver.archive(snapshot));
    emit handedOver(id);
}

void ArchiveQueue::owe(const QUuid& meetingId)
{
    // The change is committed at the loop's next turn at the earliest: a process ended after
    // that commit finds the row.
    if (!m_owed.contains(meetingId) && m_store && m_store->recordArchiveWritesOwed({ meetingId }))
        m_owed.insert(meetingId);
}

void ArchiveQueue::landed(const QUuid& meetingId)
{
    if (--m_inFlight[meetingId] <= 0)
        m_inFlight.remove(meetingId);
}

void ArchiveQueue::settle(const QUuid& meetingId, const MeetingArchiver::WriteOutcome& outcome)
{
    if (outcome) {
        m_failed.insert(meetingId);
        setProblem(isFull(*outcome) ? Problem::folderFull : Problem::writeFailed, *outcome);
        scheduleRetry();
        return;
    }
    m_failed.remove(meetingId);
    // A later write of the same meeting, under way or still waiting, keeps it owed until it is
    // through.
    if (!m_inFlight.contains(meetingId) && !m_pending.contains(meetingId) && m_owed.contains(meetingId) && m_store
        && m_store->clearArchiveWritesOwed({ meetingId }))
        m_owed.remove(meetingId);
    if (m_failed.isEmpty())
        setProblem(Problem::none);
}

void ArchiveQueue::writeOwed()
{
    if (!m_store)
        return;
    QSet<QUuid> gone;
    const QSet<QUuid> owed = m_owed;
    for (const QUuid& id : owed) {
        if (const Meeting* meeting = m_store->meetingById(id)) {
            if (!m_inFlight.contains(id))
                queue(*meeting, Change::content, When::now);
        } else {
            gone.insert(id);
        }
    }
    if (!gone.isEmpty() && m_store->clearArchiveWritesOwed(gone))
        m_owed.subtract(gone);
    handOverDue();
}

void ArchiveQueue::scheduleRetry()
{
    if (m_retryQueued)
        return;
    m_retryQueued = true;
    m_scheduler.schedule(kRetryInterval, this, [this] {
        m_retryQueued = false;
        retry();
    });
}

void ArchiveQueue::retry()
{
    // Each write that fails again asks for the next round.
    const QSet<QUuid> failed = m_failed;
    for (const QUuid& id : failed) {
        if (m_inFlight.contains(id))
            continue;
        if (const Meeting* meeting = m_store ? m_store->meetingById(id) : nullptr)
            queue(*meeting, Change::content, When::now);
        else
            m_failed.remove(id);
    }
    handOverDue();
    if (m_failed.isEmpty())
        setProblem(Problem::none);
}

void ArchiveQueue::removed(Meeting* meeting)
{
    // Its file goes with it (ArchiveRemovals): a write of it, waiting or failed, is owed no more.
    m_fileFields.remove(meeting);
    m_pending.remove(meeting->id());
    m_failed.remove(meeting->id());
    if (m_failed.isEmpty())
        setProblem(Problem::none);
}

void ArchiveQueue::backfill()
{
    // A snapshot loads the meeting's whole transcript: only the meetings the archive lacks are
    // worth one. Which those are is known once the archive's thread has read its index. The
    // answer is watched by a child of this object, so that it is dropped if this object goes
    // first (in Qt 6.4 a continuation whose context object is destroyed before the future
    // finishes is still run, on no object).
    auto* answer = new QFutureWatcher<QSet<QUuid>>(this);
    connect(answer, &QFutureWatcherBase::finished, this, [this, answer] {
        answer->deleteLater();
        if (!m_store || answer->future().resultCount() == 0)
            return;
        const QSet<QUuid> indexed = answer->result();
        const QList<Meeting*> missing = m_store->fetchMeetings({ [&indexed](const Meeting& m) {
            return !waitsForTheRecordingsEnd(m, Change::content) && !indexed.contains(m.id());
        } });
        if (missing.isEmpty())
            return;
        QList<MeetingSnapshot> snapshots;
        snapshots.reserve(missing.size());
        for (const Meeting* meeting : missing)
            snapshots.append(MeetingSnapshot(*meeting));
        m_archiver.backfill(snapshots);
    });
    answer->setFuture(m_archiver.indexedIds());
}

void ArchiveQueue::setProblem(Problem problem, const QString& reason)
{
    if (problem == Problem::none && !m_indexRebuilt.isEmpty())
        return setProblem(Problem::indexRebuilt, m_indexRebuilt);
    if (problem == m_problem && reason == m_reason)
        return;
    m_problem = problem;
    m_reason = reason;
    emit problemChanged();
}
