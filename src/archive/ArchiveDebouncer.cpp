#include "archive/ArchiveDebouncer.h"

#include "platform/Scheduler.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QCoreApplication>

ArchiveDebouncer::ArchiveDebouncer(
    MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_archiver(archiver)
    , m_store(&store)
    , m_scheduler(scheduler)
{
    connect(&store, &ModelContext::meetingAboutToBeRemoved, this,
        [this](Meeting* meeting) { m_pending.remove(meeting->id()); });
    // A commit of typing lets the writes wait for their delay, except those it was owed.
    connect(&store, &ModelContext::saved, this, &ArchiveDebouncer::handOverDue);
    connect(&store, &ModelContext::savedOnRequest, this, &ArchiveDebouncer::flush);
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &ArchiveDebouncer::flush);
}

ArchiveDebouncer::~ArchiveDebouncer()
{
    flush();
}

void ArchiveDebouncer::schedule(const Meeting& meeting)
{
    const QUuid id = meeting.id();
    const quint64 edit = ++m_edits;
    const bool fresh = !m_pending.contains(id);
    m_pending.insert(id, Pending { &meeting, edit, false });
    if (fresh)
        emit becamePending(id);
    m_scheduler.schedule(kDelay, this, [this, id, edit] { fire(id, edit); });
}

void ArchiveDebouncer::fire(const QUuid& meetingId, quint64 edit)
{
    const auto found = m_pending.find(meetingId);
    // A later edit took its place, or the write was dropped or already made.
    if (found == m_pending.end() || found->edit != edit)
        return;
    // While the store has not committed the edit, the write waits for the save that does.
    if (!storeHoldsEdits()) {
        found->due = true;
        return;
    }
    const Pending write = *found;
    m_pending.erase(found);
    handOver(write);
}

void ArchiveDebouncer::handOverDue()
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

bool ArchiveDebouncer::storeHoldsEdits() const
{
    return !m_store || !m_store->hasChanges();
}

void ArchiveDebouncer::flush()
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

void ArchiveDebouncer::handOver(const Pending& write)
{
    // Taken now rather than at each edit: the store holds no unsaved change, so this is what
    // it has committed, and typing does not copy the meeting at every key.
    if (const Meeting* meeting = write.meeting.data()) {
        const MeetingSnapshot snapshot(*meeting);
        emit handedOver(snapshot.id, m_archiver.archive(snapshot));
    }
}
