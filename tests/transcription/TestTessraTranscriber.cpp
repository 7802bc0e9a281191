#include "TranscriptionTestSupport.h"
#include "platform/Log.h"
#include "support/FakeClock.h"
#include "support/FakeHttpServer.h"
#include "support/TestMain.h"
#include "transcription/TessraTranscriber.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <memory>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QByteArray kPath = "/v1/audio/transcriptions";
const QString kRecordingId = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");

using Reply = FakeHttpServer::Reply;

// A clock that stands still, so start offsets depend only on the audio sent.
FakeClock& stillClock()
{
    static FakeClock clock;
    return clock;
}

QDateTime recordingStart()
{
    return stillClock().now();
}

TranscriberOptions quickOptions(const Clock* clock = &stillClock())
{
    TranscriberOptions options;
    options.clock = clock;
    options.retryDelay = 5ms;
    options.requestTimeout = 10s;
    return options;
}

// Answers every request with "utterance <n>", n counting from 1.
FakeHttpServer::Handler numberedReplies(FakeHttpServer& server)
{
    return [&server](const FakeHttpServer::Request&) {
        return Reply::json(200, QStringLiteral(R"({"text":"utterance %1"})").arg(server.requestCount()).toUtf8());
    };
}

QByteArray boundaryOf(const FakeHttpServer::Request& request)
{
    const QByteArray type = request.header("Content-Type");
    return type.mid(type.indexOf("boundary=") + 9);
}

QByteArray filePart(const FakeHttpServer::Request& request)
{
    for (const FakeHttpServer::Part& part : request.parts)
        if (part.name == "file")
            return part.content;
    return {};
}

// A bare HTTP listener on 127.0.0.1 that keeps each request byte for byte, so that header
// order and the body can be checked exactly (the HTTP library files headers by name).
class RawHttpCapture final : public QObject
{
public:
    RawHttpCapture()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    QList<QByteArray> requests() const { return m_requests; }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        static const QRegularExpression lengthPattern(
            QStringLiteral("\r\ncontent-length: *(\\d+)"), QRegularExpression::CaseInsensitiveOption);
        const auto match = lengthPattern.match(QString::fromLatin1(buffer.left(headerEnd + 2)));
        const qsizetype length = match.hasMatch() ? match.captured(1).toLongLong() : 0;
        if (buffer.size() < headerEnd + 4 + length)
            return;
        m_requests.append(buffer.left(headerEnd + 4 + length));
        buffer.remove(0, headerEnd + 4 + length);
        const QByteArray body = R"({"text":"ok"})";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<QByteArray> m_requests;
};

QByteArray textField(const QByteArray& boundary, const QByteArray& name, const QByteArray& value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

// One connected transcriber whose reports are collected; the server answers at `kPath`.
struct Stream
{
    Reports reports;
    TessraTranscriber transcriber;

    explicit Stream(const FakeHttpServer& server, const QString& id = kRecordingId,
        TranscriberOptions options = quickOptions(), const QDateTime& start = recordingStart(),
        ModelCredentials::Kind credential = ModelCredentials::Kind::ownKey)
        : transcriber({ server.url(), QStringLiteral("t"), credential }, id, std::nullopt, start, std::move(options))
    {
        reports.attach(transcriber);
        transcriber.connect();
    }
};

} // namespace

class TestTessraTranscriber final : public QObject
{
    Q_OBJECT

private slots:
    void requestIsExact_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<std::optional<QString>>("language");
        QTest::addColumn<QByteArrayList>("fields");
        QTest::newRow("automatic, no vocabulary")
            << QString() << std::optional<QString>() << QByteArrayList { "model", "response_format", "temperature" };
        QTest::newRow("vocabulary and language")
            << QStringLiteral("Custom vocabulary: Quillet, Nguyễn. ") << std::optional<QString>(QStringLiteral("vi"))
            << QByteArrayList { "model", "prompt", "language", "response_format", "temperature" };
        QTest::newRow("empty language sends none") << QString() << std::optional<QString>(QString())
                                                   << QByteArrayList { "model", "response_format", "temperature" };
    }
    void requestIsExact()
    {
        QFETCH(QString, prompt);
        QFETCH(std::optional<QString>, language);
        QFETCH(QByteArrayList, fields);

        RawHttpCapture capture;
        TranscriberOptions options = quickOptions();
        options.vocabularyPrompt = [prompt] { return prompt; };
        // A base with a path but no trailing slash must keep that path.
        const ModelCredentials credentials { capture.url(QStringLiteral("/proxy")), QStringLiteral("tq-secret") };
        TessraTranscriber transcriber(credentials, kRecordingId, language, recordingStart(), options);
        Reports reports;
        reports.attach(transcriber);
        transcriber.connect();
        // Varying samples so the file part shows the PCM goes through untouched.
        QByteArray pcm;
        for (int chunk = 0; chunk < 11; ++chunk) {
            QByteArray samples(Chunks::samplesPerChunk * 2, Qt::Uninitialized);
            for (int i = 0; i < Chunks::samplesPerChunk; ++i)
                qToLittleEndian(qint16(chunk < 4 ? (i % 2 ? 3000 + i : -3000 - i) : i % 7), samples.data() + 2 * i);
            pcm += samples;
            transcriber.sendAudio(samples.toBase64());
        }
        QTRY_COMPARE(reports.texts(), QStringList { QStringLiteral("ok") });
        QCOMPARE(capture.requests().size(), 1);

        const QByteArray request = capture.requests().first();
        const qsizetype headerEnd = request.indexOf("\r\n\r\n");
        const QList<QByteArray> lines = request.left(headerEnd).split('\n');
        QCOMPARE(lines.first(), QByteArray("POST /proxy/v1/audio/transcriptions HTTP/1.1\r"));
        const auto lineIndex = [&](const QByteArray& name) {
            for (qsizetype i = 0; i < lines.size(); ++i)
                if (lines.at(i).startsWith(name + ": "))
                    return i;
            return qsizetype(-1);
        };
        const qsizetype authorization = lineIndex("Authorization");
        const qsizetype recordingId = lineIndex("X-Recording-Id");
        const qsizetype contentType = lineIndex("Content-Type");
        QVERIFY(authorization > 0 && authorization < recordingId && recordingId < contentType);
        QCOMPARE(lines.at(authorization), QByteArray("Authorization: Bearer tq-secret\r"));
        QCOMPARE(lines.at(recordingId), "X-Recording-Id: " + kRecordingId.toLatin1() + "\r");
        const QByteArray typeLine = lines.at(contentType).chopped(1);
        static const QRegularExpression boundaryPattern(
            QStringLiteral("^Content-Type: multipart/form-data; "
                           "boundary=(quillet-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"));
        const auto match = boundaryPattern.match(QString::fromLatin1(typeLine));
        QVERIFY2(match.hasMatch(), typeLine.constData());
        const QByteArray boundary = match.captured(1).toLatin1();

        const QByteArray values[]
            = { "whisper-v3-turbo", prompt.toUtf8(), language.value_or(QString()).toUtf8(), "verbose_json", "0" };
        const QByteArrayList allNames { "model", "prompt", "language", "response_format", "temperature" };
        QByteArray expectedBody;
        for (const QByteArray& name : fields)
            expectedBody += textField(boundary, name, values[allNames.indexOf(name)]);
        expectedBody += "--" + boundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"utterance.wav\"\r\n"
            + "Content-Type: audio/wav\r\n\r\n";
        const qsizetype wavStart = expectedBody.size();
        QCOMPARE(request.mid(headerEnd + 4, wavStart), expectedBody);

        // The WAV header, field by field, then the samples exactly as sent.
        const QByteArray body = request.mid(headerEnd + 4);
        const QByteArray wav = body.mid(wavStart, 44 + pcm.size());
        // RIFF size 36 + 52,800, PCM, mono, 24 kHz, 48,000 bytes/s, 2-byte frames, 16 bits, data size.
        QCOMPARE(wav.left(44).toHex(),
            QByteArray("5249464664ce000057415645666d7420100000000100010"
                       "0c05d000080bb0000020010006461746140ce0000"));
        QCOMPARE(wav.mid(44), pcm);
        QCOMPARE(body.mid(wavStart + wav.size()), "\r\n--" + boundary + "--\r\n");
        QVERIFY(reports.errors().isEmpty());
    }

    // One failure is retried quietly with a new boundary and the same audio; two in a row are
    // reported once, and the chain goes on with the next utterance.
    void failuresAreRetriedOnceThenReportedOnce()
    {
        FakeHttpServer server;
        server.on("POST", kPath, [&server](const FakeHttpServer::Request&) {
            switch (server.requestCount()) {
            case 1: return Reply::text(503, "upstream busy");
            case 2: return Reply::json(200, R"({"text":"second time lucky"})");
            case 3:
            case 4: return Reply::json(401, R"({"error":{"message":"Invalid API key"}})");
            default: return Reply::json(200, R"({"text":"next one"})");
            }
        });
        LogCapture log;
        Stream stream(server);
        Chunks::sendUtterance(stream.transcriber);
        QTRY_COMPARE(stream.reports.texts(), QStringList { QStringLiteral("second time lucky") });
        QVERIFY(stream.reports.errors().isEmpty());
        const QList<FakeHttpServer::Request> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        QVERIFY(boundaryOf(requests.at(0)) != boundaryOf(requests.at(1)));
        QCOMPARE(filePart(requests.at(1)), filePart(requests.at(0)));
        QCOMPARE(filePart(requests.at(0)).size(), 44 + 11 * Chunks::samplesPerChunk * 2);

        Chunks::sendUtterance(stream.transcriber);
        Chunks::sendUtterance(stream.transcriber);
        QTRY_COMPARE(stream.reports.texts().size(), 2);
        QCOMPARE(stream.reports.texts().last(), QStringLiteral("next one"));
        QCOMPARE(stream.reports.errors(), QStringList { QStringLiteral("Invalid API key") });
        QCOMPARE(server.requestCount(), 5);
        QVERIFY(log.contains(QStringLiteral("[Quillet] Tessra transcription failed: Invalid API key")));
        QCOMPARE(stream.reports.offsets(), (QList<double> { 0, 2.2 }));
        QTRY_COMPARE(stream.transcriber.state(), TessraTranscriber::State::Listening);
    }

    void timeOutIsATransportFailure()
    {
        FakeHttpServer server;
        server.on("POST", kPath, Reply::json(200, R"({"text":"late"})"));
        server.hold("POST", kPath);
        TranscriberOptions options = quickOptions();
        // The limit runs from the moment a request starts, so it must leave room for the upload
        // to reach the local server on a loaded machine: with 200 ms, an attempt could expire
        // before the server had read it, and the server then counted one request of two.
        options.requestTimeout = 3s;
        Stream stream(server, kRecordingId, options);
        Chunks::sendUtterance(stream.transcriber);
        QTRY_COMPARE_WITH_TIMEOUT(
            stream.reports.errors(), QStringList { QStringLiteral("The service did not answer.") }, 120'000);
        QCOMPARE(server.requestCount(), 2);
        QVERIFY(stream.reports.texts().isEmpty());
        server.release("POST", kPath);
    }

    void replies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text"); // handed out; empty: nothing
        QTest::addColumn<QString>("error"); // reported; empty: none
        QTest::addColumn<QString>("logLine");
        const auto row = [](const char* name, int status, const QByteArray& body, const QString& text,
                             const QString& error = {}, const QString& logLine = {}) {
            QTest::newRow(name) << status << body << text << error << logLine;
        };
        const auto segments = [](const QString& items) {
            return QStringLiteral(R"({"text":"top level text","segments":[%1]})").arg(items).toUtf8();
        };
        const auto oneSegment
            = [&](const QString& text) { return segments(QStringLiteral(R"({"text":"%1"})").arg(text)); };

        const QString longText = QStringLiteral("thanks for watching ") + QString(100, QLatin1Char('x'));
        const QString justShort = QStringLiteral("thanks for watching ") + QString(99, QLatin1Char('x'));
        // 119 characters to a reader but 150 UTF-16 units, even once composed: "x̂" has no single
        // code point.
        const QString decomposed119
            = QStringLiteral("Cảm ơn các bạn đã theo dõi").normalized(QString::NormalizationForm_D)
            + QLatin1Char(' ') + QString(61, QLatin1Char('y')) + QStringLiteral("x\u0302").repeated(31);

        row("whole text is trimmed", 200, R"({"text":"  Hello there \n"})", "Hello there");
        row("empty segments use the whole text", 200, R"({"text":" Xin chào ","segments":[]})", "Xin chào");
        row("segments joined", 200, segments(R"({"text":"  one two "},{"text":"three"})"), "one two three");
        row("blank and non-string segments skipped", 200,
            segments(R"({"text":"   "},{"text":7},{"no_speech_prob":0.1},{"text":"kept"})"), "kept");
        row("no speech at threshold kept", 200, segments(R"({"text":"a","no_speech_prob":0.6})"), "a");
        row("no speech above threshold dropped", 200,
            segments(R"({"text":"ghost words","no_speech_prob":0.61},{"text":"real"})"), "real", {},
            "[Quillet] Dropped segment (no_speech_prob 0.61): ghost words");
        row("log probability at threshold kept", 200, segments(R"({"text":"b","avg_logprob":-1.0})"), "b");
        row("log probability below threshold dropped", 200,
            segments(R"({"text":"unsure","avg_logprob":-1.01},{"text":"sure"})"), "sure", {},
            "[Quillet] Dropped segment (avg_logprob -1.01): unsure");
        row("compression at threshold kept", 200, segments(R"({"text":"c","compression_ratio":2.4})"), "c");
        row("compression above threshold dropped", 200,
            segments(R"({"text":"la la la","compression_ratio":2.41},{"text":"ok"})"), "ok", {},
            "[Quillet] Dropped segment (compression 2.41): la la la");
        row("first failing test is logged", 200,
            segments(R"({"text":"both","no_speech_prob":0.9,"avg_logprob":-3})"), {}, {},
            "[Quillet] Dropped segment (no_speech_prob 0.90): both");
        row("blocklist in capitals with punctuation", 200,
            segments(R"({"text":" THANKS FOR WATCHING! "},{"text":"real"})"), "real", {},
            "[Quillet] Dropped segment (blocklist): THANKS FOR WATCHING!");
        row("every segment dropped", 200, oneSegment(QStringLiteral("Please subscribe")), {});
        row("119 characters are blocked", 200, oneSegment(justShort), {});
        row("120 characters are kept", 200, oneSegment(longText), longText);
        row("decomposed Vietnamese is blocked", 200, oneSegment(decomposed119), {});
        row("non-object segment uses the blocked whole text", 200,
            "{\"text\":\"Don\\u0027t forget to SUBSCRIBE\",\"segments\":[{\"text\":\"fine\"},5]}", {});

        row("401 with error object", 401, R"({"error":{"message":"Invalid API key"}})", {}, "Invalid API key");
        row("401 with top-level message", 401, R"({"message":"Session expired"})", {}, "Session expired");
        row("503 without JSON", 503, "<html>busy</html>", {}, "HTTP 503",
            "[Quillet] Tessra transcription failed: HTTP 503");
        // A bare refusal of the key is told in words; the log keeps the status.
        const QString ownKeyRefused = ModelCredentials::refusedText(ModelCredentials::Kind::ownKey);
        row("401 without message", 401, "{}", {}, ownKeyRefused, "[Quillet] Tessra transcription failed: HTTP 401");
        row("403 without JSON", 403, "denied", {}, ownKeyRefused, "[Quillet] Tessra transcription failed: HTTP 403");
        row("200 not JSON", 200, "hello", {}, "Malformed transcription response");
        row("200 text not a string", 200, R"({"text":5})", {}, "Malformed transcription response");
    }
    void replies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QString, error);
        QFETCH(QString, logLine);

        FakeHttpServer server;
        server.on("POST", kPath, Reply::json(status, body));
        LogCapture log;
        Stream stream(server);
        Chunks::sendUtterance(stream.transcriber);
        QFuture<void> done = stream.transcriber.pendingUploads();
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(stream.reports.texts(), text.isEmpty() ? QStringList {} : QStringList { text });
        QCOMPARE(stream.reports.errors(), error.isEmpty() ? QStringList {} : QStringList { error });
        QCOMPARE(server.requestCount(), error.isEmpty() ? 1 : 2);
        if (!logLine.isEmpty())
            QVERIFY2(log.contains(logLine), qPrintable(log.lines().join(QLatin1Char('\n'))));
        if (text.isEmpty() && error.isEmpty() && logLine.isEmpty())
            QVERIFY(!log.containsPart(QStringLiteral("Tessra transcription failed")));
    }

    // A bare refusal names the credential the upload carried: a sign-in mends no key typed in.
    void refusalNamesTheCredential_data()
    {
        QTest::addColumn<ModelCredentials::Kind>("credential");
        QTest::addColumn<QString>("error");
        QTest::newRow("own key") << ModelCredentials::Kind::ownKey
                                 << "Tessra refused your own API key. Check the key in Settings.";
        QTest::newRow("provider sign-in") << ModelCredentials::Kind::providerSignIn
                                          << "Tessra refused your Tessra sign-in. Sign in again in Settings.";
        QTest::newRow("account") << ModelCredentials::Kind::account
                                 << "Quillet Cloud refused your account's sign-in. Sign in again in Settings.";
    }
    void refusalNamesTheCredential()
    {
        QFETCH(ModelCredentials::Kind, credential);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.on("POST", kPath, Reply::json(401, "{}"));
        Stream stream(server, kRecordingId, quickOptions(), recordingStart(), credential);
        Chunks::sendUtterance(stream.transcriber);
        QFuture<void> done = stream.transcriber.pendingUploads();
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(stream.reports.errors(), QStringList { error });
    }

    void repeatedTextIsDropped()
    {
        const QStringList answers { QStringLiteral("Hello world"), QStringLiteral("  hello WORLD\n"),
            QStringLiteral("Chúc mừng"), QStringLiteral("Chúc mừng").normalized(QString::NormalizationForm_D),
            QStringLiteral("Hello world") };
        FakeHttpServer server;
        server.on("POST", kPath, [&](const FakeHttpServer::Request&) {
            const QString text = answers.value(server.requestCount() - 1);
            return Reply::json(200, QJsonDocument(QJsonObject { { QStringLiteral("text"), text } }).toJson());
        });
        LogCapture log;
        Stream stream(server);
        for (int i = 0; i < answers.size(); ++i)
            Chunks::sendUtterance(stream.transcriber);
        QFuture<void> done = stream.transcriber.pendingUploads();
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(stream.reports.texts(),
            (QStringList {
                QStringLiteral("Hello world"), QStringLiteral("Chúc mừng"), QStringLiteral("Hello world") }));
        QCOMPARE(stream.reports.offsets(), (QList<double> { 0, 2.2, 4.4 }));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Dropped repeated utterance: hello WORLD")));
    }

    // Uploads of one stream wait for each other and finish in the order cut; the other
    // stream does not queue behind them.
    void slowServerKeepsOrderPerStream()
    {
        FakeHttpServer server;
        QList<int> seenWhenAnswering;
        std::mutex seenMutex;
        server.on("POST", kPath, [&](const FakeHttpServer::Request& request) {
            const QByteArray id = request.header("X-Recording-Id");
            if (id == "them")
                return Reply::json(200, R"({"text":"them"})");
            std::lock_guard lock(seenMutex);
            // Each request must be the last one received when it is answered.
            seenWhenAnswering.append(server.requestCount());
            return Reply::json(200,
                QStringLiteral(R"({"text":"me %1"})").arg(seenWhenAnswering.size()).toUtf8());
        });
        server.hold("POST", kPath);
        Stream me(server, QStringLiteral("me"));
        Stream them(server, QStringLiteral("them"));
        Chunks::sendUtterance(me.transcriber);
        QTRY_COMPARE(server.heldCount(), 1);
        Chunks::sendUtterance(them.transcriber);
        QTRY_COMPARE(server.heldCount(), 2);
        Chunks::sendUtterance(me.transcriber, 6);
        Chunks::send(me.transcriber, Chunks::speech, 5);
        me.transcriber.commitBuffer();
        QFuture<void> all = me.transcriber.pendingUploads();
        QVERIFY(!all.isFinished());
        QCOMPARE(me.transcriber.state(), TessraTranscriber::State::Transcribing);

        server.release("POST", kPath);
        QTRY_VERIFY(all.isFinished());
        QCOMPARE(me.reports.texts(),
            (QStringList { QStringLiteral("me 1"), QStringLiteral("me 2"), QStringLiteral("me 3") }));
        QCOMPARE(me.reports.offsets(), (QList<double> { 0, 1.1, 2.4 }));
        // Request 2 was the other stream's.
        QCOMPARE(seenWhenAnswering, (QList<int> { 2, 3, 4 }));
        QTRY_COMPARE(them.reports.texts(), QStringList { QStringLiteral("them") });
        QTRY_COMPARE(me.transcriber.state(), TessraTranscriber::State::Listening);
        QCOMPARE(me.reports.states().first(), TessraTranscriber::State::Listening);
        QVERIFY(me.reports.states().contains(TessraTranscriber::State::Transcribing));
    }

    void startOffsets_data()
    {
        QTest::addColumn<qint64>("firstChunkAfterStartMs");
        QTest::addColumn<double>("expected");
        QTest::newRow("stream anchored late") << qint64(2500) << 12.5;
        QTest::newRow("chunk before the recording's start") << qint64(-3000) << 10.0;
    }
    void startOffsets()
    {
        QFETCH(qint64, firstChunkAfterStartMs);
        QFETCH(double, expected);
        FakeHttpServer server;
        server.on("POST", kPath, Reply::json(200, R"({"text":"hi"})"));
        FakeClock clock;
        const QDateTime sessionStart = clock.now();
        clock.advanceMs(firstChunkAfterStartMs);
        Stream stream(server, kRecordingId, quickOptions(&clock), sessionStart);
        Chunks::send(stream.transcriber, Chunks::silence, 1);
        // Wall time passing later does not move the stream: only delivered audio does.
        clock.advanceMs(60000);
        Chunks::send(stream.transcriber, Chunks::silence, 99);
        Chunks::sendUtterance(stream.transcriber);
        QTRY_COMPARE(stream.reports.offsets(), QList<double> { expected });
        QCOMPARE(stream.transcriber.streamStartOffset(), std::optional<double>(expected - 10.0));
    }

    void disconnectAndConnect()
    {
        FakeHttpServer server;
        server.on("POST", kPath, numberedReplies(server));
        Stream stream(server);
        TessraTranscriber& transcriber = stream.transcriber;
        Chunks::send(transcriber, Chunks::speech, 3);
        // The open utterance goes with the disconnect; chunks meanwhile only move the clock.
        transcriber.disconnect();
        QCOMPARE(transcriber.state(), TessraTranscriber::State::Idle);
        Chunks::sendUtterance(transcriber, 10);
        // Text that does not decode is no audio at all.
        transcriber.sendAudio(QByteArray("AAAA=AAA"));
        transcriber.sendAudio(QString::fromUtf8("AAAA\u00e9AAA"));
        QCOMPARE(transcriber.audioClock(), 2.0);
        transcriber.connect();
        Chunks::send(transcriber, Chunks::speech, 1);
        Chunks::send(transcriber, Chunks::silence, 7);
        Chunks::sendUtterance(transcriber);
        QFuture<void> done = transcriber.pendingUploads();
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(stream.reports.offsets(), QList<double> { 2.8 });
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(stream.reports.states(),
            (QList<TessraTranscriber::State> { TessraTranscriber::State::Listening, TessraTranscriber::State::Idle,
                TessraTranscriber::State::Listening, TessraTranscriber::State::Transcribing,
                TessraTranscriber::State::Listening }));
    }

    void destroyedTranscriberFinishesOnlyTheRunningUpload()
    {
        FakeHttpServer server;
        server.on("POST", kPath, numberedReplies(server));
        server.hold("POST", kPath);
        Reports reports;
        QFuture<void> done;
        {
            TessraTranscriber transcriber(
                { server.url(), QStringLiteral("t") }, kRecordingId, std::nullopt, recordingStart(), quickOptions());
            reports.attach(transcriber);
            transcriber.connect();
            Chunks::sendUtterance(transcriber);
            QTRY_COMPARE(server.heldCount(), 1);
            Chunks::sendUtterance(transcriber);
            done = transcriber.pendingUploads();
        }
        server.release("POST", kPath);
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(reports.texts(), QStringList { QStringLiteral("utterance 1") });
        QCOMPARE(server.requestCount(), 1);
    }
};

QUILLET_TEST_MAIN(TestTessraTranscriber)
#include "TestTessraTranscriber.moc"
