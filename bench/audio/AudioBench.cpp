// Prints what the audio path costs:
//  1. one hour of two-stream 24 kHz audio through conversion, chunking and base64, as fast as
//     possible (target: under 2 s of one core);
//  2. live capture of both streams through the mixer for a while (default 60 s; needs a sound
//     server, e.g. under scripts/with-test-env), as the process's CPU time (target: under 1 %).
// Usage: bench_audio [--live-seconds N] (0 skips the live capture)

#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A second of something speech-like: a few partials under a noisy, syllable-rate envelope.
std::vector<float> syntheticSecond(unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> samples(kAudioSampleRate);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kAudioSampleRate;
        const double envelope = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 4.0 * t);
        samples[i] = float(envelope
                         * (0.3 * std::sin(2.0 * std::numbers::pi * 180.0 * t)
                             + 0.1 * std::sin(2.0 * std::numbers::pi * 720.0 * t)))
            + noise(random);
    }
    return samples;
}

// CPU seconds of this process's threads named `name` (Linux /proc), so far.
double threadCpuSeconds(const QByteArray& name)
{
    double seconds = 0.0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name || !stat.open(QIODevice::ReadOnly))
            continue;
        // Fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            seconds += double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

void offlineHour()
{
    constexpr int kSeconds = 3600;
    constexpr std::size_t kBuffer = 2040; // what an 85 ms capture fragment holds
    const std::vector<float> mic = syntheticSecond(1);
    const std::vector<float> system = syntheticSecond(2);
    AudioChunker micChunker;
    AudioChunker systemChunker;
    std::size_t characters = 0;
    std::size_t chunks = 0;
    const auto consume = [&](const QString& chunk) {
        characters += std::size_t(chunk.size());
        ++chunks;
    };
    micChunker.setOnChunkReady(consume);
    systemChunker.setOnChunkReady(consume);

    const double cpuStart = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    std::size_t position = 0;
    for (std::size_t fed = 0; fed < std::size_t(kSeconds) * kAudioSampleRate;) {
        const std::size_t count = std::min(kBuffer, mic.size() - position);
        micChunker.feed({ mic.data() + position, count });
        systemChunker.feed({ system.data() + position, count });
        position = (position + count) % mic.size();
        fed += count;
    }
    micChunker.flush();
    systemChunker.flush();
    const double cpu = processCpuSeconds() - cpuStart;
    std::printf("offline: 1 h of two-stream 24 kHz audio -> %zu chunks, %zu base64 characters\n", chunks, characters);
    std::printf("offline: %.3f CPU s per hour of two-stream audio (wall %.3f s; target < 2 s)\n", cpu,
        double(wall.elapsed()) / 1000.0);
}

int liveCapture(int seconds)
{
    MicRecorder mic;
    SystemAudioRecorder system;
    DualStreamMixer mixer(mic, system);
    std::atomic<long> chunks { 0 };
    mixer.micChunker().setOnChunkReady([&](const QString&) { ++chunks; });
    mixer.systemChunker().setOnChunkReady([&](const QString&) { ++chunks; });
    std::atomic<long> micBuffers { 0 };
    std::atomic<long> systemBuffers { 0 };
    mixer.setOnMicSamples([&](const AudioSamples&) { ++micBuffers; });
    mixer.setOnSystemSamples([&](const AudioSamples&) { ++systemBuffers; });
    if (const auto error = mixer.start()) {
        std::printf("live: skipped, the microphone did not start: %s\n", qPrintable(error->description()));
        return 0;
    }
    if (!mixer.systemAudioAvailable())
        std::printf("live: no system audio, microphone only\n");
    const double cpuStart = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double cpu = processCpuSeconds() - cpuStart;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double captureCpu = threadCpuSeconds("quillet-capture");
    mixer.stop();
    std::printf(
        "live: %ld microphone and %ld system-audio buffers delivered\n", micBuffers.load(), systemBuffers.load());
    std::printf("live: %.1f s of capture, %ld chunks, process CPU %.3f s = %.2f %% of one core\n", elapsed,
        chunks.load(), cpu, 100.0 * cpu / elapsed);
    std::printf("live: the two capture threads used %.3f CPU s = %.2f %% of one core (target < 1 %%)\n", captureCpu,
        100.0 * captureCpu / elapsed);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int liveSeconds = 60;
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--live-seconds"));
    if (at >= 0 && at + 1 < arguments.size())
        liveSeconds = arguments.at(at + 1).toInt();
    offlineHour();
    if (liveSeconds > 0)
        return liveCapture(liveSeconds);
    return 0;
}
