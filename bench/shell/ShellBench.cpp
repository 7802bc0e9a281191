// Prints what one show of the main window costs the main thread on a large library: its
// housekeeping (stale recordings, empty meetings, the recent list, the archive's back-fill, the
// calendar's automatic start) and its tasks (account refresh, import, update check), with
// 10,000 meetings of 50 segments each, all already in the archive. Targets: under 100 ms of
// main-thread time and under 20 MB of resident growth. For comparison it then takes a
// snapshot of every finished meeting, as the back-fill did before it asked the archive which
// meetings it lacks.
// Usage: bench_shell [meetings]

#include "app/AppServices.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AppRig.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int kSegmentsPerMeeting = 50;

double mainThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

void waitFor(QFuture<void> future)
{
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!watcher.isFinished())
        loop.exec();
}

// Runs the event loop for a while: replies and queued answers arrive.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void fill(AppServices& services, int count)
{
    ModelContext& store = services.store();
    const QDateTime start(QDate(2020, 1, 6), QTime(9, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        auto* meeting = new Meeting(QStringLiteral("Weekly planning %1").arg(i), start.addSecs(qint64(i) * 4 * 3600));
        meeting->setDuration(1800);
        meeting->setSummary(QStringLiteral("## Decisions\n- Ship on Friday"));
        for (int s = 0; s < kSegmentsPerMeeting; ++s)
            meeting->appendSegment(new TranscriptSegment(
                QStringLiteral("This is turn %1 of the meeting, with a sentence of quite ordinary length.").arg(s),
                s % 2 ? Speaker::them() : Speaker::me(), s * 17.3));
        store.insert(meeting);
    }
    store.save();
    // Every meeting is in the archive already.
    QList<MeetingArchiver::Snapshot> snapshots;
    const QList<Meeting*> meetings = store.fetchMeetings();
    for (const Meeting* meeting : meetings)
        snapshots.append(MeetingArchiver::Snapshot(*meeting));
    services.archiver().backfill(snapshots);
    waitFor(services.archiver().idle());
}

} // namespace

int main(int argc, char* argv[])
{
    TestSupport::isolateHome();
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    AppRig rig;
    std::fprintf(
        stderr, "filling a store with %d meetings of %d segments and archiving them...\n", count, kSegmentsPerMeeting);
    fill(*rig, count);
    // A fresh start on that library: meetings are read, their segments not yet.
    AppServices& services = rig.restart();
    services.launch();
    waitFor(services.archiver().idle());
    settle(200);

    const double residentBefore = residentMb();
    const double cpuBefore = mainThreadCpuMs();
    QElapsedTimer wall;
    wall.start();
    ModelContext& store = services.store();
    AppState& state = services.appState();
    state.finalizeStaleRecordings(store);
    state.purgeEmptyMeetings(store);
    state.refreshRecentMeetings(store);
    state.backfillArchive(store);
    services.calendarHooks().startAutoStart(store);
    services.runWindowTasks();
    const double synchronousMs = double(wall.nsecsElapsed()) / 1e6;
    // The archive's answer, the back-fill it leads to, and the network replies.
    waitFor(services.archiver().idle());
    settle(300);
    waitFor(services.archiver().idle());
    const double mainThreadMs = mainThreadCpuMs() - cpuBefore;
    const double growthMb = residentMb() - residentBefore;

    std::printf("one window show, %d meetings / %d segments, all archived:\n", store.meetingCount(),
        store.meetingCount() * kSegmentsPerMeeting);
    std::printf("  main-thread time: %.1f ms (of which the show's own call %.1f ms; target < 100 ms)\n", mainThreadMs,
        synchronousMs);
    std::printf("  resident growth: %.1f MB (target < 20 MB)\n", growthMb);

    // What the back-fill cost when it took a snapshot of every finished meeting.
    const double cpuBeforeAll = mainThreadCpuMs();
    const double residentBeforeAll = residentMb();
    QList<MeetingArchiver::Snapshot> all;
    const QList<Meeting*> finished = store.fetchMeetings({ [](const Meeting& m) { return !m.isRecording(); } });
    for (const Meeting* meeting : finished)
        all.append(MeetingArchiver::Snapshot(*meeting));
    std::printf("for comparison, a snapshot of every finished meeting: %.1f ms, %.1f MB\n",
        mainThreadCpuMs() - cpuBeforeAll, residentMb() - residentBeforeAll);

    const bool withinTargets = mainThreadMs < 100 && growthMb < 20;
    return withinTargets ? 0 : 1;
}
