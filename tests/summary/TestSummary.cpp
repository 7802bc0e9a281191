#include "platform/Log.h"
#include "storage/Meeting.h"
#include "summary/ReasoningStripper.h"
#include "summary/SummaryGenerator.h"
#include "summary/SummaryPrompts.h"
#include "support/FakeHttpServer.h"
#include "support/TestMain.h"

#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <mutex>

using namespace std::chrono_literals;

namespace {

const QByteArray kPath = "/v1/chat/completions";

QString golden(const QString& name)
{
    QFile file(QStringLiteral(QUILLET_TEST_DATA_DIR "/summary/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing golden file %s", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

QByteArray answer(const QString& content)
{
    const QJsonObject message { { QStringLiteral("role"), QStringLiteral("assistant") },
        { QStringLiteral("content"), content } };
    const QJsonObject choice { { QStringLiteral("message"), message } };
    return QJsonDocument(QJsonObject { { QStringLiteral("choices"), QJsonArray { choice } } }).toJson();
}

FakeHttpServer::Reply rateLimited(const QByteArray& retryAfter = {})
{
    FakeHttpServer::Reply reply = FakeHttpServer::Reply::json(429, "{}");
    if (!retryAfter.isNull())
        reply.headers.append({ "Retry-After", retryAfter });
    return reply;
}

// Answers the queued replies in order, then 500.
FakeHttpServer::Handler inOrder(QList<FakeHttpServer::Reply> replies)
{
    auto queue = std::make_shared<QList<FakeHttpServer::Reply>>(std::move(replies));
    auto mutex = std::make_shared<std::mutex>();
    return [queue, mutex](const FakeHttpServer::Request&) {
        std::lock_guard lock(*mutex);
        return queue->isEmpty() ? FakeHttpServer::Reply::json(500, "no reply queued") : queue->takeFirst();
    };
}

// Records the waits the generator asks for and lets it go on at once.
struct RecordedWaits
{
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::shared_ptr<QList<qint64>> waits = std::make_shared<QList<qint64>>();

    SummaryGenerator::RetryWait hook() const
    {
        return [mutex = mutex, waits = waits](std::chrono::milliseconds requested) {
            std::lock_guard lock(*mutex);
            waits->append(requested.count());
            return 0ms;
        };
    }
    QList<qint64> list() const
    {
        std::lock_guard lock(*mutex);
        return *waits;
    }
};

template <typename T> T await(QFuture<T> future)
{
    QObject context;
    bool done = false;
    future.then(&context, [&done](const T&) { done = true; });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        qFatal("future did not finish");
    return future.result();
}

ModelCredentials credentialsFor(const FakeHttpServer& server, const QString& basePath = {},
    ModelCredentials::Kind credential = ModelCredentials::Kind::ownKey)
{
    return { server.url(basePath), QStringLiteral("tq-secret"), credential };
}

} // namespace

class TestSummary final : public QObject
{
    Q_OBJECT

private slots:
    void withoutThinkTags_data();
    void withoutThinkTags();
    void cleanedAnswers_data();
    void cleanedAnswers();
    void retryAfterValue_data();
    void retryAfterValue();

    void promptsMatchGoldenText();
    void userContent_data();
    void userContent();

    void requestsCarryExactlyTheCompletionFields();
    void titleSeesOnlyTheTranscriptStart();
    void rateLimitWaits_data();
    void rateLimitWaits();
    void threeRateLimitsEndTheCall();
    void failedReplies_data();
    void failedReplies();
    void runFailsWhenEitherRequestFails_data();
    void runFailsWhenEitherRequestFails();
    void destroyingGeneratorEndsPendingRequests();
};

void TestSummary::withoutThinkTags_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& input, const QString& expected) {
        QTest::newRow(name) << input << expected;
    };
    row("block first", "<think>plan the reply</think>\n\nHello", "Hello");
    row("capital tags", "<THINK>plan</THINK>\n\nHello", "Hello");
    row("unclosed after word", "Word <think>still going", "Word");
    row("unclosed only", "<think>still going", "");
    row("no opening tag keeps blanks", "  text </think> more \n", "  text </think> more \n");
    row("only first of two blocks", " a <think>x</think> b <think>y</think> c ", "a  b <think>y</think> c");
    row("stray close before block", "</think> a <think>b</think> c", "</think> a  c");
    row("close then open, unclosed", "</think><think>x", "</think>");
}

void TestSummary::withoutThinkTags()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(ReasoningStripper::withoutThinkTags(input), expected);
}

// The post-processing of summary and title answers, as stored in the meeting.
void TestSummary::cleanedAnswers_data()
{
    QTest::addColumn<bool>("isTitle");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected"); // null: no title
    const auto row = [](const char* name, bool isTitle, const QString& answer, const QString& expected) {
        QTest::newRow(name) << isTitle << answer << expected;
    };
    row("summary: think block and blanks", false, "  <think>hmm</think>\n## Key Points\n- A  \n", "## Key Points\n- A");
    row("summary: reasoning prose then heading", false,
        "Let me think about this.\nIt was a sync.\n## Decisions\n- Ship", "## Decisions\n- Ship");
    row("summary: reasoning without heading", false, "Let me think about this.\nNo heading here",
        "Let me think about this.\nNo heading here");
    row("title: quoted", true, "\"Weekly sync\"", "Weekly sync");
    row("title: first line of two", true, "  Budget review \nsecond line", "Budget review");
    row("title: after think block", true, "<think>x</think>\n\n   Họp ngân sách   \n", "Họp ngân sách");
    row("title: only quotes gives empty", true, "\"\"\nrest", "");
    row("title: cut to 120", true, QString(130, QLatin1Char('t')), QString(120, QLatin1Char('t')));
    row("title: reasoning opener after blanks", true, "  Okay, the user asked for a title", {});
    row("title: thinking process", true, "Thinking Process:\n1. read", {});
    row("title: opener after other words", true, "Summary: let me think", "Summary: let me think");
    row("title: opener after 60 characters", true, QString(61, QLatin1Char('x')) + " let me think",
        QString(61, QLatin1Char('x')) + " let me think");
    row("title: reasoning on first line only", true, "<think>a</think>Let me think\nTitle", {});
}

void TestSummary::cleanedAnswers()
{
    QFETCH(bool, isTitle);
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    if (!isTitle) {
        QCOMPARE(SummaryGenerator::cleanSummary(answer), expected);
        return;
    }
    const std::optional<QString> title = SummaryGenerator::cleanTitle(answer);
    QCOMPARE(title.has_value(), !expected.isNull());
    if (title)
        QCOMPARE(*title, expected);
}

void TestSummary::retryAfterValue_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<double>("seconds"); // negative: the value does not count
    QTest::newRow("integer") << QByteArray("5") << 5.0;
    QTest::newRow("fraction") << QByteArray("5.5") << 5.5;
    QTest::newRow("exponent") << QByteArray("1e1") << 10.0;
    QTest::newRow("unit") << QByteArray("5s") << -1.0;
    QTest::newRow("leading blank") << QByteArray(" 5") << -1.0;
    QTest::newRow("trailing blank") << QByteArray("5 ") << -1.0;
    QTest::newRow("http date") << QByteArray("Wed, 21 Oct 2026 07:28:00 GMT") << -1.0;
    QTest::newRow("negative") << QByteArray("-3") << -1.0;
    QTest::newRow("not a number") << QByteArray("nan") << -1.0;
    QTest::newRow("hexadecimal") << QByteArray("0x10") << -1.0;
    QTest::newRow("empty") << QByteArray("") << -1.0;
    QTest::newRow("lone dot") << QByteArray(".") << -1.0;
}

void TestSummary::retryAfterValue()
{
    QFETCH(QByteArray, header);
    QFETCH(double, seconds);
    const std::optional<double> parsed = SummaryGenerator::retryAfterSeconds(header);
    QCOMPARE(parsed.has_value(), seconds >= 0);
    if (parsed)
        QCOMPARE(*parsed, seconds);
}

void TestSummary::promptsMatchGoldenText()
{
    QCOMPARE(SummaryPrompts::summarySystemPrompt(std::nullopt), golden(QStringLiteral("system-plain.txt")));
    QCOMPARE(SummaryPrompts::titlePrompt(), golden(QStringLiteral("title-prompt.txt")));

    Meeting linked(QStringLiteral("Kế hoạch quý 3"), QDateTime::currentDateTimeUtc());
    linked.setCalendarEventId(QStringLiteral("evt-1"));
    linked.setOrganizer(QStringLiteral("Nguyễn Văn An"));
    linked.setAttendeeNames(
        { QStringLiteral("Nguyễn Văn An"), QStringLiteral("Trần Thị Bích"), QStringLiteral("Lê Minh") });
    linked.setScheduledStart(QDateTime(QDate(2026, 3, 14), QTime(9, 5), QTimeZone::utc()));
    linked.setCalendarName(QStringLiteral("Công việc"));
    const std::optional<QString> context
        = SummaryPrompts::calendarContext(linked, QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
    QVERIFY(context);
    QCOMPARE(SummaryPrompts::summarySystemPrompt(context), golden(QStringLiteral("system-calendar.txt")));

    Meeting sparse(QStringLiteral("Retro"), QDateTime::currentDateTimeUtc());
    sparse.setCalendarEventId(QString());
    sparse.setOrganizer(QString());
    sparse.setAttendeeNames({ QString() });
    sparse.setCalendarName(QString());
    QCOMPARE(SummaryPrompts::calendarContext(sparse), golden(QStringLiteral("calendar-empty-organiser.txt")));

    // Linked with nothing else known: the header, the (empty) title line and the attribution.
    Meeting bare(QString(), QDateTime::currentDateTimeUtc());
    bare.setCalendarEventId(QStringLiteral("evt"));
    QCOMPARE(SummaryPrompts::calendarContext(bare)->count(QLatin1Char('\n')), 2);
    QVERIFY(SummaryPrompts::calendarContext(bare)->contains(QStringLiteral("\n- Event title: \n")));
    QVERIFY(!SummaryPrompts::calendarContext(Meeting(QStringLiteral("Note"), QDateTime())));
}

void TestSummary::userContent_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<QString>("expected");
    const QString transcript = QStringLiteral("Speaker A: Xin chào\nSpeaker B: Chào anh");
    QTest::newRow("blank notes") << " \n\t\n" << transcript << transcript;
    QTest::newRow("notes, empty transcript")
        << "todo" << QString() << QStringLiteral("=== USER NOTES ===\ntodo\n\n=== TRANSCRIPT ===\n");
}

void TestSummary::userContent()
{
    QFETCH(QString, notes);
    QFETCH(QString, transcript);
    QFETCH(QString, expected);
    QCOMPARE(SummaryPrompts::summaryUserContent(transcript, notes), expected);
}

void TestSummary::requestsCarryExactlyTheCompletionFields()
{
    FakeHttpServer server;
    server.on("POST", "/proxy" + kPath, FakeHttpServer::Reply::json(200, answer(QStringLiteral("  ## Key Points  "))));
    SummaryGenerator generator(credentialsFor(server, QStringLiteral("/proxy")));

    const Result<QString, SummaryError> completion
        = await(generator.chatCompletion(QStringLiteral("sys"), QStringLiteral("user text"), 77));
    QVERIFY(completion.ok());
    QCOMPARE(completion.value(), QStringLiteral("  ## Key Points  ")); // untouched by the completion itself

    const QString transcript = QStringLiteral("Speaker A: Chào");
    const Result<QString, SummaryError> summary
        = await(generator.generateSummary(transcript, QStringLiteral("\n  notes \n"), QStringLiteral("CTX")));
    QVERIFY(summary.ok());
    QCOMPARE(summary.value(), QStringLiteral("## Key Points"));

    const QList<FakeHttpServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 2);
    for (const FakeHttpServer::Request& request : requests) {
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, "/proxy" + kPath);
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tq-secret"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        const QJsonObject body = request.json();
        QCOMPARE(body.keys(), QStringList({ "max_tokens", "messages", "model", "temperature" }));
        QCOMPARE(body.value("model").toString(), QStringLiteral("fast"));
        QCOMPARE(body.value("temperature").toDouble(), 0.3);
    }
    const QJsonObject first = requests.at(0).json();
    QCOMPARE(first.value("max_tokens").toInt(), 77);
    QCOMPARE(first.value("messages").toArray(),
        QJsonArray({ QJsonObject { { "role", "system" }, { "content", "sys" } },
            QJsonObject { { "role", "user" }, { "content", "user text" } } }));
    const QJsonObject second = requests.at(1).json();
    QCOMPARE(second.value("max_tokens").toInt(), 2048);
    const QJsonArray messages = second.value("messages").toArray();
    QCOMPARE(messages.at(0)["content"].toString(), SummaryPrompts::summarySystemPrompt(QStringLiteral("CTX")));
    QCOMPARE(messages.at(1)["content"].toString(),
        QStringLiteral("=== USER NOTES ===\nnotes\n\n=== TRANSCRIPT ===\n") + transcript);
}

void TestSummary::titleSeesOnlyTheTranscriptStart()
{
    FakeHttpServer server;
    server.on("POST", kPath, FakeHttpServer::Reply::json(200, answer(QStringLiteral("\"Họp ngân sách\"\nextra"))));
    SummaryGenerator generator(credentialsFor(server));

    // 5000 characters, each a base letter with a combining mark (two code units).
    QString transcript;
    for (int i = 0; i < 5000; ++i)
        transcript += QStringLiteral("a\u0301");
    const Result<std::optional<QString>, SummaryError> title = await(generator.generateTitle(transcript));
    QVERIFY(title.ok());
    QCOMPARE(title.value(), std::optional<QString>(QStringLiteral("Họp ngân sách")));

    const QJsonObject body = server.requests().first().json();
    QCOMPARE(body.value("max_tokens").toInt(), 200);
    const QJsonArray messages = body.value("messages").toArray();
    QCOMPARE(messages.at(0)["content"].toString(), SummaryPrompts::titlePrompt());
    QCOMPARE(messages.at(1)["content"].toString(), transcript.left(4000));
}

void TestSummary::rateLimitWaits_data()
{
    QTest::addColumn<QList<QByteArray>>("retryAfter"); // null entry: no header
    QTest::addColumn<QList<qint64>>("waits");
    QTest::newRow("5") << QList<QByteArray> { "5" } << QList<qint64> { 5000 };
    QTest::newRow("5.5") << QList<QByteArray> { "5.5" } << QList<qint64> { 5500 };
    QTest::newRow("120 capped") << QList<QByteArray> { "120" } << QList<qint64> { 60000 };
    QTest::newRow("absent") << QList<QByteArray> { QByteArray(), QByteArray() } << QList<qint64> { 2000, 4000 };
    QTest::newRow("with unit") << QList<QByteArray> { "5s", "5s" } << QList<qint64> { 2000, 4000 };
}

void TestSummary::rateLimitWaits()
{
    QFETCH(QList<QByteArray>, retryAfter);
    QFETCH(QList<qint64>, waits);
    QList<FakeHttpServer::Reply> replies;
    for (const QByteArray& value : retryAfter)
        replies << rateLimited(value);
    replies << FakeHttpServer::Reply::json(200, answer(QStringLiteral("after the wait")));
    FakeHttpServer server;
    server.on("POST", kPath, inOrder(replies));
    RecordedWaits recorded;
    SummaryGenerator generator(credentialsFor(server), recorded.hook());

    const Result<QString, SummaryError> result
        = await(generator.chatCompletion(QStringLiteral("s"), QStringLiteral("u"), 10));
    QVERIFY(result.ok());
    QCOMPARE(result.value(), QStringLiteral("after the wait"));
    QCOMPARE(recorded.list(), waits);
    QCOMPARE(server.requestCount(), waits.size() + 1);
}

void TestSummary::threeRateLimitsEndTheCall()
{
    FakeHttpServer server;
    server.on("POST", kPath,
        inOrder({ rateLimited(), rateLimited(), rateLimited(), FakeHttpServer::Reply::json(200, answer("never")) }));
    RecordedWaits recorded;
    SummaryGenerator generator(credentialsFor(server), recorded.hook());
    LogCapture log;

    const Result<QString, SummaryError> result
        = await(generator.generateSummary(QStringLiteral("t"), {}, std::nullopt));
    QVERIFY(!result.ok());
    QCOMPARE(result.error(), SummaryError::api(429, QStringLiteral("Rate limited")));
    QCOMPARE(result.error().description(), QStringLiteral("Tessra API error (429): Rate limited"));
    QCOMPARE(server.requestCount(), 3);
    QCOMPARE(recorded.list(), (QList<qint64> { 2000, 4000 }));
    QVERIFY(log.contains(QStringLiteral("[Quillet] Rate limited, retrying in 2s (attempt 1/3)")));
    QVERIFY(log.contains(QStringLiteral("[Quillet] Rate limited, retrying in 4s (attempt 2/3)")));
}

void TestSummary::failedReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("description"); // null: only the kind is checked
    QTest::addColumn<ModelCredentials::Kind>("credential");
    using Kind = SummaryError::Kind;
    using Credential = ModelCredentials::Kind;
    // A refusal names the credential that was refused; the server's words go to the log.
    QTest::newRow("401 of an own key") << 401 << QByteArray("bad key") << int(Kind::Refused)
                                       << "Tessra refused your own API key. Check the key in Settings."
                                       << Credential::ownKey;
    QTest::newRow("403 of a provider sign-in")
        << 403 << QByteArray() << int(Kind::Refused) << "Tessra refused your Tessra sign-in. Sign in again in Settings."
        << Credential::providerSignIn;
    QTest::newRow("401 of the account") << 401 << QByteArray("{}") << int(Kind::Refused)
                                        << "Quillet Cloud refused your account's sign-in. Sign in again in Settings."
                                        << Credential::account;
    QTest::newRow("500 empty body") << 500 << QByteArray() << int(Kind::Api)
                                    << "Tessra API error (500): " << Credential::ownKey;
    QTest::newRow("503 with text") << 503 << QByteArray("Overloaded") << int(Kind::Api)
                                   << "Tessra API error (503): Overloaded" << Credential::ownKey;
    QTest::newRow("invalid utf-8 body") << 500 << QByteArray("\xff\xfe\xfd") << int(Kind::Api)
                                        << "Tessra API error (500): Unknown error" << Credential::ownKey;
    QTest::newRow("other 2xx") << 201 << answer("x") << int(Kind::Api) << QString() << Credential::ownKey;
    QTest::newRow("plain text 200") << 200 << QByteArray("hello") << int(Kind::MalformedJson) << QString()
                                    << Credential::ownKey;
    QTest::newRow("empty choices") << 200 << QByteArray("{\"choices\":[]}") << int(Kind::Parse)
                                   << "Failed to parse Tessra response" << Credential::ownKey;
    QTest::newRow("number content") << 200 << QByteArray("{\"choices\":[{\"message\":{\"content\":5}}]}")
                                    << int(Kind::Parse) << QString() << Credential::ownKey;
    QTest::newRow("top-level array") << 200 << QByteArray("[1]") << int(Kind::Parse) << QString() << Credential::ownKey;
}

void TestSummary::failedReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    QFETCH(QString, description);
    QFETCH(ModelCredentials::Kind, credential);
    FakeHttpServer server;
    server.on("POST", kPath, FakeHttpServer::Reply::text(status, body, "application/json"));
    SummaryGenerator generator(credentialsFor(server, {}, credential));

    const Result<QString, SummaryError> result
        = await(generator.chatCompletion(QStringLiteral("s"), QStringLiteral("u"), 10));
    QVERIFY(!result.ok());
    QCOMPARE(int(result.error().kind), kind);
    if (!description.isNull())
        QCOMPARE(result.error().description(), description);
    QCOMPARE(server.requestCount(), 1);
}

void TestSummary::runFailsWhenEitherRequestFails_data()
{
    QTest::addColumn<int>("titleStatus");
    QTest::addColumn<int>("summaryStatus");
    QTest::addColumn<int>("failedWith"); // 0: success
    QTest::newRow("both answer") << 200 << 200 << 0;
    QTest::newRow("summary fails") << 200 << 502 << 502;
    QTest::newRow("both fail: title's error") << 401 << 502 << 401;
}

void TestSummary::runFailsWhenEitherRequestFails()
{
    QFETCH(int, titleStatus);
    QFETCH(int, summaryStatus);
    QFETCH(int, failedWith);
    FakeHttpServer server;
    server.on("POST", kPath, [&](const FakeHttpServer::Request& request) {
        const bool isTitle = request.json().value("max_tokens").toInt() == 200;
        const int status = isTitle ? titleStatus : summaryStatus;
        return FakeHttpServer::Reply::json(
            status, status != 200 ? "{}" : answer(isTitle ? "\"Sync\"" : "## Key Points"));
    });
    SummaryGenerator generator(credentialsFor(server));

    const Result<GeneratedTitleAndSummary, SummaryError> run
        = await(generator.generateTitleAndSummary(QStringLiteral("Speaker A: hi"), QString(), std::nullopt));
    if (failedWith == 0) {
        QVERIFY(run.ok());
        QCOMPARE(run.value().title, std::optional<QString>(QStringLiteral("Sync")));
        QCOMPARE(run.value().summary, QStringLiteral("## Key Points"));
        return;
    }
    QVERIFY(!run.ok());
    QCOMPARE(run.error().status, failedWith);
}

void TestSummary::destroyingGeneratorEndsPendingRequests()
{
    FakeHttpServer server;
    server.on("POST", kPath, FakeHttpServer::Reply::json(200, answer("late")));
    server.hold("POST", kPath);
    auto generator = std::make_unique<SummaryGenerator>(credentialsFor(server));
    QFuture<Result<QString, SummaryError>> future = generator->generateSummary(QStringLiteral("t"), {}, std::nullopt);
    QTRY_COMPARE(server.heldCount(), 1);

    generator.reset();
    QVERIFY(future.isFinished());
    QCOMPARE(future.result().error().kind, SummaryError::Kind::Cancelled);
    server.release("POST", kPath);
}

QUILLET_TEST_MAIN(TestSummary)
#include "TestSummary.moc"
