#pragma once

#include <QObject>
#include <QSet>
#include <QUuid>

class MeetingArchiver;
class ModelContext;

// Carries the meeting deletions the store has recorded over to the archive: after each save,
// and once at launch for those a process ended before finishing. A record is cleared only once
// the archive no longer lists the meeting, so a removal that failed (a full disk) is handed
// over again at the next launch. Main thread only.
class ArchiveRemovals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveRemovals)

public:
    ArchiveRemovals(MeetingArchiver& archiver, ModelContext& store, QObject* parent = nullptr);

    // Hands every recorded removal that is not already under way to the archiver.
    void run();

private:
    MeetingArchiver& m_archiver;
    ModelContext& m_store;
    QSet<QUuid> m_underWay;
};
