#pragma once

// A recording session on the test sound server with a local stand-in for the provider:
// real store, real capture, real transcribers and summary generator; only the provider's
// speech and chat services are replaced, by a server on 127.0.0.1 that checks each request.

#include "account/ModelCredentials.h"
#include "archive/ArchiveQueue.h"
#include "archive/ArchiveRemovals.h"
#include "archive/MeetingArchiver.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"
#include "platform/Clock.h"
#include "platform/PolyphaseResampler.h"
#include "platform/Scheduler.h"
#include "platform/Settings.h"
#include "recording/TranscriptionSession.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "summary/MeetingSummarizer.h"
#include "summary/SummaryGenerator.h"
#include "support/FakeHttpServer.h"
#include "support/FakeMicrophonePermission.h"
#include "support/ProviderAnswers.h"
#include "support/SpokenAudio.h"
#include "support/TempStore.h"
#include "system/SoundFeedback.h"

#include <QDirIterator>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <condition_variable>
#include <map>
#include <mutex>

inline constexpr int kLongWaitMs = 90000;
inline const QByteArray kToken = "tq-session-test";

// The provider: transcriptions answer with a text chosen by the test (or by the length of
// the audio), chat completions with a title or a summary, and the meeting chat's streamed
// questions with a short answer; gates hold chosen replies back.
class FakeProvider final
{
public:
    struct Sentence
    {
        QString text;
        double seconds = 0;
    };

    explicit FakeProvider(FakeHttpServer& server)
        : m_server(server)
    {
        server.on("POST", "/v1/audio/transcriptions",
            [this](const FakeHttpServer::Request& request) { return transcribe(request); });
        server.on("POST", "/v1/chat/completions",
            [this](const FakeHttpServer::Request& request) { return complete(request); });
    }

    ~FakeProvider()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closedGates.clear();
        }
        m_gateChanged.notify_all();
    }

    ModelCredentials credentials(bool viaAccount = false) const
    {
        return ModelCredentials { m_server.url(QStringLiteral("/")), QString::fromLatin1(kToken),
            viaAccount ? ModelCredentials::Kind::account : ModelCredentials::Kind::ownKey };
    }

    void expectRecordingId(const QUuid& meetingId)
    {
        set(m_recordingId, meetingId.toString(QUuid::WithoutBraces).toUpper().toLatin1());
    }
    void setSentences(const QList<Sentence>& sentences) { set(m_sentences, sentences); }
    void setTranscript(const QString& text) { set(m_transcript, text); }
    // Every answer different (the transcriber drops a text equal to the one before it).
    void setNumberedTranscripts(bool numbered) { set(m_numbered, numbered); }
    void setTranscriptionStatus(int status) { set(m_transcriptionStatus, status); }
    void setTitleAnswer(const QString& answer) { set(m_titleAnswer, answer); }
    // Chat requests whose transcript contains `word` wait until the gate opens.
    void closeGate(const QString& word)
    {
        std::lock_guard lock(m_mutex);
        m_closedGates.insert({ word, true });
    }
    void openGate(const QString& word)
    {
        {
            std::lock_guard lock(m_mutex);
            m_closedGates.erase(word);
        }
        m_gateChanged.notify_all();
    }

    QStringList violations() const { return get(m_violations); }
    int transcriptionCount() const { return get(m_transcriptions); }
    QList<double> uploadedSeconds() const { return get(m_uploadedSeconds); }

    static const QString& summaryAnswer()
    {
        static const QString answer = QStringLiteral("## Key points\n- The plan was agreed.");
        return answer;
    }

private:
    template <typename T, typename V> void set(T& member, V&& value)
    {
        std::lock_guard lock(m_mutex);
        member = std::forward<V>(value);
    }
    template <typename T> T get(const T& member) const
    {
        std::lock_guard lock(m_mutex);
        return member;
    }
    void violation(const QString& what)
    {
        std::lock_guard lock(m_mutex);
        m_violations << what;
    }

    // Seconds of 24 kHz mono 16-bit audio in a well-formed WAV file, or a negative number.
    double checkWav(const QByteArray& wav)
    {
        if (wav.size() < 44 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE" || wav.mid(12, 4) != "fmt ") {
            violation(QStringLiteral("not a WAV file"));
            return -1;
        }
        const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wav.constData() + at); };
        const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
        if (u16(20) != 1 || u16(22) != 1 || u32(24) != 24000 || u16(34) != 16)
            violation(QStringLiteral("WAV format is not 24 kHz mono 16-bit PCM"));
        if (wav.mid(36, 4) != "data" || qsizetype(u32(40)) != wav.size() - 44)
            violation(QStringLiteral("WAV data chunk does not match the file"));
        return double(wav.size() - 44) / (2.0 * 24000.0);
    }

    FakeHttpServer::Reply transcribe(const FakeHttpServer::Request& request)
    {
        if (request.header("Authorization") != "Bearer " + kToken)
            violation(QStringLiteral("bearer is %1").arg(QString::fromLatin1(request.header("Authorization"))));
        {
            std::lock_guard lock(m_mutex);
            ++m_transcriptions;
            if (!m_recordingId.isEmpty() && request.header("X-Recording-Id") != m_recordingId)
                m_violations << QStringLiteral("recording id %1, expected %2")
                                    .arg(QString::fromLatin1(request.header("X-Recording-Id")),
                                        QString::fromLatin1(m_recordingId));
        }
        QByteArray wav;
        QStringList names;
        for (const auto& part : request.parts) {
            names << QString::fromLatin1(part.name);
            if (part.name == "file") {
                wav = part.content;
                if (part.fileName != "utterance.wav" || part.contentType != "audio/wav")
                    violation(QStringLiteral("file part is %1 / %2")
                                  .arg(QString::fromLatin1(part.fileName), QString::fromLatin1(part.contentType)));
            } else if (part.name == "response_format" && part.content != "verbose_json") {
                violation(QStringLiteral("response_format is %1").arg(QString::fromLatin1(part.content)));
            }
        }
        // The server library hands the parts over sorted by name, not in the order sent.
        names.sort();
        if (names != QStringList { "file", "model", "response_format", "temperature" })
            violation(QStringLiteral("multipart fields: %1").arg(names.join(QLatin1Char(','))));
        const double seconds = checkWav(wav);
        if (seconds >= 0 && seconds < 0.4)
            violation(QStringLiteral("only %1 s of audio").arg(seconds));

        std::lock_guard lock(m_mutex);
        m_uploadedSeconds << seconds;
        if (m_transcriptionStatus != 200)
            return FakeHttpServer::Reply::json(m_transcriptionStatus, R"({"error":{"message":"provider is down"}})");
        QString text = m_transcript;
        if (!m_sentences.isEmpty()) {
            // The utterance holds the sentence plus up to 0.7 s of trailing silence.
            const Sentence* best = nullptr;
            for (const Sentence& sentence : m_sentences)
                if (!best || std::abs(seconds - 0.4 - sentence.seconds) < std::abs(seconds - 0.4 - best->seconds))
                    best = &sentence;
            text = best->text;
        }
        if (m_numbered)
            text = QStringLiteral("Item %1: %2").arg(m_transcriptions).arg(text);
        const auto segment = [](const QString& segmentText, double noSpeech) {
            return QJsonObject { { QStringLiteral("text"), segmentText },
                { QStringLiteral("no_speech_prob"), noSpeech }, { QStringLiteral("avg_logprob"), -0.2 },
                { QStringLiteral("compression_ratio"), 1.3 } };
        };
        QJsonArray segments;
        if (!text.isEmpty())
            segments.append(segment(QLatin1Char(' ') + text, 0.05));
        segments.append(segment(QStringLiteral(" Mm-hmm, okay then."), 0.9));
        segments.append(segment(QStringLiteral(" Thanks for watching!"), 0.05));
        const QJsonObject reply { { QStringLiteral("text"), text + QStringLiteral(" Thanks for watching!") },
            { QStringLiteral("segments"), segments } };
        return FakeHttpServer::Reply::json(200, QJsonDocument(reply).toJson(QJsonDocument::Compact));
    }

    FakeHttpServer::Reply complete(const FakeHttpServer::Request& request)
    {
        if (request.header("Authorization") != "Bearer " + kToken)
            violation(QStringLiteral("chat bearer is %1").arg(QString::fromLatin1(request.header("Authorization"))));
        const QJsonObject body = request.json();
        const QString content = QString::fromUtf8(request.body);
        {
            std::unique_lock lock(m_mutex);
            m_gateChanged.wait(lock, [&] {
                for (const auto& [word, closed] : m_closedGates)
                    if (closed && content.contains(word))
                        return false;
                return true;
            });
        }
        // The meeting chat asks for its answer as server-sent events.
        if (body.value(QStringLiteral("stream")).toBool())
            return streamedAnswer();
        const bool isTitle = body.value(QStringLiteral("max_tokens")).toInt() == SummaryGenerator::kTitleMaxTokens;
        QString answer;
        {
            std::lock_guard lock(m_mutex);
            answer = isTitle ? m_titleAnswer : summaryAnswer();
        }
        const QJsonObject reply { { QStringLiteral("choices"),
            QJsonArray { QJsonObject { { QStringLiteral("message"),
                QJsonObject { { QStringLiteral("role"), QStringLiteral("assistant") },
                    { QStringLiteral("content"), answer } } } } } } };
        return FakeHttpServer::Reply::json(200, QJsonDocument(reply).toJson(QJsonDocument::Compact));
    }

    static FakeHttpServer::Reply streamedAnswer()
    {
        return ProviderAnswers::streamed({ ProviderAnswers::streamEvent(QStringLiteral("They agreed ")),
            ProviderAnswers::streamEvent(QStringLiteral("on **Thursday**.")), "data: [DONE]\n\n" });
    }

    FakeHttpServer& m_server;
    mutable std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    std::map<QString, bool> m_closedGates;
    QByteArray m_recordingId;
    QList<Sentence> m_sentences;
    QString m_transcript = QStringLiteral("Let us look at the numbers.");
    QString m_titleAnswer = QStringLiteral("Quarterly Numbers Review");
    int m_transcriptionStatus = 200;
    bool m_numbered = false;
    int m_transcriptions = 0;
    QStringList m_violations;
    QList<double> m_uploadedSeconds;
};

// Everything a session needs, made fresh for each test.
struct SessionRig
{
    QTemporaryDir dir;
    Settings settings { dir.filePath(QStringLiteral("settings.ini")) };
    TempStore store;
    MicRecorder micRecorder;
    SystemAudioRecorder systemRecorder;
    DualStreamMixer mixer { micRecorder, systemRecorder };
    FakeMicrophonePermission permission { MicrophonePermission::Status::Authorized };
    SoundFeedback sounds;
    MarkdownArchiver archiver { dir.filePath(QStringLiteral("QuilletNotes")) };
    FakeHttpServer server;
    FakeProvider provider { server };
    std::optional<ModelCredentials> credentials = provider.credentials();
    bool allowanceExhausted = false;
    // The application's own way from the store to the archive.
    ArchiveQueue archiveQueue { store.context(), archiver, Scheduler::system() };
    ArchiveRemovals archiveRemovals { archiver, store.context() };
    MeetingSummarizer summarizer { [this] { return credentials; } };
    TranscriptionSession session { settings,
        TranscriptionSession::ModelAccess { [this] { return credentials; }, [this] { return allowanceExhausted; } },
        mixer, permission, sounds, summarizer, Clock::system() };

    SessionRig() { settings.set(SettingsKeys::soundEnabled, false); }

    ModelContext& context() { return store.context(); }

    // Starts recording and tells the provider which recording id to expect.
    Meeting* start(Meeting* into = nullptr)
    {
        session.startRecording(context(), into);
        if (Meeting* meeting = session.meeting()) {
            provider.expectRecordingId(meeting->id());
            return meeting;
        }
        return nullptr;
    }

    // Stops and waits until the meeting of this recording is finalised (or deleted).
    bool stopAndFinalize()
    {
        QSignalSpy finalized(&session, &TranscriptionSession::recordingFinalized);
        session.stopRecording();
        return !finalized.isEmpty() || finalized.wait(kLongWaitMs);
    }

    QString writeRaw(const QList<float>& samples)
    {
        const QString path = dir.filePath(QStringLiteral("clip-%1.raw").arg(++m_clips));
        return SpokenAudio::writeRaw(path, samples) ? path : QString();
    }

    // Plays 24 kHz samples into a sink and waits (running the event loop) until they are out.
    bool play(const QString& sink, const QList<float>& samples)
    {
        const auto player = SpokenAudio::startPlaying(writeRaw(samples), sink, 24000);
        if (!player)
            return false;
        QSignalSpy done(player.get(), &QProcess::finished);
        return done.wait(kLongWaitMs) && player->exitCode() == 0;
    }

    // A loud tone the voice detector takes for speech, then enough silence to end it.
    static QList<float> utterance(double seconds = 1.2)
    {
        QList<float> samples = SpokenAudio::sine(330, seconds, 24000, 0.3f);
        samples.append(QList<float>(24000, 0.0f));
        return samples;
    }

    Meeting* meetingById(const QUuid& id) { return context().meetingById(id); }

    static QStringList texts(const Meeting& meeting)
    {
        QStringList out;
        const auto segments = meeting.sortedSegments();
        for (const TranscriptSegment* segment : segments)
            out << segment->speakerRaw() + QStringLiteral(": ") + segment->text().trimmed();
        return out;
    }

    // The archived markdown of the meeting, once the archive's queue has run.
    QString archivedText(const QString& mustContain)
    {
        QFutureWatcher<void> watcher;
        QSignalSpy idle(&watcher, &QFutureWatcher<void>::finished);
        watcher.setFuture(archiver.idle());
        if (!watcher.isFinished() && !idle.wait(kLongWaitMs))
            return {};
        QDirIterator files(
            archiver.archiveRoot(), { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.open(QIODevice::ReadOnly)) {
                const QString text = QString::fromUtf8(file.readAll());
                if (text.contains(mustContain))
                    return text;
            }
        }
        return {};
    }

private:
    int m_clips = 0;
};
