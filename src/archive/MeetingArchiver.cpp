#include "archive/MeetingArchiver.h"

#include "archive/ArchiveWriter.h"
#include "platform/AppIdentity.h"
#include "platform/Log.h"

#include <QDir>
#include <QPromise>
#include <QThread>
#include <functional>
#include <memory>
#include <utility>

QString MeetingArchiver::defaultRoot()
{
    const bool testBuild = AppIdentity::bundleIdentifier().endsWith(QLatin1String(".test"));
    return QDir::homePath() + u'/' + (testBuild ? QStringLiteral("QuilletNotes-Test") : QStringLiteral("QuilletNotes"));
}

MarkdownArchiver::MarkdownArchiver(QString root)
    : m_root(std::move(root))
    , m_main(std::make_unique<QObject>())
    , m_writer(std::make_unique<ArchiveWriter>(m_root))
    , m_worker(std::make_unique<QObject>())
{
    // Queued to the main thread; one still queued when this object goes is dropped with m_main.
    m_writer->setIndexRebuilt([this](const QString& reason) {
        QMetaObject::invokeMethod(
            m_main.get(), [this, reason] { tell(reason); }, Qt::QueuedConnection);
    });
    m_thread.setObjectName(QStringLiteral("com.orvane.quillet.archiver"));
    m_worker->moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
    // The first job: a process killed in the middle of a change may have left a temporary file
    // behind, or a file the index lists as not yet written or not yet removed.
    post([writer = m_writer.get()] { writer->start(); });
}

MarkdownArchiver::~MarkdownArchiver()
{
    // The quit is queued behind every job already posted, so they all run first.
    QMetaObject::invokeMethod(
        m_worker.get(), [this] { m_thread.quit(); }, Qt::QueuedConnection);
    m_thread.wait();
}

void MarkdownArchiver::post(std::function<void()> job)
{
    QMetaObject::invokeMethod(m_worker.get(), std::move(job), Qt::QueuedConnection);
}

QFuture<MeetingArchiver::WriteOutcome> MarkdownArchiver::archive(const Snapshot& snapshot)
{
    auto promise = std::make_shared<QPromise<WriteOutcome>>();
    QFuture<WriteOutcome> future = promise->future();
    promise->start();
    post([writer = m_writer.get(), snapshot, promise] {
        const auto error = writer->archive(snapshot);
        if (error)
            Log::line("[Quillet] Archive failed for %@: %@", snapshot.id, *error);
        promise->addResult(error);
        promise->finish();
    });
    return future;
}

void MarkdownArchiver::backfill(const QList<Snapshot>& snapshots)
{
    post([writer = m_writer.get(), snapshots] { writer->backfill(snapshots); });
}

void MarkdownArchiver::adopt(const ImportedFiles& files)
{
    post([writer = m_writer.get(), files] {
        if (const auto error = writer->adopt(files))
            Log::line("[Quillet] Archive failed: could not list the imported files: %@", *error);
    });
}

QFuture<bool> MarkdownArchiver::remove(const QUuid& meetingId)
{
    auto promise = std::make_shared<QPromise<bool>>();
    QFuture<bool> future = promise->future();
    promise->start();
    post([writer = m_writer.get(), meetingId, promise] {
        const auto error = writer->remove(meetingId);
        if (error)
            Log::line("[Quillet] Archive failed for %@: %@", meetingId, *error);
        promise->addResult(!error);
        promise->finish();
    });
    return future;
}

QFuture<QSet<QUuid>> MarkdownArchiver::indexedIds()
{
    auto promise = std::make_shared<QPromise<QSet<QUuid>>>();
    QFuture<QSet<QUuid>> future = promise->future();
    promise->start();
    post([writer = m_writer.get(), promise] {
        promise->addResult(writer->indexedIds());
        promise->finish();
    });
    return future;
}

void MarkdownArchiver::prune(const QSet<QUuid>& storedIds)
{
    post([writer = m_writer.get(), storedIds] {
        if (const int pruned = writer->prune(storedIds))
            Log::line("[Quillet] Removed %d archived meeting(s) no longer in the store", pruned);
    });
}

void MarkdownArchiver::setIndexNotice(IndexNotice notice)
{
    m_indexNotice = std::move(notice);
    const QStringList untold = std::exchange(m_untold, {});
    for (const QString& reason : untold)
        tell(reason);
}

void MarkdownArchiver::tell(const QString& reason)
{
    if (m_indexNotice)
        m_indexNotice(reason);
    else
        m_untold.append(reason);
}

QFuture<void> MarkdownArchiver::idle()
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    post([promise] { promise->finish(); });
    return future;
}
