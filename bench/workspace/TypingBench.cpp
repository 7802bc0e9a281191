#include "TypingBench.h"

#include "BenchFigures.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AppRig.h"
#include "support/DatabaseWriteWatch.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/NotesEditor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// The archive's worker thread, by the name it gives itself (the kernel keeps 15 bytes of it).
QString archiveThread()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("com.orvane.quil"))
            return tasks.filePath(task);
    }
    return {};
}

// Nanoseconds the thread has run.
qint64 threadCpuNs(const QString& task)
{
    QFile file(task + QStringLiteral("/schedstat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().split(' ').value(0).toLongLong();
}

// Bytes the thread has handed to write().
qint64 threadBytesWritten(const QString& task)
{
    QFile file(task + QStringLiteral("/io"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return 0;
}

// Every write of the index replaces the file: a new inode, or a new modification time.
QByteArray fileIdentity(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QByteArray::number(qulonglong(info.st_ino)) + '/' + QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(info.st_mtim.tv_nsec));
}

// The CPU time of the calling thread, in milliseconds: what a key costs the main thread,
// whatever else the machine is doing.
double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

QString notesOfSize(qsizetype bytes)
{
    const QString line
        = QStringLiteral("We should ship the release next week and review the numbers with finance first.\n");
    QString notes;
    notes.reserve(bytes + line.size());
    while (notes.size() < bytes)
        notes += line;
    notes.truncate(bytes);
    return notes;
}

struct Page
{
    QWidget window;
    NotesEditor* notes = nullptr;

    Page(AppServices& services, Meeting& meeting)
    {
        window.resize(1120, 740);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new FinishedMeetingPage(meeting, WorkspaceServices::of(services)));
        window.show();
        notes = window.findChild<NotesEditor*>(QStringLiteral("notesEditor"));
        notes->setFocus();
        QTextCursor end = notes->textCursor();
        end.movePosition(QTextCursor::End);
        notes->setTextCursor(end);
        QCoreApplication::processEvents();
        window.repaint();
    }

    // One key as a person presses it, the loop's turn that commits it, and the frame that shows
    // it: the time it took, and the main thread's CPU time in it (lastCpuMs).
    double type(char key)
    {
        QElapsedTimer timer;
        timer.start();
        const double cpu = threadCpuMs();
        QTest::keyClick(notes, key);
        QCoreApplication::processEvents();
        window.repaint();
        lastCpuMs = threadCpuMs() - cpu;
        return msSince(timer);
    }

    double lastCpuMs = 0;
};

void benchLibraryTyping(int libraryMeetings)
{
    AppRig rig({ .steppedDelays = true });
    ModelContext& store = rig->store();
    QList<MeetingArchiver::Snapshot> snapshots;
    Meeting* typed = nullptr;
    for (int i = 0; i < libraryMeetings; ++i) {
        auto* meeting = new Meeting(QStringLiteral("Weekly planning %1").arg(i),
            QDateTime(QDate(2020, 1, 1), QTime(9, 0), Qt::UTC).addSecs(qint64(i) * 3 * 3600));
        meeting->setDuration(1800);
        meeting->setSummary(QStringLiteral("## Decisions\n- Ship on Friday"));
        meeting->setUserNotes(QStringLiteral("Remember the venue."));
        if (i == libraryMeetings - 1) {
            for (int t = 0; t < 50; ++t)
                meeting->appendSegment(new TranscriptSegment(
                    QStringLiteral("This is turn %1 of the meeting, with a sentence of ordinary length.").arg(t),
                    t % 2 ? Speaker::them() : Speaker::me(), t * 17.3));
            typed = meeting;
        }
        store.insert(meeting);
        snapshots.append(MeetingArchiver::Snapshot(*meeting));
    }
    store.save();
    rig->archiver().backfill(snapshots);
    rig->archiver().idle().waitForFinished();
    const QString index = rig.archiveRoot() + QStringLiteral("/index.json");
    const QString task = archiveThread();

    Page page(*rig, *typed);
    int writes = 0;
    QObject::connect(&rig->archiveQueue(), &ArchiveQueue::handedOver, [&] { ++writes; });
    int indexWrites = 0;
    QByteArray indexSeen = fileIdentity(index);
    const auto settleArchive = [&] {
        QCoreApplication::processEvents();
        rig->archiver().idle().waitForFinished();
        QCoreApplication::processEvents();
        const QByteArray now = fileIdentity(index);
        indexWrites += now != indexSeen;
        indexSeen = now;
    };
    settleArchive();
    writes = 0;
    indexWrites = 0;

    // 10 keys a second for 20 s, with three pauses of 1.5 s between bursts.
    constexpr int kKeys = 200;
    constexpr int kPauses = 3;
    const qint64 cpuBefore = threadCpuNs(task);
    const qint64 bytesBefore = threadBytesWritten(task);
    QList<double> mainThread;
    for (int key = 0; key < kKeys; ++key) {
        double ms = page.type(char('a' + key % 26));
        QElapsedTimer timer;
        timer.start();
        rig.scheduler.advance(100ms);
        ms += msSince(timer);
        mainThread.append(ms);
        settleArchive();
        if ((key + 1) % (kKeys / (kPauses + 1)) == 0 && key + 1 < kKeys) {
            rig.scheduler.advance(1500ms);
            settleArchive();
        }
    }
    rig.scheduler.advance(900ms);
    settleArchive();
    const double cpuPerKeyMs = double(threadCpuNs(task) - cpuBefore) / 1e6 / kKeys;
    const double bytesPerKey = double(threadBytesWritten(task) - bytesBefore) / kKeys;
    const Figures perKey = summarise(mainThread);
    std::printf(
        "typing %d keys at 10 a second into one meeting of %d, %d pauses of 1.5 s:\n", kKeys, libraryMeetings, kPauses);
    std::printf(
        "  archive writes %d (target: at most %d), index writes %d (target: 0)\n", writes, kPauses + 1, indexWrites);
    std::printf("  archive CPU per key %.3f ms (target: under 1 ms), bytes written per key %.0f%s\n", cpuPerKeyMs,
        bytesPerKey, task.isEmpty() ? " (archive thread not found)" : "");
    std::printf(
        "  main thread per key: median %.2f ms, p95 %.2f ms, max %.2f ms\n", perKey.median, perKey.p95, perKey.max);
}

// Keys at the end of long notes at 10 a second, each committed at once: the time to its frame,
// whether the main thread copied the store's log into its file (a checkpoint there) meanwhile,
// and the largest the log file grew.
void benchLongNotes()
{
    DatabaseWriteWatch::install();
    struct Size
    {
        qsizetype bytes;
        int keys;
    };
    for (const Size size : { Size { 100'000, 300 }, Size { 1'000'000, 300 }, Size { 5'000'000, 60 } }) {
        AppRig rig({ .steppedDelays = true });
        auto* meeting = new Meeting(QStringLiteral("Long notes"), QDateTime::currentDateTimeUtc());
        meeting->setUserNotes(notesOfSize(size.bytes));
        rig->store().insert(meeting);
        rig->store().save();
        const QString log = rig->store().filePath() + QStringLiteral("-wal");
        Page page(*rig, *meeting);
        QList<double> keys;
        QList<double> cpu;
        int checkpointedKeys = 0;
        qint64 largestLog = 0;
        for (int key = 0; key < size.keys + 3; ++key) {
            QElapsedTimer pace;
            pace.start();
            const long mainThreadWrites = DatabaseWriteWatch::onMainThread();
            const double ms = page.type(char('a' + key % 26));
            rig.scheduler.advance(100ms);
            // A person's pace, in real time: the store's own thread works between the keys.
            if (const qint64 left = 100 - pace.elapsed(); left > 0)
                QTest::qWait(int(left));
            if (key >= 3) {
                keys.append(ms);
                cpu.append(page.lastCpuMs);
                checkpointedKeys += DatabaseWriteWatch::onMainThread() != mainThreadWrites;
                largestLog = std::max(largestLog, QFileInfo(log).size());
            }
        }
        const Figures figures = summarise(keys);
        std::printf("%d keys at 10 a second at the end of notes of %lld bytes, to its frame: median %.2f ms, "
                    "p95 %.2f ms%s, max %.2f ms; main thread's CPU median %.2f ms\n",
            size.keys, qlonglong(size.bytes), figures.median, figures.p95,
            size.bytes == 1'000'000 ? " (target: under 16 ms)" : "", figures.max, summarise(cpu).median);
        std::printf("  keys with a checkpoint on the main thread %d (target: 0), largest log file %.1f MB\n",
            checkpointedKeys, double(largestLog) / 1e6);
    }
}

} // namespace

void benchTyping(int libraryMeetings)
{
    benchLibraryTyping(libraryMeetings);
    benchLongNotes();
}
