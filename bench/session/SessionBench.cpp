// Prints what a recording costs, end to end (capture, chunking, voice detection, uploads to a
// local stand-in for the provider that answers at once, intake into a real store):
//  1. CPU: 60 s of live two-stream speech played into the test sound server, recorded with the
//     live draft off and then on, as a share of one core (targets: < 2 % off, < 10 % on).
//     The target is the recording path's own cost (capture threads, chunking and detection,
//     transcriber threads, main-thread intake), so the stand-in server's threads are measured
//     apart and left out; the whole process's figure is printed beside it;
//  2. memory: one hour of two-stream speech fed from memory at full speed, resident memory
//     every ten minutes of audio (target: growth under 20 MB over the hour).
// Needs the sound server and espeak-ng: run it under scripts/with-test-env.
// Usage: bench_session [--live-seconds N] [--hours H] [--draft off|on|both]

#include "support/SessionRig.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <pthread.h>
#include <unistd.h>

namespace {

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The stand-in server's threads are told apart by name: the main thread carries this name
// while the rig is made, and the server's threads (started then) inherit it. The recording
// path's own threads start later and are named by their owners or inherit the main thread's
// usual name. (The idle sound-cue thread is made then too; it does not run during the bench.)
constexpr const char* kRigSetupName = "rig-setup";

struct ThreadTimes
{
    QByteArray name;
    double cpuSeconds = 0;
    quint64 runs = 0; // times the thread was put on a core: its wake-ups, roughly
};

// Every thread of this process now: CPU time and scheduling count from schedstat.
std::map<int, ThreadTimes> threadTimes()
{
    std::map<int, ThreadTimes> out;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(entry + QStringLiteral("/schedstat")));
        QFile comm(tasks.filePath(entry + QStringLiteral("/comm")));
        if (!stat.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        const QList<QByteArray> fields = stat.readAll().simplified().split(' ');
        if (fields.size() < 3)
            continue;
        out[entry.toInt()]
            = ThreadTimes { comm.readAll().trimmed(), fields[0].toDouble() / 1e9, fields[2].toULongLong() };
    }
    return out;
}

struct CpuBreakdown
{
    double process = 0;
    double server = 0;
    double capture = 0;
    double transcribers = 0;
    double mainThread = 0;
    double other = 0; // network threads of the uploads, draft decoders, threads that ended
    quint64 captureRuns = 0;
    quint64 mainRuns = 0;
    quint64 transcriberRuns = 0;
    double recordingPath() const { return process - server; }
};

CpuBreakdown cpuBetween(
    const std::map<int, ThreadTimes>& before, const std::map<int, ThreadTimes>& after, double processSeconds)
{
    CpuBreakdown b;
    b.process = processSeconds;
    const int mainTid = int(getpid());
    double live = 0;
    for (const auto& [tid, now] : after) {
        const auto then = before.find(tid);
        const double cpu = now.cpuSeconds - (then != before.end() ? then->second.cpuSeconds : 0.0);
        const quint64 runs = now.runs - (then != before.end() ? then->second.runs : 0);
        live += cpu;
        if (tid == mainTid) {
            b.mainThread += cpu;
            b.mainRuns += runs;
        } else if (now.name == kRigSetupName) {
            b.server += cpu;
        } else if (now.name == "quillet-capture") {
            b.capture += cpu;
            b.captureRuns += runs;
        } else if (now.name.startsWith("TessraTranscrib")) { // names are cut to 15 bytes
            b.transcribers += cpu;
            b.transcriberRuns += runs;
        } else {
            b.other += cpu;
        }
    }
    // Threads that ended inside the window are in the process's time but in neither list.
    b.other += std::max(0.0, processSeconds - live);
    return b;
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// About a minute of one side of a conversation: sentences with pauses between them.
QList<float> conversation(const QStringList& sentences, const QString& folder, double pauseSeconds, double total)
{
    QList<float> track;
    int index = 0;
    while (double(track.size()) / 24000 < total) {
        const auto clip = SpokenAudio::speak(sentences.at(index++ % sentences.size()), folder + "/s.wav");
        if (!clip)
            return {};
        PolyphaseResampler resampler(clip->sampleRate, 24000);
        std::vector<float> out;
        resampler.process(std::span<const float>(clip->samples.constData(), std::size_t(clip->samples.size())), out);
        track.append(QList<float>(out.begin(), out.end()));
        track.append(QList<float>(qsizetype(pauseSeconds * 24000), 0.0f));
    }
    track.resize(qsizetype(total * 24000));
    return track;
}

const QStringList kFarSide { QStringLiteral("Thanks for joining, let us go through the release plan."),
    QStringLiteral("The backend work is finished and the tests are green."),
    QStringLiteral("We still need a decision on the pricing page before Friday.") };
const QStringList kUser { QStringLiteral("I can take the pricing page and share a draft tomorrow."),
    QStringLiteral("Could we move the review to Thursday afternoon?"),
    QStringLiteral("Sounds good, I will update the ticket after this call.") };

// Returns the recording path's share of one core in percent, or a negative number on failure.
double liveCpu(double seconds, bool draft)
{
    char ownName[16] = {};
    pthread_getname_np(pthread_self(), ownName, sizeof ownName);
    pthread_setname_np(pthread_self(), kRigSetupName);
    SessionRig rig;
    pthread_setname_np(pthread_self(), ownName);
    rig.provider.setNumberedTranscripts(true);
    rig.settings.set(SettingsKeys::liveDraftEnabled, draft);
    const QList<float> far = conversation(kFarSide, rig.dir.path(), 1.5, seconds);
    const QList<float> near = conversation(kUser, rig.dir.path(), 2.3, seconds);
    if (far.isEmpty() || near.isEmpty()) {
        std::printf("espeak-ng failed\n");
        return -1;
    }
    if (!rig.start()) {
        std::printf("recording did not start: %s\n", qPrintable(rig.session.error()));
        return -1;
    }
    runEventsFor(1000); // let the draft's decoders load before measuring
    const auto farPlayer = SpokenAudio::startPlaying(rig.writeRaw(far), QStringLiteral("spk"));
    const auto nearPlayer = SpokenAudio::startPlaying(rig.writeRaw(near), QStringLiteral("micsink"));
    QElapsedTimer wall;
    wall.start();
    const auto threadsBefore = threadTimes();
    const double cpuBefore = processCpuSeconds();
    // Waits for the players without a polling timer of its own, so the main thread wakes only
    // for the recording's work.
    QEventLoop played;
    const auto quitWhenBothDone = [&] {
        if (farPlayer->state() == QProcess::NotRunning && nearPlayer->state() == QProcess::NotRunning)
            played.quit();
    };
    QObject::connect(farPlayer.get(), &QProcess::finished, &played, quitWhenBothDone);
    QObject::connect(nearPlayer.get(), &QProcess::finished, &played, quitWhenBothDone);
    QObject::connect(farPlayer.get(), &QProcess::errorOccurred, &played, quitWhenBothDone);
    QObject::connect(nearPlayer.get(), &QProcess::errorOccurred, &played, quitWhenBothDone);
    if (farPlayer->state() != QProcess::NotRunning || nearPlayer->state() != QProcess::NotRunning)
        played.exec();
    const double processCpu = processCpuSeconds() - cpuBefore;
    const auto threadsAfter = threadTimes();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const CpuBreakdown cpu = cpuBetween(threadsBefore, threadsAfter, processCpu);
    Meeting* meeting = rig.session.meeting();
    const int segments = meeting ? int(meeting->segments().size()) : 0;
    rig.stopAndFinalize();
    const auto share = [elapsed](double seconds) { return 100.0 * seconds / elapsed; };
    std::printf("live recording, draft %s: %.1f s of two-stream speech, %d uploads, %d segments stored\n",
        draft ? "on " : "off", elapsed, rig.provider.transcriptionCount(), segments);
    std::printf(
        "  recording path: %.2f CPU s = %.2f %% of one core\n", cpu.recordingPath(), share(cpu.recordingPath()));
    std::printf("  whole process:  %.2f CPU s = %.2f %% of one core (stand-in server %.2f %%)\n", cpu.process,
        share(cpu.process), share(cpu.server));
    std::printf("  recording path by thread: capture %.2f %% (%.0f wake-ups/s), transcribers %.2f %% (%.0f/s), "
                "main thread %.2f %% (%.0f/s), other %.2f %%\n",
        share(cpu.capture), double(cpu.captureRuns) / elapsed, share(cpu.transcribers),
        double(cpu.transcriberRuns) / elapsed, share(cpu.mainThread), double(cpu.mainRuns) / elapsed, share(cpu.other));
    std::fflush(stdout);
    return share(cpu.recordingPath());
}

void hourOfAudio(double hours)
{
    SessionRig rig;
    rig.provider.setNumberedTranscripts(true);
    const QList<float> far = conversation(kFarSide, rig.dir.path(), 1.5, 60);
    const QList<float> near = conversation(kUser, rig.dir.path(), 2.3, 60);
    Meeting* meeting = rig.start();
    if (!meeting) {
        std::printf("recording did not start: %s\n", qPrintable(rig.session.error()));
        return;
    }
    // Captured audio stops here; the minutes below go straight into the chunkers instead.
    rig.session.pauseRecording();
    runEventsFor(500);
    const double startMb = residentMegabytes();
    std::printf("memory: %.1f MB resident before feeding\n", startMb);
    const int minutes = int(hours * 60);
    QElapsedTimer wall;
    wall.start();
    for (int minute = 1; minute <= minutes; ++minute) {
        for (qsizetype at = 0; at < far.size(); at += 2400) {
            rig.mixer.systemChunker().feed(std::span<const float>(far.constData() + at, 2400));
            rig.mixer.micChunker().feed(std::span<const float>(near.constData() + at, 2400));
        }
        // Let the uploads of this minute finish and their text reach the store.
        int seen = -1;
        while (seen != rig.provider.transcriptionCount()) {
            seen = rig.provider.transcriptionCount();
            runEventsFor(150);
        }
        // The stand-in server keeps every request it saw; that is the bench's memory, not ours.
        rig.server.clearRequests();
        if (minute % 10 == 0 || minute == minutes)
            std::printf("memory: %3d min of audio, %.1f MB resident (%+.1f MB), %d segments, %.0f s wall\n", minute,
                residentMegabytes(), residentMegabytes() - startMb, int(meeting->segments().size()),
                double(wall.elapsed()) / 1000.0);
        std::fflush(stdout);
    }
    rig.session.resumeRecording();
    rig.stopAndFinalize();
}

} // namespace

int main(int argc, char* argv[])
{
    TestSupport::isolateHome();
    QCoreApplication app(argc, argv);
    double liveSeconds = 60;
    double hours = 1;
    QString draft = QStringLiteral("both");
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--live-seconds"))
            liveSeconds = args[i + 1].toDouble();
        if (args[i] == QLatin1String("--hours"))
            hours = args[i + 1].toDouble();
        if (args[i] == QLatin1String("--draft"))
            draft = args[i + 1];
    }
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        std::printf("note: no PULSE_SERVER; run under scripts/with-test-env\n");
    if (liveSeconds > 0) {
        const double off = draft != QLatin1String("on") ? liveCpu(liveSeconds, false) : -1;
        const double on = draft != QLatin1String("off") ? liveCpu(liveSeconds, true) : -1;
        // The two figures the targets are about, side by side; the draft's own cost is their
        // difference (its decoders are the "other" threads above).
        if (off >= 0)
            std::printf("CPU, live draft off: %.2f %% of one core (target < 2 %%)\n", off);
        if (on >= 0)
            std::printf("CPU, live draft on:  %.2f %% of one core (target < 10 %%)\n", on);
        std::fflush(stdout);
    }
    if (hours > 0)
        hourOfAudio(hours);
    return 0;
}
