// Every request we send, tried against a hostile server: a reply that never ends, one that
// trickles in a byte at a time, and a redirect to another origin.

#include "chat/MeetingChatService.h"
#include "network/ReplyLimiter.h"
#include "storage/Meeting.h"
#include "summary/SummaryGenerator.h"
#include "support/AccountRig.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestMain.h"
#include "system/UpdateChecker.h"
#include "transcription/TranscriptionTestSupport.h"

#include <QSignalSpy>
#include <QThread>

using namespace std::chrono_literals;

namespace {

// One call of one kind under way. outcome(): nothing while it runs; then the text it failed
// with, "" for a failure the call keeps to itself (update check, balance), or "ok".
class Call final : public QObject
{
public:
    Call(const QString& kind, const QUrl& base, std::chrono::milliseconds deadline)
    {
        const ModelCredentials credentials { base, QStringLiteral("tq-secret") };
        if (kind == QLatin1String("cloud")) {
            m_cloud = std::make_unique<QuilletCloud>(m_rig.settings, m_rig.network, base);
            m_cloud->setRequestDeadline(deadline);
            m_cloud->me(
                QStringLiteral("s-1"), this, [this](const Result<QuilletCloud::AccountInfo, CloudError>& result) {
                    end(result.ok() ? QStringLiteral("ok") : result.error().description());
                });
        } else if (kind == QLatin1String("summary")) {
            m_summary = std::make_unique<SummaryGenerator>(credentials);
            m_summary->setRequestDeadline(deadline);
            m_summary->chatCompletion(QStringLiteral("s"), QStringLiteral("u"), 10)
                .then(this, [this](const Result<QString, SummaryError>& result) {
                    end(result.ok() ? QStringLiteral("ok") : result.error().description());
                });
        } else if (kind == QLatin1String("transcription")) {
            TranscriberOptions options;
            options.retryDelay = 1ms;
            options.requestDeadline = deadline;
            m_transcriber = std::make_unique<TessraTranscriber>(
                credentials, QStringLiteral("rec-1"), std::nullopt, QDateTime::currentDateTimeUtc(), options);
            // Both attempts must fail for the error to be reported; it comes on the upload thread.
            m_transcriber->setOnError([this](const TessraError& error) {
                QMetaObject::invokeMethod(this, [this, text = error.description] { end(text); });
            });
            m_transcriber->setOnTranscriptCompleted([this](const QString&, double) {
                QMetaObject::invokeMethod(this, [this] { end(QStringLiteral("ok")); });
            });
            m_transcriber->connect();
            Chunks::sendUtterance(*m_transcriber);
        } else if (kind == QLatin1String("update")) {
            m_update = std::make_unique<UpdateChecker>(
                m_rig.network, base, QStringLiteral("1.0.0"), UpdateChecker::UrlOpener(), deadline);
            connect(m_update.get(), &UpdateChecker::finished, this,
                [this] { end(m_update->latestVersion().isEmpty() ? QStringLiteral("") : QStringLiteral("ok")); });
            m_update->check();
        } else if (kind == QLatin1String("token exchange")) {
            m_rig.browser.follow = false; // the test answers for the provider's page
            m_oauth = std::make_unique<TessraOAuth>(m_rig.network, m_rig.browser, m_rig.clock, base);
            m_oauth->setExchangeDeadline(deadline);
            m_oauth->signIn(this, [this](const TessraOAuth::Outcome& outcome) {
                if (outcome.ok())
                    end(QStringLiteral("ok"));
                else if (outcome.error().kind == TessraOAuth::AuthError::Kind::Unreachable)
                    end(outcome.error().message);
                else
                    end(outcome.error().description());
            });
            m_oauth->handleCallback(QUrl(QStringLiteral("quillet://callback?code=c-1&state=")
                + QUrlQuery(m_rig.browser.opened.last()).queryItemValue(QStringLiteral("state"), QUrl::FullyEncoded)));
        } else if (kind == QLatin1String("balance")) {
            m_rig.endpoints.providerWeb = base;
            m_rig.keychain.set(QStringLiteral("tq-secret"), AccountService::kOAuthKeyAccount);
            AccountService& account = m_rig.start();
            account.setBalanceDeadline(deadline);
            account.refreshTessraBalance(
                [this, &account] { end(account.tessraBalance() ? QStringLiteral("ok") : QStringLiteral("")); });
        } else {
            m_chat = std::make_unique<MeetingChatService>(
                [credentials] { return std::optional(credentials); }, m_rig.settings);
            m_chat->setAnswerDeadline(deadline);
            connect(m_chat.get(), &MeetingChatService::isAnsweringChanged, this, [this] {
                if (!m_chat->isAnswering())
                    end(m_chat->error().value_or(QStringLiteral("ok")));
            });
            m_chat->ask(QStringLiteral("Q"), &m_meeting, {});
        }
    }

    std::optional<QString> outcome() const { return m_outcome; }

private:
    void end(const QString& text)
    {
        if (!m_outcome)
            m_outcome = text;
    }

    AccountRig m_rig; // settings, network, browser and keyring
    Meeting m_meeting { QStringLiteral("M"), QDateTime::currentDateTimeUtc() };
    std::unique_ptr<QuilletCloud> m_cloud;
    std::unique_ptr<SummaryGenerator> m_summary;
    std::unique_ptr<TessraTranscriber> m_transcriber;
    std::unique_ptr<UpdateChecker> m_update;
    std::unique_ptr<TessraOAuth> m_oauth;
    std::unique_ptr<MeetingChatService> m_chat;
    std::optional<QString> m_outcome;
};

struct Site
{
    const char* kind;
    QByteArray method;
    QByteArray path;
    bool carriesCredentials;
    bool keepsFailureToItself;
};

const Site kSites[] = {
    { "cloud", "GET", "/v1/me", true, false },
    { "summary", "POST", "/v1/chat/completions", true, false },
    { "transcription", "POST", "/v1/audio/transcriptions", true, false },
    { "update", "GET", "/latest.json", false, true },
    { "token exchange", "POST", "/v1/auth/token", true, false },
    { "balance", "GET", "/v1/credits/balance", true, true },
    { "chat", "POST", "/v1/chat/completions", true, false },
};

} // namespace

class TestRequestLimits final : public QObject
{
    Q_OBJECT

private slots:
    // The server writes `opening`, then `filler` for ever: at full speed (an endless body), or
    // a byte at a time (a body that would take far longer than the deadline).
    void replyIsCutShort_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("opening");
        QTest::addColumn<QByteArray>("filler");
        QTest::addColumn<int>("tickMs");
        QTest::addColumn<QString>("failure");

        const QByteArray plain = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n";
        const QByteArray events = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n";
        const QByteArray keepAlive = ": " + QByteArray(200, 'k') + '\n';
        for (const Site& site : kSites) {
            const bool chat = QByteArray(site.kind) == "chat";
            const QString silent = site.keepsFailureToItself ? QStringLiteral("") : QString();
            QTest::addRow("%s, endless", site.kind)
                << site.kind << (chat ? events : plain + "{\"a\":\"") << (chat ? keepAlive : "x") << 0
                << (silent.isNull() ? RequestLimits::tooLargeText() : silent);
            QString timedOut = silent.isNull() ? RequestLimits::timedOutText() : silent;
            if (chat)
                timedOut = MeetingChatService::readable({ MeetingChatService::Failure::Kind::TimedOut, 0, {} });
            QTest::addRow("%s, trickling", site.kind)
                << site.kind << (chat ? events : plain) << (chat ? keepAlive : " ") << 10 << timedOut;
        }
    }
    void replyIsCutShort()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, opening);
        QFETCH(QByteArray, filler);
        QFETCH(int, tickMs);
        QFETCH(QString, failure);

        ScriptedHttpServer server({ opening, filler, std::chrono::milliseconds(tickMs) });
        Call call(kind, server.url(), tickMs ? 300ms : 60s);
        QTRY_VERIFY_WITH_TIMEOUT(call.outcome(), 20000);
        QCOMPARE(*call.outcome(), failure);
        // The client stopped taking the body before the server's own safety stop (which is
        // beyond the largest limit plus what the sockets' buffers can hold).
        QVERIFY(server.mostWritten() < ScriptedHttpServer::kMostWritten);
    }

    // While this thread is busy (a long layout, a slow disk), the network thread must not keep
    // reading an endless body into memory on its behalf: it stops at a small buffer, and the
    // request fails on the cap once this thread reads again.
    void endlessBodyWaitsForABusyThread_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::newRow("GET") << QByteArray("GET");
        QTest::newRow("POST") << QByteArray("POST");
    }
    void endlessBodyWaitsForABusyThread()
    {
        QFETCH(QByteArray, method);
        QThread serverThread;
        serverThread.start();
        QObject onServerThread;
        onServerThread.moveToThread(&serverThread);
        std::unique_ptr<ScriptedHttpServer> server;
        const auto onServer
            = [&](auto work) { QMetaObject::invokeMethod(&onServerThread, work, Qt::BlockingQueuedConnection); };
        onServer([&] {
            server = std::make_unique<ScriptedHttpServer>(ScriptedHttpServer::Script {
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n[", "1," });
        });
        const auto stopServer = qScopeGuard([&] {
            onServer([&] { server.reset(); });
            serverThread.quit();
            serverThread.wait();
        });

        QNetworkAccessManager network;
        QNetworkReply* reply = ReplyLimiter::send(network, QNetworkRequest(server->url(QStringLiteral("/flood"))),
            method, method == "POST" ? std::optional<QByteArray>("{}") : std::nullopt, { 60s, 60s });
        // Sending needs this thread; once the answer has begun, it stays busy.
        QSignalSpy answered(reply, &QNetworkReply::metaDataChanged);
        QVERIFY(answered.wait(kPatientWaitMs));
        // Far past what the cap, the client's buffer and the kernel's socket buffers hold.
        constexpr qint64 farPastTheCap = 96 * 1024 * 1024;
        const qint64 written = server->waitForWritten(farPastTheCap, 1500ms);
        QVERIFY2(written < farPastTheCap, qPrintable(QString::number(written)));

        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(ReplyLimiter::failure(reply), RequestLimits::tooLargeText());
        delete reply;
    }

    // The server answers with a redirect to another origin, which must get nothing.
    void credentialsStayOnTheirOrigin_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("failure");
        for (const Site& site : kSites) {
            if (!site.carriesCredentials)
                continue;
            QString failure = RequestLimits::redirectRefusedText();
            if (site.keepsFailureToItself)
                failure = QStringLiteral("");
            else if (QByteArray(site.kind) == "chat")
                failure = MeetingChatService::readable({ MeetingChatService::Failure::Kind::Status, 307, {} });
            QTest::newRow(site.kind) << site.kind << site.method << site.path << failure;
        }
    }
    void credentialsStayOnTheirOrigin()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QString, failure);

        FakeHttpServer elsewhere;
        FakeHttpServer origin;
        origin.on(method, path, FakeHttpServer::Reply::redirect(elsewhere.url(QString::fromLatin1(path)), 307));
        Call call(kind, origin.url(), 60s);
        QTRY_VERIFY(call.outcome());
        QCOMPARE(*call.outcome(), failure);
        QCOMPARE(elsewhere.requestCount(), 0);
        QVERIFY(origin.requestCount() > 0);
    }
};

QUILLET_TEST_MAIN(TestRequestLimits)
#include "TestRequestLimits.moc"
