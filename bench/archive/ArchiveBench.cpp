// Prints how long the archive takes to backfill 10,000 meetings of 50 turns each into an
// empty folder, and how long the import takes to read them back into an empty store.
// Usage: bench_archive [meetings]

#include "storage/QuilletStore.h"
#include "archive/ArchiveIndex.h"
#include "archive/MeetingArchiver.h"
#include "archive/MeetingImporter.h"
#include "storage/ModelContext.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

MeetingArchiver::Snapshot makeSnapshot(int index)
{
    MeetingArchiver::Snapshot s;
    s.id = QUuid::createUuid();
    s.title = QStringLiteral("Weekly planning %1 — Đặng").arg(index);
    s.date = QDateTime(QDate(2020, 1, 1), QTime(9, 0), Qt::UTC).addSecs(qint64(index) * 3 * 3600);
    s.duration = 1800 + index % 1800;
    s.summary
        = QStringLiteral("## Decisions\n- Ship on Friday\n- Review the budget\n\n## Next steps\n- Call the vendor");
    s.userNotes = QStringLiteral("Remember the venue.");
    for (int t = 0; t < 50; ++t) {
        s.turns.append({ t % 2 ? QStringLiteral("Speaker B") : QStringLiteral("Speaker A"), t * 17.3,
            QStringLiteral("This is turn %1 of the meeting, with a sentence of ordinary length.").arg(t) });
    }
    return s;
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    QList<MeetingArchiver::Snapshot> snapshots;
    snapshots.reserve(count);
    for (int i = 0; i < count; ++i)
        snapshots.append(makeSnapshot(i));

    // Written where the import below reads.
    MarkdownArchiver archiver(MeetingImporter::archiveFolder());
    QElapsedTimer timer;
    timer.start();
    archiver.backfill(snapshots);
    archiver.idle().waitForFinished();
    const double backfillSeconds = seconds(timer);
    std::printf("backfill: %d meetings in %.2f s (%.0f files/s)\n", count, backfillSeconds, count / backfillSeconds);

    // One more meeting against the full index: what every new file or new name costs.
    MeetingArchiver::Snapshot added = makeSnapshot(count);
    timer.restart();
    archiver.archive(added);
    archiver.idle().waitForFinished();
    std::printf("archive one new meeting with %d indexed: %.1f ms\n", count, seconds(timer) * 1000);

    // An edit inside its file: what a pause in typing costs; the index is left alone.
    added.userNotes += QStringLiteral(" And the catering.");
    timer.restart();
    archiver.archive(added);
    archiver.idle().waitForFinished();
    std::printf("archive an edit of its notes with %d indexed: %.1f ms\n", count, seconds(timer) * 1000);

    // The index, read whole when someone else changed it, written whole when an entry changes.
    const QString indexPath = archiver.archiveRoot() + QStringLiteral("/index.json");
    timer.restart();
    const ArchiveIndex index = ArchiveIndex::load(indexPath);
    const double loadMs = seconds(timer) * 1000;
    timer.restart();
    index.save(indexPath);
    std::printf("index of %lld entries: load %.1f ms, save %.1f ms\n", static_cast<long long>(index.size()), loadMs,
        seconds(timer) * 1000);

    auto opened = QuilletStore::open(home.filePath(QStringLiteral("bench.store")));
    if (!opened.ok()) {
        std::fprintf(stderr, "store: %s\n", qPrintable(opened.error().message));
        return 1;
    }
    const std::unique_ptr<ModelContext> context = std::move(opened).value();
    timer.restart();
    MeetingImporter::runIfNeeded(*context);
    const double importSeconds = seconds(timer);
    const int imported = context->meetingCount();
    std::printf("import: %d meetings in %.2f s (%.0f files/s)\n", imported, importSeconds, imported / importSeconds);
    return imported == count + 1 ? 0 : 1;
}
