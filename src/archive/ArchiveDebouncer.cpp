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
    m_pending.insert(id, Pending { MeetingSnapshot(meeting), edit });
    m_scheduler.schedule(kDelay, this, [this, id, edit] { fire(id, edit); });
}

void ArchiveDebouncer::fire(const QUuid& meetingId, quint64 edit)
{
    const auto found = m_pending.find(meetingId);
    // A later edit took its place, or the write was dropped or already made. While the store
    // has not committed the edit, the write waits for the save that does (which flushes).
    if (found == m_pending.end() || found->edit != edit || !storeHoldsEdits())
        return;
    const MeetingSnapshot snapshot = found->snapshot;
    m_pending.erase(found);
    handOver(snapshot);
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
        handOver(write.snapshot);
}

void ArchiveDebouncer::handOver(const MeetingSnapshot& snapshot)
{
    emit handedOver(snapshot.id, m_archiver.archive(snapshot));
}
