#include "chat/ChatModel.h"
#include "chat/ChatStreamReader.h"
#include "chat/MeetingChatPrompt.h"
#include "chat/MeetingChatService.h"
#include "network/ReplyLimiter.h"
#include "platform/Settings.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/FakeHttpServer.h"
#include "support/FakeScheduler.h"
#include "support/ProviderAnswers.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestMain.h"

#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kPath = "/v1/chat/completions";

using ProviderAnswers::streamed;
using ProviderAnswers::streamEvent;

QString golden(const QString& name)
{
    QFile file(QStringLiteral(QUILLET_TEST_DATA_DIR "/chat/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing golden file %s", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

TranscriptSegment* segment(const QString& text, const Speaker& speaker, double at)
{
    return new TranscriptSegment(text, speaker, at);
}

} // namespace

class TestChat final : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void systemPromptMatchesGoldenText();
    void historyKeepsTheLastEightTurns();
    void streamReader_data();
    void streamReader();

    void withoutCredentialsNothingIsStored();
    void answerStreamsAndIsStored();
    void streamedReplies_data();
    void streamedReplies();
    void failures_data();
    void failures();
    void endlessLinesAreRefused_data();
    void endlessLinesAreRefused();
    void endlessAnswerStopsAtTheCap();
    void tricklingServerIsGivenUp_data();
    void tricklingServerIsGivenUp();
    void cancelThenAskAgainShowsOnlyTheSecondAnswer();
    void answersArriveOverTls();

private:
    struct Fixture;

    QTemporaryDir m_dir;
    std::unique_ptr<Settings> m_settings;
};

void TestChat::init()
{
    m_settings = std::make_unique<Settings>(
        m_dir.filePath(QStringLiteral("settings-%1.ini").arg(QTest::currentTestFunction())));
}

void TestChat::systemPromptMatchesGoldenText()
{
    Meeting full(QStringLiteral("Kế hoạch quý 3"), QDateTime::currentDateTimeUtc());
    full.setAttendeeNames({ QStringLiteral("Nguyễn Văn An"), QString(), QStringLiteral("Trần Thị Bích") });
    full.setOrganizer(QStringLiteral("Nguyễn Văn An"));
    full.setUserNotes(QStringLiteral("\n  chốt ngân sách trước thứ Sáu \n\n"));
    full.setIsRecording(true);
    // Stored out of time order: the transcript follows the timestamps.
    full.appendSegment(segment(QStringLiteral("Đồng ý, chốt trước thứ Sáu nhé."), Speaker::them(), 5));
    full.appendSegment(segment(QStringLiteral("Chào mọi người,"), Speaker::me(), 0));
    full.appendSegment(segment(QStringLiteral("hôm nay bàn ngân sách."), Speaker::me(), 2));
    QCOMPARE(MeetingChatPrompt::system(full), golden(QStringLiteral("system-full.txt")));

    Meeting unnamed(QStringLiteral("New Meeting"), QDateTime::currentDateTimeUtc());
    unnamed.setAttendeeNames({ QString(), QString() });
    unnamed.setOrganizer(QString());
    unnamed.setUserNotes(QStringLiteral(" \n "));
    QCOMPARE(MeetingChatPrompt::system(unnamed), golden(QStringLiteral("system-minimal.txt")));
}

void TestChat::historyKeepsTheLastEightTurns()
{
    Meeting meeting(QStringLiteral("Sync"), QDateTime::currentDateTimeUtc());
    QList<ChatMessage*> history;
    for (int i = 0; i < 20; ++i) {
        auto* message = new ChatMessage(i % 2 ? ChatRole::Assistant : ChatRole::User, QString::number(i), std::nullopt);
        meeting.appendChatMessage(message);
        history << message;
    }
    history.at(15)->setRoleRaw(QStringLiteral("Assistant")); // not exactly "assistant": sent as the user's

    const QList<ChatCompletions::Message> messages = MeetingChatPrompt::build(QStringLiteral("q?"), meeting, history);
    QCOMPARE(messages.size(), 10);
    QCOMPARE(messages.first().role, QStringLiteral("system"));
    QCOMPARE(messages.at(1), (ChatCompletions::Message { QStringLiteral("user"), QStringLiteral("12") }));
    QCOMPARE(messages.at(2), (ChatCompletions::Message { QStringLiteral("assistant"), QStringLiteral("13") }));
    QCOMPARE(messages.at(4), (ChatCompletions::Message { QStringLiteral("user"), QStringLiteral("15") }));
    QCOMPARE(messages.at(8), (ChatCompletions::Message { QStringLiteral("assistant"), QStringLiteral("19") }));
    QCOMPARE(messages.last(), (ChatCompletions::Message { QStringLiteral("user"), QStringLiteral("q?") }));

    QCOMPARE(MeetingChatPrompt::build(QStringLiteral("q?"), meeting, {}).size(), 2);
}

void TestChat::streamReader_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("fragments");
    QTest::addColumn<bool>("done");
    QTest::addColumn<bool>("tooLong");

    const QByteArray vietnamese = streamEvent(QStringLiteral("Tiếng Việt"));
    QList<QByteArray> bytes;
    for (char c : vietnamese + "data: [DONE]\n")
        bytes << QByteArray(1, c);
    QTest::newRow("one byte at a time") << bytes << QStringList { "Tiếng Việt" } << true << false;
    QTest::newRow("no blank after colon, tabs around")
        << QList<QByteArray> { "data:\t{\"choices\":[{\"delta\":{\"content\":\"b\"}}]} \n" } << QStringList { "b" }
        << false << false;
    QTest::newRow("other lines and bad data skipped")
        << QList<QByteArray> { ": keep-alive\nevent: delta\nid: 4\nDATA: {}\n", "data: not json\ndata: [1,2]\n",
               "data: {\"object\":\"chunk\"}\ndata: {\"choices\":[]}\n",
               "data: {\"choices\":[{\"delta\":{\"content\":\"\"}}]}\n",
               "data: {\"choices\":[{\"delta\":{\"content\":null}}]}\n", streamEvent("kept") }
        << QStringList { "kept" } << false << false;
    QTest::newRow("last line without a line break")
        << QList<QByteArray> { "data: {\"choices\":[{\"delta\":{\"content\":\"end\"}}]}" } << QStringList { "end" }
        << false << false;

    // A line of exactly the limit, line break aside, arrives in small pieces and is read whole.
    const QString longText(
        int(ChatStreamReader::kMaxLineBytes - streamEvent(QStringLiteral("")).size() + 2), QLatin1Char('y'));
    const QByteArray longEvent = streamEvent(longText);
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < longEvent.size(); at += 4096)
        pieces << longEvent.mid(at, 4096);
    QTest::newRow("line at the limit") << pieces << QStringList { longText } << false << false;
    QTest::newRow("line over the limit") << QList<QByteArray> { streamEvent("before"),
        "data: ", QByteArray(ChatStreamReader::kMaxLineBytes - 5, 'x'), streamEvent("after") }
                                         << QStringList { "before" } << false << true;
}

void TestChat::streamReader()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, fragments);
    QFETCH(bool, done);
    QFETCH(bool, tooLong);
    ChatStreamReader reader;
    QStringList seen;
    bool sawDone = false;
    bool sawTooLong = false;
    for (const QByteArray& chunk : chunks) {
        const ChatStreamReader::Step step = reader.feed(chunk);
        seen << step.fragments;
        sawDone = sawDone || step.done;
        sawTooLong = sawTooLong || step.tooLong;
    }
    if (!sawDone)
        seen << reader.finish().fragments;
    QCOMPARE(seen, fragments);
    QCOMPARE(sawDone, done);
    QCOMPARE(sawTooLong, tooLong);
}

struct TestChat::Fixture
{
    // recordTexts: keep every streamed text (not for answers of megabytes).
    explicit Fixture(Settings& settings, std::optional<QUrl> baseUrl, bool recordTexts = true,
        ModelCredentials::Kind credential = ModelCredentials::Kind::ownKey)
        : meeting(QStringLiteral("Budget"), QDateTime::currentDateTimeUtc())
        , service(
              [baseUrl, credential]() -> std::optional<ModelCredentials> {
                  if (!baseUrl)
                      return std::nullopt;
                  return ModelCredentials { *baseUrl, QStringLiteral("tq-chat"), credential };
              },
              settings, scheduler)
    {
        box.save = [this] { ++saves; };
        if (recordTexts) {
            QObject::connect(&service, &MeetingChatService::streamingAnswerChanged,
                [this] { streamedTexts << service.streamingAnswer(); });
        }
    }

    QList<QPair<QString, std::optional<QString>>> stored() const
    {
        QList<QPair<QString, std::optional<QString>>> list;
        for (const ChatMessage* message : meeting.sortedChatMessages())
            list.append({ message->roleRaw() + QLatin1Char(':') + message->text(), message->modelId() });
        return list;
    }

    FakeScheduler scheduler; // the answer's deadline: it passes only when a test says so
    Meeting meeting;
    MeetingChatService service;
    ModelContextBox box;
    int saves = 0;
    QStringList streamedTexts;
};

void TestChat::withoutCredentialsNothingIsStored()
{
    Fixture fixture(*m_settings, std::nullopt);
    fixture.service.ask(QStringLiteral("What was decided?"), &fixture.meeting, fixture.box);
    QCOMPARE(fixture.service.error(),
        std::optional<QString>(
            QStringLiteral("Sign in to ask about your meetings — or add your own Tessra key in Settings")));
    QVERIFY(!fixture.service.isAnswering());
    QVERIFY(fixture.meeting.chatMessages().isEmpty());
    QCOMPARE(fixture.saves, 0);
}

void TestChat::answerStreamsAndIsStored()
{
    FakeHttpServer server;
    server.on("POST", kPath,
        streamed({ streamEvent("Hel"), streamEvent("lo ") + "data: [DONE]\n\n" + streamEvent("ignored") }));
    m_settings->setValue(QStringLiteral("chatModel"), QStringLiteral("model-from-last-year"));
    Fixture fixture(*m_settings, server.url());
    fixture.meeting.appendSegment(segment(QStringLiteral("We ship Friday."), Speaker::them(), 1));

    fixture.service.ask(QStringLiteral("When do we ship?"), &fixture.meeting, fixture.box);
    QVERIFY(fixture.service.isAnswering());
    QCOMPARE(fixture.stored().size(), 1); // the question is stored before the answer comes
    QCOMPARE(fixture.saves, 1);
    QTRY_VERIFY(!fixture.service.isAnswering());

    QCOMPARE(fixture.streamedTexts, QStringList({ "Hel", "Hello ", "" }));
    QCOMPARE(fixture.stored(),
        (QList<QPair<QString, std::optional<QString>>> {
            { "user:When do we ship?", std::nullopt }, { "assistant:Hello", QStringLiteral("fast") } }));
    QCOMPARE(fixture.saves, 2);
    QVERIFY(!fixture.service.error());

    const FakeHttpServer::Request request = server.requests().first();
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer tq-chat"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
    const QJsonObject body = request.json();
    QCOMPARE(body.keys(), QStringList({ "max_tokens", "messages", "model", "stream", "temperature" }));
    QCOMPARE(body.value("model").toString(), QStringLiteral("fast"));
    QCOMPARE(body.value("stream").toBool(), true);
    QCOMPARE(body.value("max_tokens").toInt(), 1500);
    QCOMPARE(body.value("temperature").toDouble(), 0.3);
    const QJsonArray messages = body.value("messages").toArray();
    QCOMPARE(messages.size(), 2);
    QVERIFY(messages.at(0)["content"].toString().endsWith(QStringLiteral("TRANSCRIPT:\nSpeaker B: We ship Friday.")));
    QCOMPARE(messages.at(1).toObject(), (QJsonObject { { "role", "user" }, { "content", "When do we ship?" } }));
}

void TestChat::streamedReplies_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("answer"); // null: nothing stored
    const QByteArray vietnamese = streamEvent(QStringLiteral("Chốt ngày thứ Sáu."));
    const qsizetype inside = vietnamese.indexOf("\xe1\xbb\x91") + 2;
    QTest::newRow("ends without done") << QList<QByteArray> { streamEvent("Done "), streamEvent("anyway") }
                                       << "Done anyway";
    QTest::newRow("vietnamese split, crlf") << QList<QByteArray> { vietnamese.left(inside),
        vietnamese.mid(inside).replace("\n", "\r\n"), "data: [DONE]\r\n\r\n" }
                                            << "Chốt ngày thứ Sáu.";
    QTest::newRow("blank answer") << QList<QByteArray> { streamEvent(" \n"), streamEvent("\t"), "data: [DONE]\n\n" }
                                  << QString();
    // One piece means a plain reply with a Content-Length instead of chunks.
    QTest::newRow("not chunked") << QList<QByteArray> { streamEvent("whole") + "data: [DONE]\n\n" } << "whole";
}

void TestChat::streamedReplies()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QString, answer);
    FakeHttpServer server;
    server.on("POST", kPath,
        chunks.size() == 1 ? FakeHttpServer::Reply::text(200, chunks.first(), "text/event-stream") : streamed(chunks));
    Fixture fixture(*m_settings, server.url());
    m_settings->setValue(QStringLiteral("chatModel"), QStringLiteral("kimi-k2.6"));

    fixture.service.ask(QStringLiteral("Q"), &fixture.meeting, fixture.box);
    QTRY_VERIFY(!fixture.service.isAnswering());
    QVERIFY(!fixture.service.error());
    QCOMPARE(fixture.service.streamingAnswer(), QString());
    using Stored = QList<QPair<QString, std::optional<QString>>>;
    Stored expected { { "user:Q", std::nullopt } };
    if (!answer.isNull())
        expected.append({ "assistant:" + answer, QStringLiteral("kimi-k2.6") });
    QCOMPARE(fixture.stored(), expected);
    QCOMPARE(server.requests().first().json().value("model").toString(), QStringLiteral("kimi-k2.6"));
}

void TestChat::failures_data()
{
    QTest::addColumn<int>("status"); // 0: the transfer fails
    QTest::addColumn<bool>("breakMidway");
    QTest::addColumn<QString>("message"); // null: any description of the transfer error
    QTest::addColumn<ModelCredentials::Kind>("credential");
    using Kind = ModelCredentials::Kind;
    // A refusal names the credential that was refused: signing in mends no key typed in.
    QTest::newRow("401 of an own key") << 401 << false << "Tessra refused your own API key. Check the key in Settings."
                                       << Kind::ownKey;
    QTest::newRow("403 of a provider sign-in")
        << 403 << false << "Tessra refused your Tessra sign-in. Sign in again in Settings." << Kind::providerSignIn;
    QTest::newRow("401 of the account") << 401 << false << "That request wasn't authorised. Try signing in again."
                                        << Kind::account;
    QTest::newRow("403 of the account") << 403 << false << "That request wasn't authorised. Try signing in again."
                                        << Kind::account;
    QTest::newRow("401 of a provider sign-in")
        << 401 << false << "Tessra refused your Tessra sign-in. Sign in again in Settings." << Kind::providerSignIn;
    QTest::newRow("402") << 402 << false << "You've used your allowance for this month." << Kind::account;
    QTest::newRow("429") << 429 << false << "Too many requests just now — try again in a moment." << Kind::ownKey;
    QTest::newRow("500") << 500 << false << "The request failed (500). Try again." << Kind::ownKey;
    QTest::newRow("dropped before answering") << 0 << false << QString() << Kind::ownKey;
    QTest::newRow("breaks off midway") << 0 << true << QString() << Kind::ownKey;
}

void TestChat::failures()
{
    QFETCH(int, status);
    QFETCH(bool, breakMidway);
    QFETCH(QString, message);
    QFETCH(ModelCredentials::Kind, credential);
    FakeHttpServer server;
    FakeHttpServer::Reply reply = streamed({ streamEvent(QStringLiteral("partial ")) });
    reply.breakAfterChunks = true;
    if (!breakMidway)
        reply = status ? FakeHttpServer::Reply::json(status, "{\"error\":\"no\"}") : FakeHttpServer::Reply::dropped();
    server.on("POST", kPath, reply);
    Fixture fixture(*m_settings, server.url(), true, credential);

    fixture.service.ask(QStringLiteral("Q"), &fixture.meeting, fixture.box);
    QTRY_VERIFY(!fixture.service.isAnswering());
    QVERIFY(fixture.service.error());
    if (message.isNull())
        QVERIFY2(!fixture.service.error()->isEmpty(), "a transfer error is described");
    else
        QCOMPARE(*fixture.service.error(), message);
    QCOMPARE(fixture.service.streamingAnswer(), QString());
    QCOMPARE(fixture.stored().size(), 1); // the question stays, without an answer
    QCOMPARE(fixture.saves, 1);
}

// A line that never ends, in the framing of a chunked reply or in the events it carries.
void TestChat::endlessLinesAreRefused_data()
{
    QTest::addColumn<QByteArray>("opening");
    QTest::addColumn<QByteArray>("filler");
    const QByteArray chunked
        = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n";
    QTest::newRow("chunk size") << chunked + "1" << QByteArray("0");
    QTest::newRow("trailer") << chunked + "0\r\nX-Trace: " << QByteArray("a");
    QTest::newRow("event") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\ndata: ") << QByteArray("x");
}

void TestChat::endlessLinesAreRefused()
{
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, filler);
    ScriptedHttpServer server({ opening, filler });
    Fixture fixture(*m_settings, server.url());
    fixture.service.ask(QStringLiteral("Q"), &fixture.meeting, fixture.box);
    QTRY_VERIFY_WITH_TIMEOUT(!fixture.service.isAnswering(), 20000);
    QCOMPARE(fixture.service.errorText(), RequestLimits::tooLargeText());
}

// An answer that never ends is stopped at the size limit; nothing of it is stored.
void TestChat::endlessAnswerStopsAtTheCap()
{
    ScriptedHttpServer server({ "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n",
        streamEvent(QStringLiteral("and then ").repeated(20)) });
    Fixture fixture(*m_settings, server.url(), false);
    qsizetype longest = 0;
    QObject::connect(&fixture.service, &MeetingChatService::streamingAnswerChanged,
        [&] { longest = std::max(longest, fixture.service.streamingAnswer().size()); });
    fixture.service.ask(QStringLiteral("Q"), &fixture.meeting, fixture.box);
    QTRY_VERIFY_WITH_TIMEOUT(!fixture.service.isAnswering(), 120000);
    QCOMPARE(fixture.service.errorText(), RequestLimits::tooLargeText());
    QCOMPARE(fixture.service.streamingAnswer(), QString());
    QCOMPARE(fixture.stored().size(), 1);
    // It streamed up to the limit before it stopped.
    QVERIFY(server.mostWritten() >= MeetingChatService::kMaxAnswerBytes);
    QVERIFY(longest > MeetingChatService::kMaxAnswerBytes / 2);
}

// A server that sends its head or its answer a byte now and then is never silent for the idle
// limit. The chat gives up on it when a summary would, keeps what came, and can be asked again.
void TestChat::tricklingServerIsGivenUp_data()
{
    QTest::addColumn<QByteArray>("opening");
    QTest::addColumn<QByteArray>("filler");
    QTest::addColumn<QString>("kept"); // null: no answer is stored
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n";
    QTest::newRow("head") << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("X") << QString();
    QTest::newRow("answer") << head + streamEvent(QStringLiteral("We ship Friday ")) << QByteArray(": wait\n")
                            << QStringLiteral("We ship Friday");
}

void TestChat::tricklingServerIsGivenUp()
{
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, filler);
    QFETCH(QString, kept);
    ScriptedHttpServer server({ opening, filler, std::chrono::milliseconds(5) });
    Fixture fixture(*m_settings, server.url());
    fixture.service.ask(QStringLiteral("When?"), &fixture.meeting, fixture.box);
    QTRY_COMPARE(server.requestCount(), 1);
    if (!kept.isNull())
        QTRY_COMPARE(fixture.service.streamingAnswer(), kept + QLatin1Char(' '));

    fixture.scheduler.advance(ChatCompletions::kTimeout);
    QVERIFY(!fixture.service.isAnswering());
    QCOMPARE(fixture.service.errorText(), QStringLiteral("The answer took too long and was stopped. Try again."));
    QList<QPair<QString, std::optional<QString>>> expected { { "user:When?", std::nullopt } };
    if (!kept.isNull())
        expected.append({ "assistant:" + kept, QStringLiteral("fast") });
    QCOMPARE(fixture.stored(), expected);

    fixture.service.ask(QStringLiteral("When, again?"), &fixture.meeting, fixture.box);
    QTRY_COMPARE(server.requestCount(), 2);
}

void TestChat::cancelThenAskAgainShowsOnlyTheSecondAnswer()
{
    FakeHttpServer server;
    server.on("POST", kPath, [](const FakeHttpServer::Request& request) {
        const QString question = request.json().value("messages").toArray().last()["content"].toString();
        return streamed({ streamEvent(question == "first?" ? "ANSWER ONE" : "ANSWER TWO"), "data: [DONE]\n\n" });
    });
    server.hold("POST", kPath);
    Fixture fixture(*m_settings, server.url());

    fixture.service.ask(QStringLiteral("first?"), &fixture.meeting, fixture.box);
    QTRY_COMPARE(server.heldCount(), 1);
    fixture.service.cancel();
    QVERIFY(!fixture.service.isAnswering());
    fixture.service.ask(QStringLiteral("second?"), &fixture.meeting, fixture.box);
    QTRY_COMPARE(server.heldCount(), 2);
    server.release("POST", kPath);

    QTRY_COMPARE(fixture.stored().size(), 3);
    QTRY_VERIFY(!fixture.service.isAnswering());
    QCOMPARE(fixture.stored(),
        (QList<QPair<QString, std::optional<QString>>> { { "user:first?", std::nullopt },
            { "user:second?", std::nullopt }, { "assistant:ANSWER TWO", QStringLiteral("fast") } }));
    QVERIFY(!fixture.streamedTexts.contains(QStringLiteral("ANSWER ONE")));

    // The second question sees the first, unanswered, in its history.
    const QJsonArray sent = server.requests().at(1).json().value("messages").toArray();
    QCOMPARE(sent.size(), 3);
    QCOMPARE(sent.at(1).toObject(), (QJsonObject { { "role", "user" }, { "content", "first?" } }));

    // A service that goes away mid-answer (its view closed) stores nothing more.
    server.hold("POST", kPath);
    auto closing = std::make_unique<MeetingChatService>(
        [&server] {
            return std::optional<ModelCredentials>({ server.url(), QStringLiteral("t") });
        },
        *m_settings, fixture.scheduler);
    closing->ask(QStringLiteral("third?"), &fixture.meeting, fixture.box);
    QTRY_COMPARE(server.heldCount(), 1);
    closing.reset();
    server.release("POST", kPath);
    QTRY_COMPARE(server.requestCount(), 3);
    QCoreApplication::processEvents();
    QCOMPARE(fixture.stored().size(), 4);
    QCOMPARE(fixture.stored().last().first, QStringLiteral("user:third?"));
}

// The provider is reached over TLS; a local server with its own certificate stands in for it.
void TestChat::answersArriveOverTls()
{
    const QString dataDir = QStringLiteral(QUILLET_TEST_DATA_DIR "/chat/");
    httplib::SSLServer tlsServer((dataDir + "localhost-cert.pem").toLocal8Bit().constData(),
        (dataDir + "localhost-key.pem").toLocal8Bit().constData());
    QVERIFY(tlsServer.is_valid());
    tlsServer.Post(kPath.constData(), [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/event-stream", [](size_t, httplib::DataSink& sink) {
            const QByteArray events = streamEvent(QStringLiteral("secure")) + "data: [DONE]\n\n";
            sink.write(events.constData(), size_t(events.size()));
            sink.done();
            return true;
        });
    });
    const int port = tlsServer.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { tlsServer.listen_after_bind(); });
    while (!tlsServer.is_running())
        std::this_thread::yield();

    const QSslConfiguration previous = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = previous;
    trusting.setCaCertificates(QSslCertificate::fromPath(dataDir + QStringLiteral("localhost-cert.pem")));
    QSslConfiguration::setDefaultConfiguration(trusting);

    Fixture fixture(*m_settings, QUrl(QStringLiteral("https://127.0.0.1:%1").arg(port)));
    fixture.service.ask(QStringLiteral("Q"), &fixture.meeting, fixture.box);
    QTRY_VERIFY(!fixture.service.isAnswering());
    QSslConfiguration::setDefaultConfiguration(previous);
    tlsServer.stop();
    thread.join();

    QCOMPARE(fixture.service.errorText(), QString());
    QCOMPARE(fixture.stored().last().first, QStringLiteral("assistant:secure"));
}

QUILLET_TEST_MAIN(TestChat)
#include "TestChat.moc"
