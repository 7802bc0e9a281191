#include "storage/MeetingArchiver.h"

#include "platform/AppIdentity.h"
#include "platform/Log.h"
#include "storage/ArchiveWriter.h"
#include "storage/ChatMessage.h"
#include "storage/ChatRole.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QPromise>
#include <QThread>
#include <functional>
#include <memory>

namespace {

QString turnLabel(const QString& speakerRaw)
{
    if (speakerRaw.isEmpty() || speakerRaw == QLatin1String("Me"))
        return QStringLiteral("Speaker A");
    if (speakerRaw == QLatin1String("Them"))
        return QStringLiteral("Speaker B");
    return speakerRaw;
}

// The one worker thread of the archive. Jobs are posted as queued calls to an object living
// on that thread, so they run one at a time in the order they were posted.
class ArchiveQueue final
{
public:
    static ArchiveQueue& instance()
    {
        static ArchiveQueue queue;
        return queue;
    }

    void post(std::function<void()> job)
    {
        QMutexLocker lock(&m_mutex);
        if (!m_running) {
            // After shutdown (the application is going away) the caller does the work itself
            // rather than lose it.
            lock.unlock();
            job();
            return;
        }
        QMetaObject::invokeMethod(m_worker.get(), std::move(job), Qt::QueuedConnection);
    }

    // Runs the jobs still queued, then stops the thread. Called as the application object is
    // destroyed and, failing that, at process exit.
    void shutdown()
    {
        QMutexLocker lock(&m_mutex);
        if (!m_running)
            return;
        m_running = false;
        QMetaObject::invokeMethod(
            m_worker.get(), [this] { m_thread.quit(); }, Qt::QueuedConnection);
        lock.unlock();
        m_thread.wait();
    }

    ~ArchiveQueue() { shutdown(); }

private:
    ArchiveQueue()
        : m_worker(std::make_unique<QObject>())
    {
        m_thread.setObjectName(QStringLiteral("com.orvane.quillet.archiver"));
        m_worker->moveToThread(&m_thread);
        m_thread.start(QThread::LowPriority);
        qAddPostRoutine([] { ArchiveQueue::instance().shutdown(); });
        // The first job: a process killed in the middle of a write may have left its
        // temporary file behind.
        QMetaObject::invokeMethod(
            m_worker.get(), [] { ArchiveWriter(MeetingArchiver::archiveRoot()).removeLeftoverTemporaryFiles(); },
            Qt::QueuedConnection);
    }

    QMutex m_mutex;
    QThread m_thread;
    std::unique_ptr<QObject> m_worker;
    bool m_running = true;
};

} // namespace

namespace MeetingArchiver {

Snapshot::Snapshot(const Meeting& meeting)
    : id(meeting.id())
    , title(meeting.title().isEmpty() ? QStringLiteral("Untitled") : meeting.title())
    , date(meeting.date())
    , duration(meeting.duration())
    , summary(meeting.summary())
    , userNotes(meeting.userNotes())
{
    const auto segments = meeting.sortedSegments();
    turns.reserve(segments.size());
    for (const TranscriptSegment* segment : segments)
        turns.append({ turnLabel(segment->speakerRaw()), segment->timestamp(), segment->text() });

    const auto messages = meeting.sortedChatMessages();
    chat.reserve(messages.size());
    for (const ChatMessage* message : messages)
        chat.append({ chatRoleRawValue(chatRoleFromRawValue(message->roleRaw())), message->text() });
}

QString archiveRoot()
{
    const bool testBuild = AppIdentity::bundleIdentifier().endsWith(QLatin1String(".test"));
    return QDir::homePath() + u'/' + (testBuild ? QStringLiteral("QuilletNotes-Test") : QStringLiteral("QuilletNotes"));
}

void archive(const Snapshot& snapshot)
{
    ArchiveQueue::instance().post([snapshot] {
        if (const auto error = ArchiveWriter(archiveRoot()).archive(snapshot))
            Log::line("[Quillet] Archive failed for %@: %@", snapshot.id, *error);
    });
}

void backfill(const QList<Snapshot>& snapshots)
{
    ArchiveQueue::instance().post([snapshots] { ArchiveWriter(archiveRoot()).backfill(snapshots); });
}

void remove(const QUuid& meetingId)
{
    ArchiveQueue::instance().post([meetingId] { ArchiveWriter(archiveRoot()).remove(meetingId); });
}

void prune(const QSet<QUuid>& storedIds)
{
    ArchiveQueue::instance().post([storedIds] {
        if (const int pruned = ArchiveWriter(archiveRoot()).prune(storedIds))
            Log::line("[Quillet] Removed %d archived meeting(s) no longer in the store", pruned);
    });
}

QFuture<void> idle()
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    ArchiveQueue::instance().post([promise] { promise->finish(); });
    return future;
}

} // namespace MeetingArchiver
