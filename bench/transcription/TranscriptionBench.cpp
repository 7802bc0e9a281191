// Prints what one stream costs us: CPU for detection, base64 decoding and WAV building over
// an hour of chunks, and our share of the delay from an utterance's last chunk to its text,
// against an instant server on 127.0.0.1.

#include "transcription/StrictBase64.h"
#include "transcription/TessraTranscriber.h"
#include "transcription/TranscriptionRequest.h"
#include "transcription/UtteranceDetector.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QtEndian>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSamplesPerChunk = 2400;
constexpr int kChunksPerHour = 36000;

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Speech-like chunks: a few tones with noise, loud enough to count as speech.
QByteArray speechChunk(std::mt19937& random)
{
    std::normal_distribution<double> noise(0, 600);
    QByteArray pcm(kSamplesPerChunk * 2, Qt::Uninitialized);
    const double f1 = 120 + random() % 200;
    for (int i = 0; i < kSamplesPerChunk; ++i) {
        const double t = double(i) / 24000.0;
        const double value
            = 3000 * std::sin(2 * M_PI * f1 * t) + 1500 * std::sin(2 * M_PI * 3 * f1 * t) + noise(random);
        qToLittleEndian(qint16(std::clamp(value, -32767.0, 32767.0)), pcm.data() + 2 * i);
    }
    return pcm.toBase64();
}

QByteArray quietChunk(std::mt19937& random)
{
    std::normal_distribution<double> noise(0, 40);
    QByteArray pcm(kSamplesPerChunk * 2, Qt::Uninitialized);
    for (int i = 0; i < kSamplesPerChunk; ++i)
        qToLittleEndian(qint16(noise(random)), pcm.data() + 2 * i);
    return pcm.toBase64();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(std::ceil(p * double(values.size()))) - 1);
    return values[index];
}

// An instant speech service on 127.0.0.1: answers as soon as the whole request is in, and
// acknowledges every read at once, so that the loopback's delayed acknowledgements do not
// count against the client.
class InstantServer
{
public:
    InstantServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 8);
        socklen_t size = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~InstantServer()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_acceptor.join();
        for (std::thread& connection : m_connections)
            connection.join();
    }
    int port() const { return m_port; }
    // Seconds from the last byte of the last request in to the answer out.
    double lastServerSeconds() const
    {
        std::lock_guard lock(m_mutex);
        return m_lastServerSeconds;
    }
    std::chrono::steady_clock::time_point lastRequestIn() const
    {
        std::lock_guard lock(m_mutex);
        return m_lastRequestIn;
    }

private:
    void acceptLoop()
    {
        for (;;) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            m_connections.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd)
    {
        std::string buffer;
        std::vector<char> chunk(1 << 20);
        for (;;) {
            const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
            if (got <= 0)
                break;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            buffer.append(chunk.data(), size_t(got));
            for (;;) {
                const size_t headerEnd = buffer.find("\r\n\r\n");
                if (headerEnd == std::string::npos)
                    break;
                size_t length = 0;
                std::string headers = buffer.substr(0, headerEnd);
                std::transform(headers.begin(), headers.end(), headers.begin(), ::tolower);
                const size_t field = headers.find("content-length:");
                if (field != std::string::npos)
                    length = std::stoul(headers.substr(field + 15));
                if (buffer.size() < headerEnd + 4 + length)
                    break;
                const auto in = std::chrono::steady_clock::now();
                buffer.erase(0, headerEnd + 4 + length);
                const std::string body = "{\"text\":\"utterance " + std::to_string(++m_answered) + "\"}";
                const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                    + std::to_string(body.size()) + "\r\n\r\n" + body;
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                const auto out = std::chrono::steady_clock::now();
                std::lock_guard lock(m_mutex);
                m_lastServerSeconds = std::chrono::duration<double>(out - in).count();
                m_lastRequestIn = in;
            }
        }
        ::close(fd);
    }

    int m_listen = -1;
    int m_port = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;
    std::atomic<int> m_answered { 0 };
    mutable std::mutex m_mutex;
    double m_lastServerSeconds = 0;
    std::chrono::steady_clock::time_point m_lastRequestIn;
};

void cpuPerHour(const std::vector<QByteArray>& speech, const std::vector<QByteArray>& quiet)
{
    // 4.5 s of speech, 1.5 s of pause, for an hour: about 600 utterances.
    UtteranceDetector detector;
    detector.setAnchor(0);
    qint64 wavBytes = 0;
    int utterances = 0;
    const double start = threadCpuSeconds();
    for (int i = 0; i < kChunksPerHour; ++i) {
        const bool talking = i % 60 < 45;
        const QByteArray& chunk = talking ? speech[size_t(i) % speech.size()] : quiet[size_t(i) % quiet.size()];
        const std::optional<QByteArray> pcm = StrictBase64::decode(chunk);
        if (!pcm)
            continue;
        if (auto utterance = detector.addChunk(*pcm, UtteranceDetector::rms(*pcm), true)) {
            wavBytes += TranscriptionRequest::wavFile(utterance->pcm, 24000).size();
            ++utterances;
        }
    }
    const double cpu = threadCpuSeconds() - start;
    std::printf("detector + base64 decode + WAV, one stream: %.3f s CPU per hour of audio "
                "(%d utterances, %.1f MB of WAV; target < 1 s)\n",
        cpu, utterances, double(wavBytes) / 1e6);
}

void latency(const std::vector<QByteArray>& speech, const std::vector<QByteArray>& quiet)
{
    InstantServer server;
    const int port = server.port();

    std::mutex mutex;
    std::condition_variable arrived;
    int texts = 0;
    TranscriberOptions options;
    TessraTranscriber transcriber({ QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), QStringLiteral("bench") },
        QStringLiteral("BENCH"), std::nullopt, QDateTime::currentDateTimeUtc(), options);
    transcriber.setOnTranscriptCompleted([&](const QString&, double) {
        std::lock_guard lock(mutex);
        ++texts;
        arrived.notify_all();
    });
    transcriber.connect();

    constexpr int kRuns = 300;
    std::vector<double> ours;
    std::vector<double> total;
    std::vector<double> toServer;
    std::vector<double> fromServer;
    for (int run = 0; run < kRuns; ++run) {
        for (int i = 0; i < 40; ++i)
            transcriber.sendAudio(speech[size_t(run + i) % speech.size()]);
        for (int i = 0; i < 6; ++i)
            transcriber.sendAudio(quiet[size_t(i) % quiet.size()]);
        const auto before = std::chrono::steady_clock::now();
        transcriber.sendAudio(quiet[6]); // the chunk that ends the utterance
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return texts == run + 1; });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        const double serverShare = server.lastServerSeconds();
        total.push_back(seconds);
        const double in = std::chrono::duration<double>(server.lastRequestIn() - before).count();
        toServer.push_back(in);
        fromServer.push_back(seconds - in - serverShare);
        ours.push_back(seconds - serverShare);
    }

    // The first request opens the connection; later ones reuse it, as a recording does.
    std::printf("last chunk to text, minus the server's own time (n=%d): median %.2f ms, p95 %.2f ms "
                "(target median < 5 ms); whole round trip median %.2f ms\n",
        kRuns, percentile(ours, 0.5) * 1e3, percentile(ours, 0.95) * 1e3, percentile(total, 0.5) * 1e3);
    std::printf(
        "  of which last chunk to the whole request received: median %.2f ms; answer sent to text: median %.2f ms\n",
        percentile(toServer, 0.5) * 1e3, percentile(fromServer, 0.5) * 1e3);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::mt19937 random(7);
    std::vector<QByteArray> speech;
    std::vector<QByteArray> quiet;
    for (int i = 0; i < 64; ++i) {
        speech.push_back(speechChunk(random));
        quiet.push_back(quietChunk(random));
    }
    cpuPerHour(speech, quiet);
    latency(speech, quiet);
    return 0;
}
