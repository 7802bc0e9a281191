// Prints what a recording costs, end to end (capture, chunking, voice detection, uploads to a
// local stand-in for the provider that answers at once, intake into a real store):
//  1. CPU: 60 s of live two-stream speech played into the test sound server, recorded with the
//     live draft off and then on, as a share of one core (target with the draft off: < 2 %);
//  2. memory: one hour of two-stream speech fed from memory at full speed, resident memory
//     every ten minutes of audio (target: growth under 20 MB over the hour).
// Needs the sound server and espeak-ng: run it under scripts/with-test-env.
// Usage: bench_session [--live-seconds N] [--hours H] [--draft off|on|both]

#include "SessionRig.h" // tests/transcription
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
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

void liveCpu(double seconds, bool draft)
{
    SessionRig rig;
    rig.provider.setNumberedTranscripts(true);
    rig.settings.setValue(QStringLiteral("liveDraftEnabled"), draft);
    const QList<float> far = conversation(kFarSide, rig.dir.path(), 1.5, seconds);
    const QList<float> near = conversation(kUser, rig.dir.path(), 2.3, seconds);
    if (far.isEmpty() || near.isEmpty()) {
        std::printf("espeak-ng failed\n");
        return;
    }
    if (!rig.start()) {
        std::printf("recording did not start: %s\n", qPrintable(rig.session.error()));
        return;
    }
    runEventsFor(1000); // let the draft's decoders load before measuring
    const auto farPlayer = SpokenAudio::startPlaying(rig.writeRaw(far), QStringLiteral("spk"));
    const auto nearPlayer = SpokenAudio::startPlaying(rig.writeRaw(near), QStringLiteral("micsink"));
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = processCpuSeconds();
    while (farPlayer->state() != QProcess::NotRunning || nearPlayer->state() != QProcess::NotRunning)
        runEventsFor(100);
    const double cpu = processCpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    Meeting* meeting = rig.session.meeting();
    const int segments = meeting ? int(meeting->segments().size()) : 0;
    rig.stopAndFinalize();
    std::printf("live recording, draft %s: %.1f s of two-stream speech, %.2f CPU s = %.2f %% of one core, "
                "%d uploads, %d segments stored\n",
        draft ? "on " : "off", elapsed, cpu, 100.0 * cpu / elapsed, rig.provider.transcriptionCount(), segments);
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
        if (draft != QLatin1String("on"))
            liveCpu(liveSeconds, false);
        if (draft != QLatin1String("off"))
            liveCpu(liveSeconds, true);
    }
    if (hours > 0)
        hourOfAudio(hours);
    return 0;
}
