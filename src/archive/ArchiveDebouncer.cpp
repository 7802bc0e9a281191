#include "archive/ArchiveDebouncer.h"

#include "platform/Scheduler.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QCoreApplication>

ArchiveDebouncer::ArchiveDebouncer(
    MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_archiver(archiver)
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
    // A later edit took its place, or the write was dropped or already made.
    if (found == m_pending.end() || found->edit != edit)
        return;
    const MeetingSnapshot snapshot = found->snapshot;
    m_pending.erase(found);
    handOver(snapshot);
}

void ArchiveDebouncer::flush()
{
    const QHash<QUuid, Pending> pending = std::exchange(m_pending, {});
    for (const Pending& write : pending)
        handOver(write.snapshot);
}

void ArchiveDebouncer::handOver(const MeetingSnapshot& snapshot)
{
    emit handedOver(snapshot.id, m_archiver.archive(snapshot));
}
