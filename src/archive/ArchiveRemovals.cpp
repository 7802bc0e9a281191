#include "archive/ArchiveRemovals.h"

#include "archive/MeetingArchiver.h"
#include "storage/ModelContext.h"

#include <QFutureWatcher>

ArchiveRemovals::ArchiveRemovals(MeetingArchiver& archiver, ModelContext& store, QObject* parent)
    : QObject(parent)
    , m_archiver(archiver)
    , m_store(store)
{
    connect(&m_store, &ModelContext::saved, this, &ArchiveRemovals::run);
}

void ArchiveRemovals::run()
{
    const QSet<QUuid> pending = m_store.pendingArchiveRemovals();
    for (const QUuid& id : pending) {
        if (m_underWay.contains(id))
            continue;
        // Identifiers are not unique: the file belongs to the meeting still in the store.
        if (m_store.meetingById(id)) {
            m_store.clearArchiveRemovals({ id });
            continue;
        }
        m_underWay.insert(id);
        // A watcher rather than a continuation: it goes with this object, and a removal that
        // finishes after the application took this object down reports to no one.
        auto* watcher = new QFutureWatcher<bool>(this);
        connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, id] {
            watcher->deleteLater();
            // A removal that failed stays under way until the next launch: tried again at
            // every save, it would log its failure at every keystroke.
            if (!watcher->future().result())
                return;
            m_underWay.remove(id);
            m_store.clearArchiveRemovals({ id });
        });
        watcher->setFuture(m_archiver.remove(id));
    }
}
