#include "account/QuilletCloud.h"
#include "platform/Settings.h"
#include "support/FakeHttpServer.h"
#include "support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>

namespace {

const QByteArray kVerifyReply = R"({"sessionToken":"s-1","userId":"u-1","email":"ann@example.com"})";
const QByteArray kAccountReply = R"({"userId":"u-1","email":"ann@example.com","emailOptIn":true,)"
                                 R"("usage":{"minutesUsed":12.5,"quotaMinutes":300,"resetsAt":1767225600,)"
                                 R"("unlimited":false},"config":{"quotaMinutes":300,"analyticsEnabled":false,)"
                                 R"("analyticsFree":true}})";

// Waits for a cloud call to hand back its result.
template <typename T, typename Call> std::optional<Result<T, CloudError>> await(Call call)
{
    std::optional<Result<T, CloudError>> result;
    call([&](Result<T, CloudError> r) { result.emplace(std::move(r)); });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 15000))
        return std::nullopt;
    return result;
}

} // namespace

class TestQuilletCloud final : public QObject
{
    Q_OBJECT

    FakeHttpServer m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<Settings> m_settings;
    QNetworkAccessManager m_network;
    std::unique_ptr<QuilletCloud> m_cloud;

    QuilletCloud& cloud(const QString& basePath = {})
    {
        m_cloud = std::make_unique<QuilletCloud>(*m_settings, m_network, m_server.url(basePath));
        return *m_cloud;
    }

private slots:
    void init()
    {
        m_settings = std::make_unique<Settings>(m_dir.filePath(QStringLiteral("settings.ini")));
        m_settings->remove(SettingsKeys::quilletCloudBase);
        m_server.clearRequests();
        for (const QByteArray& base : { QByteArray(), QByteArray("/api") }) {
            m_server.on("POST", base + "/v1/auth/request", FakeHttpServer::Reply::json(200, "{}"));
            m_server.on("POST", base + "/v1/auth/verify", FakeHttpServer::Reply::json(200, kVerifyReply));
            m_server.on("GET", base + "/v1/me", FakeHttpServer::Reply::json(200, kAccountReply));
            m_server.on("POST", base + "/v1/auth/signout", FakeHttpServer::Reply::json(200, "{}"));
            m_server.on("POST", base + "/v1/shares",
                FakeHttpServer::Reply::json(200, "{\"id\":\"sh-1\",\"url\":\"https:\\/\\/s.example\\/sh-1\"}"));
        }
    }

    // Each call as it leaves: method, path below the base, headers and exact body.
    void sendsEachCall_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("basePath");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("body");

        for (const QString& base : { QString(), QStringLiteral("/api") }) {
            const QByteArray p = base.toUtf8();
            const auto row = [&](const char* name) -> QTestData& {
                return QTest::addRow("%s %s", name, base.isEmpty() ? "at root" : "below /api");
            };
            row("request e-mail") << "request" << base << QByteArray("POST") << p + "/v1/auth/request" << QByteArray()
                                  << QByteArray(R"({"email":"Ann@Example.com "})");
            row("verify code") << "verifyCode" << base << QByteArray("POST") << p + "/v1/auth/verify" << QByteArray()
                               << QByteArray(R"({"code":" 123456","email":"ann@example.com"})");
            row("verify link") << "verifyToken" << base << QByteArray("POST") << p + "/v1/auth/verify" << QByteArray()
                               << QByteArray(R"({"token":""})");
            row("account") << "me" << base << QByteArray("GET") << p + "/v1/me" << QByteArray("Bearer s-1")
                           << QByteArray();
            row("sign out") << "signOut" << base << QByteArray("POST") << p + "/v1/auth/signout"
                            << QByteArray("Bearer s-1") << QByteArray("{}");
            row("share") << "share" << base << QByteArray("POST") << p + "/v1/shares" << QByteArray("Bearer tq-oauth")
                         << QByteArray(R"({"date":"2026-01-31T14:05:00Z","duration":"754","email":"ann@example.com",)"
                                       R"("summary":"Notes","title":"Untitled meeting"})");
        }
    }
    void sendsEachCall()
    {
        QFETCH(QString, call);
        QFETCH(QString, basePath);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, body);

        QuilletCloud& c = cloud(basePath);
        bool ok = false;
        const auto done = [&ok](const auto& result) { ok = result.ok(); };
        if (call == QLatin1String("request"))
            c.requestSignIn(QStringLiteral("Ann@Example.com "), this, done);
        else if (call == QLatin1String("verifyCode"))
            c.verify(QStringLiteral("ann@example.com"), QStringLiteral(" 123456"), this, done);
        else if (call == QLatin1String("verifyToken"))
            c.verify(QString(), this, done);
        else if (call == QLatin1String("me"))
            c.me(QStringLiteral("s-1"), this, done);
        else if (call == QLatin1String("signOut"))
            c.signOut(QStringLiteral("s-1"), this, done);
        else
            c.share({ QStringLiteral("tq-oauth"), QStringLiteral("ann@example.com") }, QString(),
                QStringLiteral("Notes"), QDateTime(QDate(2026, 1, 31), QTime(15, 5), QTimeZone(3600)), 754.9, this,
                done);

        QTRY_VERIFY(ok);
        QCOMPARE(m_server.requestCount(), 1);
        const FakeHttpServer::Request sent = m_server.requests().first();
        QCOMPARE(sent.method, method);
        QCOMPARE(sent.target, path);
        QCOMPARE(sent.hasHeader("Authorization"), !authorization.isEmpty());
        QCOMPARE(sent.header("Authorization"), authorization);
        QCOMPARE(sent.hasHeader("Content-Type"), !body.isEmpty());
        if (!body.isEmpty())
            QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        // Compact JSON of string values (the expected texts list the keys in the encoder's order).
        QCOMPARE(sent.body, body);
    }

    // How statuses and bodies turn into a record or an error.
    void decodesReplies_data()
    {
        QTest::addColumn<QByteArray>("route");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code"); // empty: a malformed reply
        QTest::addColumn<QString>("description"); // null: the reply decodes

        const QByteArray verify = "/v1/auth/verify";
        const QByteArray request = "/v1/auth/request";
        const QString malformed = QStringLiteral("Unexpected response from Quillet Cloud");
        const auto row = [](const char* name, const QByteArray& route, int status, const QByteArray& body,
                             const QString& code = {}, const QString& description = {}) {
            QTest::newRow(name) << route << status << body << code << description;
        };
        row("200 record", verify, 200, kVerifyReply);
        row("300 with a record is an error", verify, 300, kVerifyReply, "http_300", "Quillet Cloud error (300)");
        row("401 unauthorized", verify, 401, R"({"error":{"code":"unauthorized","message":"Your session has ended."}})",
            "unauthorized", "Your session has ended.");
        row("500 html page", verify, 500, "<html><body>Bad gateway</body></html>", "http_500",
            "Quillet Cloud error (500)");
        row("error without message", verify, 422, R"({"error":{"code":"bad_code"}})", "http_422",
            "Quillet Cloud error (422)");
        row("record missing a key", verify, 200, R"({"sessionToken":"s-1","email":"a@b.c"})", "", malformed);
        row("empty 200 body", request, 200, "", "", malformed);
        row("empty object", request, 200, "{}");
        row("two values", request, 200, "{} {}", "", malformed);
    }
    void decodesReplies()
    {
        QFETCH(QByteArray, route);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QFETCH(QString, description);

        const QByteArray contentType = body.startsWith("<html") ? "text/html" : "application/json";
        m_server.on("POST", route, FakeHttpServer::Reply::text(status, body, contentType));
        QuilletCloud& c = cloud();
        std::optional<CloudError> error;
        bool finished = false;
        const auto done = [&](const auto& result) {
            finished = true;
            if (!result.ok())
                error = result.error();
        };
        if (route == "/v1/auth/request")
            c.requestSignIn(QStringLiteral("a@b.c"), this, done);
        else
            c.verify(QStringLiteral("a@b.c"), QStringLiteral("1"), this, done);
        QTRY_VERIFY(finished);
        QCOMPARE(error.has_value(), !description.isNull());
        if (!error)
            return;
        QCOMPARE(error->kind, code.isEmpty() ? CloudError::Kind::Malformed : CloudError::Kind::Api);
        QCOMPARE(error->code, code);
        QCOMPARE(error->description(), description);
        if (error->kind == CloudError::Kind::Api)
            QCOMPARE(error->status, status);
    }

    // Qt's HTTP stack never reports a 1xx status as the final answer, so the routine's own
    // handling of one is checked directly.
    void informationalStatusIsAnError()
    {
        const auto result = QuilletCloud::decode<QuilletCloud::VerifyResult>({ 199, kVerifyReply, {}, {} });
        QVERIFY(!result.ok());
        QCOMPARE(result.error().code, QStringLiteral("http_199"));
        QCOMPARE(result.error().status, 199);
    }

    // The account record is read strictly: a JSON true is a Bool, 0 and 1 are not.
    void decodesAccountStrictly_data()
    {
        QTest::addColumn<QByteArray>("usage");
        QTest::addColumn<QByteArray>("optIn");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("unlimited"); // -1 unset, 0 false, 1 true

        const QByteArray full = R"("minutesUsed":12.5,"quotaMinutes":300,"resetsAt":1767225600)";
        QTest::newRow("unlimited absent") << full << QByteArray("true") << true << -1;
        QTest::newRow("unlimited null") << full + R"(,"unlimited":null)" << QByteArray("false") << true << -1;
        QTest::newRow("unlimited true") << full + R"(,"unlimited":true)" << QByteArray("true") << true << 1;
        QTest::newRow("unlimited 1") << full + R"(,"unlimited":1)" << QByteArray("true") << false << -1;
        QTest::newRow("opt-in 0") << full << QByteArray("0") << false << -1;
        QTest::newRow("opt-in missing") << full << QByteArray() << false << -1;
        QTest::newRow("minutes as text") << QByteArray(R"("minutesUsed":"12","quotaMinutes":300,"resetsAt":1)")
                                         << QByteArray("true") << false << -1;
    }
    void decodesAccountStrictly()
    {
        QFETCH(QByteArray, usage);
        QFETCH(QByteArray, optIn);
        QFETCH(bool, ok);
        QFETCH(int, unlimited);

        QByteArray body = R"({"userId":"u-1","email":"a@b.c",)";
        if (!optIn.isEmpty())
            body += R"("emailOptIn":)" + optIn + ',';
        body += R"("usage":{)" + usage
            + R"(},"config":{"quotaMinutes":300,"analyticsEnabled":true,"analyticsFree":false}})";
        m_server.on("GET", "/v1/me", FakeHttpServer::Reply::json(200, body));

        const auto result
            = await<QuilletCloud::AccountInfo>([&](auto done) { cloud().me(QStringLiteral("s-1"), this, done); });
        QVERIFY(result);
        QCOMPARE(result->ok(), ok);
        if (!ok) {
            QCOMPARE(result->error().kind, CloudError::Kind::Malformed);
            return;
        }
        QCOMPARE(result->value().usage.unlimited.has_value(), unlimited >= 0);
        if (unlimited >= 0)
            QCOMPARE(*result->value().usage.unlimited, unlimited == 1);
        QCOMPARE(result->value().usage.quotaMinutes, 300.0);
    }

    // Only an absolute web URL with a host may replace the built-in base.
    void baseOverride_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<QString>("expected"); // empty: the built-in base

        const auto row = [](const char* name, const QVariant& setting, const QString& expected = {}) {
            QTest::newRow(name) << setting << expected;
        };
        row("unset", {});
        row("empty", QString());
        row("not a url", "not a url");
        row("no host", "https://");
        row("other scheme", "ftp://cloud.example");
        row("https with path", "https://cloud.example/api", "https://cloud.example/api");
        row("http with port", "http://127.0.0.1:9/", "http://127.0.0.1:9/");
    }
    void baseOverride()
    {
        QFETCH(QVariant, setting);
        QFETCH(QString, expected);
        if (setting.isValid())
            m_settings->setValue(SettingsKeys::quilletCloudBase.key(), setting);
        const QUrl builtIn(QStringLiteral("https://builtin.example"));
        const QuilletCloud c(*m_settings, m_network, builtIn);
        QCOMPARE(c.baseUrl(), expected.isEmpty() ? builtIn : QUrl(expected));
    }

    void resultIsDroppedWithItsReceiver()
    {
        m_server.hold("GET", "/v1/me");
        bool called = false;
        auto receiver = std::make_unique<QObject>();
        cloud().me(QStringLiteral("s-1"), receiver.get(), [&](const auto&) { called = true; });
        QTRY_COMPARE(m_server.heldCount(), 1);
        receiver.reset();
        m_server.release("GET", "/v1/me");
        QSignalSpy replies(&m_network, &QNetworkAccessManager::finished);
        QVERIFY(replies.wait(15000));
        QVERIFY(!called);
    }
};

QUILLET_TEST_MAIN(TestQuilletCloud)
#include "TestQuilletCloud.moc"
