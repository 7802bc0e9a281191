// Prints what one show of the main window costs the main thread on a large library: its
// housekeeping (stale recordings, empty meetings, the recent list, the archive's back-fill, the
// calendar's automatic start) and its tasks (account refresh, import, update check), with
// 10,000 meetings of 50 segments each, all already in the archive. Targets: under 100 ms of
// main-thread time and under 20 MB of resident growth. For comparison it then takes a
// snapshot of every finished meeting, as the back-fill did before it asked the archive which
// meetings it lacks.
//
// Then it starts the program itself (the built `quillet`, offscreen) on a copy of that library
// and times it from exec to the first paint of the home page, and reads its resident memory 10 s
// later, when the search copy has been built; and the same with an empty store. Targets: first
// paint under 400 ms, resident under 200 MB. The program checks for updates at its own site when
// its window shows, so this part runs only where no network but loopback exists:
//   unshare --map-current-user --keep-caps -n sh -c 'ip link set lo up && scripts/with-test-env
//   build/release/bench/shell/bench_shell'
// Usage: bench_shell [meetings]

#include "app/AppServices.h"
#include "platform/AppIdentity.h"
#include "platform/Settings.h"
#include "platform/SettingsKeys.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AppRig.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
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

double monotonicMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Only loopback: the program cannot reach any other address.
bool onlyLoopback()
{
    // The interfaces of this process's network namespace (sysfs shows the mount's).
    QFile devices(QStringLiteral("/proc/net/dev"));
    if (!devices.open(QIODevice::ReadOnly))
        return false;
    QStringList names;
    for (const QByteArray& line : devices.readAll().split('\n').mid(2)) {
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            names.append(QString::fromLatin1(line.left(colon).trimmed()));
    }
    return names == QStringList { QStringLiteral("lo") };
}

void copyTree(const QString& from, const QString& to)
{
    QDirIterator files(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        QFile::copy(file, target);
    }
}

struct ColdStart
{
    double firstPaintMs = -1;
    double residentMb = -1;
};

// The program started in a home of its own, as the desktop starts it; storeFiles are copied in
// as its store (the file and its write-ahead log), archive as its notes folder.
ColdStart startProgram(const QStringList& storeFiles, const QString& archive)
{
    // The release program's own folders, not the test build's.
    const QString container = AppIdentity::containerName(QStringLiteral(QUILLET_RELEASE_BUNDLE_ID));
    QTemporaryDir home;
    const QString root = home.path();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, sub] : { std::pair { "HOME", "home" }, { "XDG_CONFIG_HOME", "home/.config" },
             { "XDG_DATA_HOME", "home/.local/share" }, { "XDG_CACHE_HOME", "home/.cache" },
             { "XDG_STATE_HOME", "home/.local/state" }, { "XDG_RUNTIME_DIR", "runtime" } }) {
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        environment.insert(QLatin1String(name), root + QLatin1Char('/') + QLatin1String(sub));
    }
    QFile::setPermissions(
        root + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUILLET_REPORT_FIRST_PAINT"), QStringLiteral("1"));

    const QString dataFolder = root + QStringLiteral("/home/.local/share/") + container;
    QDir().mkpath(dataFolder);
    for (const QString& file : storeFiles)
        QFile::copy(file, dataFolder + QLatin1Char('/') + QFileInfo(file).fileName());
    if (!archive.isEmpty())
        copyTree(archive, root + QStringLiteral("/home/QuilletNotes"));
    {
        Settings settings(root + QStringLiteral("/home/.config/") + container + QStringLiteral("/settings.ini"));
        settings.set(SettingsKeys::onboardingCompleted, true);
    }

    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.setStandardOutputFile(QProcess::nullDevice());
    ColdStart result;
    const double started = monotonicMs();
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(QUILLET_PROGRAM), {});
    QByteArray errors;
    QElapsedTimer waiting;
    waiting.start();
    while (result.firstPaintMs < 0 && waiting.elapsed() < 60000 && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(1000);
        errors += program.readAllStandardError();
        const qsizetype at = errors.indexOf("First paint of the home page at ");
        const qsizetype end = at < 0 ? -1 : errors.indexOf(" us", at);
        if (end > 0) {
            const qsizetype from = at + qsizetype(qstrlen("First paint of the home page at "));
            result.firstPaintMs = errors.mid(from, end - from).toDouble() / 1000.0 - started;
        }
    }
    if (result.firstPaintMs < 0) {
        std::fprintf(stderr, "the program showed no home page; it said:\n%s\n", errors.constData());
    } else {
        QThread::sleep(10);
        QFile status(QStringLiteral("/proc/%1/status").arg(program.processId()));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    result.residentMb = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
            }
        }
    }
    program.terminate();
    if (!program.waitForFinished(10000))
        program.kill();
    program.waitForFinished(5000);
    return result;
}

void benchColdStart(const QString& storeFile, const QString& archive, int meetings)
{
    if (!onlyLoopback()) {
        std::printf("the program started cold: not measured (it reaches its update site; run this where only "
                    "loopback exists, see the top of ShellBench.cpp)\n");
        return;
    }
    QStringList storeFiles { storeFile };
    if (QFile::exists(storeFile + QStringLiteral("-wal")))
        storeFiles.append(storeFile + QStringLiteral("-wal"));
    QList<ColdStart> runs;
    for (int i = 0; i < 3; ++i)
        runs.append(startProgram(storeFiles, archive));
    const ColdStart empty = startProgram({}, QString());
    std::printf("the program started cold, %d meetings / %d segments, exec to the first paint of the home page: ",
        meetings, meetings * kSegmentsPerMeeting);
    for (const ColdStart& run : runs)
        std::printf("%.0f ms  ", run.firstPaintMs);
    std::printf("(target < 400 ms)\n  resident 10 s later, the search copy built: ");
    for (const ColdStart& run : runs)
        std::printf("%.0f MB  ", run.residentMb);
    std::printf("(target < 200 MB)\n  with an empty store: first paint %.0f ms, resident %.0f MB 10 s later\n",
        empty.firstPaintMs, empty.residentMb);
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
    services.archiveQueue().backfill();
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

    benchColdStart(rig.path(QStringLiteral("Quillet.store")), rig.archiveRoot(), store.meetingCount());

    const bool withinTargets = mainThreadMs < 100 && growthMb < 20;
    return withinTargets ? 0 : 1;
}
