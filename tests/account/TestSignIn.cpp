#include "support/AccountRig.h"
#include "support/TestMain.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>
#include <thread>

using Reply = FakeHttpServer::Reply;
using Flow = AccountService::Flow;
using Secret = AccountService::Secret;

namespace {

const QByteArray kVerified = R"({"sessionToken":"sess-9f2c","userId":"u-1","email":"ann@example.com"})";
const QByteArray kAccount = R"({"userId":"u-1","email":"ann@example.com","emailOptIn":false,)"
                            R"("usage":{"minutesUsed":1,"quotaMinutes":300,"resetsAt":1},)"
                            R"("config":{"quotaMinutes":300,"analyticsEnabled":false,"analyticsFree":false}})";

// The provider's sign-in page: sends the browser back to the application with a code and the
// state it was given, unless the test changes what comes back.
Reply authorizePage(const FakeHttpServer::Request& request, const QString& state, const QString& code)
{
    QUrlQuery back;
    if (!code.isNull())
        back.addQueryItem(QStringLiteral("code"), code);
    QString echoed = state;
    for (const auto& [name, value] : request.queryItems())
        if (name == QLatin1String("state") && state.isNull())
            echoed = value;
    back.addQueryItem(QStringLiteral("state"), echoed);
    return Reply::redirect(QUrl(QStringLiteral("quillet://callback?") + back.query(QUrl::FullyEncoded)));
}

// Where a sign-in link finds the user.
enum class Situation {
    askedNow, // for the link's address, a moment ago
    askedBeforeRestart, // for the link's address, 14 minutes before this start
    askedTooLongBeforeRestart, // 16 minutes before
    askedForAnother, // for another address
    askedSignedIn, // with a session of the cloud account
    askedSignedInWithProvider, // with the provider's sign-in
    askedRecording,
    askedRecordingBeginsDuringCheck,
    signedIn, // nothing asked for
    nothingAsked,
};

} // namespace

class TestSignIn final : public QObject
{
    Q_OBJECT

private slots:
    void emailCodeEndToEnd()
    {
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify", [](const FakeHttpServer::Request& request) {
            return request.json().value(QLatin1String("code")) == QLatin1String("123456")
                ? Reply::json(200, kVerified)
                : Reply::json(400, R"({"error":{"code":"bad_code","message":"That code is wrong."}})");
        });
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, kAccount));
        AccountService& account = rig.start();

        // A code check before any e-mail was sent does nothing.
        QVERIFY(finishes([&](auto done) { account.verifyCode(QStringLiteral("123456"), done); }));
        QCOMPARE(rig.cloudServer.requestCount(), 0);

        QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("  Ann@Example.COM\n"), done); }));
        QCOMPARE(rig.cloudServer.requests().first().json().value(QLatin1String("email")).toString(),
            QStringLiteral("ann@example.com"));
        QCOMPARE(account.flow(), Flow::codeSent(QStringLiteral("ann@example.com")));
        QCOMPARE(account.resendCooldown(), 60);
        rig.clock.advanceMs(20'000);
        QTRY_COMPARE(account.resendCooldown(), 40);
        // Asking again restarts the countdown.
        QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("ann@example.com"), done); }));
        QCOMPARE(account.resendCooldown(), 60);

        QVERIFY(finishes([&](auto done) { account.verifyCode(QStringLiteral("000000"), done); }));
        QCOMPARE(account.flow(), Flow::codeSent(QStringLiteral("ann@example.com")));
        QCOMPARE(account.flowError(), std::optional(QStringLiteral("That code is wrong.")));
        rig.clock.advanceMs(5'000);
        QTRY_COMPARE(account.resendCooldown(), 55);

        LogCapture log;
        QVERIFY(finishes([&](auto done) { account.verifyCode(QStringLiteral("123456"), done); }));
        QCOMPARE(account.sessionToken(), std::optional(QStringLiteral("sess-9f2c")));
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount), std::optional(QStringLiteral("sess-9f2c")));
        QCOMPARE(account.flow(), Flow::idle());
        QVERIFY(!account.flowError());
        QCOMPARE(account.resendCooldown(), 0);
        QVERIFY(log.contains(QStringLiteral("[Quillet] Signed in as ann@example.com")));
        QTRY_VERIFY(account.account().has_value());
        QCOMPARE(rig.cloudServer.requestsTo("GET", "/v1/me").first().header("Authorization"),
            QByteArray("Bearer sess-9f2c"));
    }

    // A sign-in the keyring refuses still works for this run, and the service says so until
    // the sign-out; the next start begins signed out.
    void signInsTheKeyringRefusesAreSaid_data()
    {
        QTest::addColumn<bool>("provider");
        QTest::addColumn<bool>("refuseWrites");
        QTest::newRow("e-mail, kept") << false << false;
        QTest::newRow("e-mail, refused") << false << true;
        QTest::newRow("provider, kept") << true << false;
        QTest::newRow("provider, refused") << true << true;
    }
    void signInsTheKeyringRefusesAreSaid()
    {
        QFETCH(bool, provider);
        QFETCH(bool, refuseWrites);
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify", Reply::json(200, kVerified));
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, kAccount));
        rig.cloudServer.on("POST", "/v1/auth/signout", Reply::json(200, "{}"));
        rig.providerServer.on("GET", "/v1/auth/authorize",
            [](const FakeHttpServer::Request& request) { return authorizePage(request, {}, QStringLiteral("c-1")); });
        rig.providerServer.on("POST", "/v1/auth/token", Reply::json(200, R"({"api_key":"tq-new","email":"p@x.com"})"));
        rig.keyring.refuseWrites = refuseWrites;
        const AccountService::Secrets expected
            = refuseWrites ? (provider ? Secret::providerSignIn : Secret::session) : AccountService::Secrets();
        {
            AccountService& account = rig.start();
            if (provider) {
                QVERIFY(finishes([&](auto done) { account.signInWithTessra(done); }));
            } else {
                QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("ann@example.com"), done); }));
                QVERIFY(finishes([&](auto done) { account.verifyCode(QStringLiteral("123456"), done); }));
            }
            QVERIFY(account.isSignedIn());
            QCOMPARE(account.unkeptSecrets(), expected);
        }
        AccountService& restarted = rig.start();
        QCOMPARE(restarted.isSignedIn(), !refuseWrites);
        QCOMPARE(restarted.unkeptSecrets(), AccountService::Secrets());
        if (refuseWrites)
            return;
        // Signed in again with the keyring refusing, then signed out: nothing is left to keep.
        rig.keyring.refuseWrites = true;
        if (provider) {
            QVERIFY(finishes([&](auto done) { restarted.signInWithTessra(done); }));
            QCOMPARE(restarted.unkeptSecrets(), AccountService::Secrets(Secret::providerSignIn));
        }
        QVERIFY(finishes([&](auto done) { restarted.signOut(done); }));
        QCOMPARE(restarted.unkeptSecrets(), AccountService::Secrets());
    }

    void emailRequestFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("message"); // null: any non-empty transport text
        QTest::newRow("server message") << Reply::json(429, R"({"error":{"code":"rate","message":"Slow down"}})")
                                        << "Slow down";
        QTest::newRow("empty reply") << Reply::json(200, "") << "Unexpected response from Quillet Cloud";
        QTest::newRow("dropped") << Reply::dropped() << QString();
    }
    void emailRequestFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, message);
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/request", reply);
        AccountService& account = rig.start();
        QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("a@b.c"), done); }));
        QCOMPARE(account.flow(), Flow::idle());
        QVERIFY(account.flowError() && !account.flowError()->isEmpty());
        if (!message.isNull())
            QCOMPARE(*account.flowError(), message);
        QCOMPARE(account.resendCooldown(), 0);
    }

    // Which opened URLs start a link check, and with which token.
    void signInLinks_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("token"); // null: ignored
        const auto row = [](const char* url, const QString& token) { QTest::newRow(url) << QString(url) << token; };
        row("quillet://auth?token=abc%2B1", "abc+1");
        row("quillet://auth?token=", "");
        row("quillet://auth?x=1&token=a&token=b", "a"); // the first token counts
        row("quillet://auth", {});
        row("quillet://auth?token", {});
        row("quillet://open?token=abc", {});
        row("https://auth?token=abc", {});
    }
    void signInLinks()
    {
        QFETCH(QString, url);
        QFETCH(QString, token);
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on(
            "POST", "/v1/auth/verify", Reply::json(400, R"({"error":{"code":"expired","message":"Expired"}})"));
        AccountService& account = rig.start();
        QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("ann@example.com"), done); }));
        account.handleOpenURL(QUrl(url));
        QCoreApplication::processEvents();
        const auto checks = [&] { return rig.cloudServer.requestsTo("POST", "/v1/auth/verify"); };
        if (token.isNull()) {
            QCOMPARE(account.flow(), Flow::codeSent(QStringLiteral("ann@example.com")));
            QCOMPARE(checks().size(), 0);
            return;
        }
        QCOMPARE(account.flow(), Flow::verifying());
        QTRY_VERIFY(account.flowError().has_value());
        QCOMPARE(checks().first().json().value(QLatin1String("token")).toString(), token);
        // A failed link goes back to idle, not to code entry.
        QCOMPARE(account.flow(), Flow::idle());
        QCOMPARE(*account.flowError(), QStringLiteral("Expired"));
    }

    // Any page can hand the application a link: it signs in at once only as the answer to an
    // e-mail the user asked for, with nobody signed in and no recording. Otherwise the account
    // is put as a question and nothing changes until it is answered.
    void linkFromAnywhere_data()
    {
        QTest::addColumn<Situation>("situation");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("asked");
        const QString url = QStringLiteral("quillet://auth?token=link-7");
        const QString token = QStringLiteral("link-7");
        QTest::newRow("asked for") << Situation::askedNow << url << token << false;
        QTest::newRow("asked for before a restart") << Situation::askedBeforeRestart << url << token << false;
        QTest::newRow("asked for too long ago") << Situation::askedTooLongBeforeRestart << url << token << true;
        QTest::newRow("another address asked for") << Situation::askedForAnother << url << token << true;
        QTest::newRow("asked for, signed in") << Situation::askedSignedIn << url << token << true;
        QTest::newRow("asked for, provider") << Situation::askedSignedInWithProvider << url << token << true;
        QTest::newRow("asked for, recording") << Situation::askedRecording << url << token << true;
        QTest::newRow("recording begins") << Situation::askedRecordingBeginsDuringCheck << url << token << true;
        QTest::newRow("not asked for") << Situation::nothingAsked << url << token << true;
        QTest::newRow("host in capitals, path")
            << Situation::signedIn << QStringLiteral("quillet://AUTH/x?token=link-7") << token << true;
        QTest::newRow("user info, port, dot segments, fragment")
            << Situation::signedIn << QStringLiteral("quillet://u:p@auth:99/x/../y?token=link-7#f") << token << true;
        QTest::newRow("empty token") << Situation::signedIn << QStringLiteral("quillet://auth?token=") << QString("")
                                     << true;
    }
    void linkFromAnywhere()
    {
        QFETCH(Situation, situation);
        QFETCH(QString, url);
        QFETCH(QString, token);
        QFETCH(bool, asked);
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify", Reply::json(200, kVerified));
        // The question names the account the server knows the link's session by.
        rig.cloudServer.on("GET", "/v1/me", [](const FakeHttpServer::Request& request) {
            return request.header("Authorization") == "Bearer sess-9f2c" ? Reply::json(200, kAccount)
                                                                         : Reply::json(500, "{}");
        });
        if (situation == Situation::askedSignedIn || situation == Situation::signedIn)
            rig.keychain.set(QStringLiteral("sess-old"), AccountService::kSessionTokenAccount);
        if (situation == Situation::askedSignedInWithProvider)
            rig.keychain.set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount);
        bool recording = situation == Situation::askedRecording;
        AccountService* account = &rig.start();
        account->setRecordingCheck([&recording] { return recording; });
        if (situation != Situation::signedIn && situation != Situation::nothingAsked) {
            const QString address
                = QLatin1String(situation == Situation::askedForAnother ? "bob@x.com" : "ann@example.com");
            QVERIFY(finishes([&](auto done) { account->sendSignInEmail(address, done); }));
        }
        if (situation == Situation::askedBeforeRestart || situation == Situation::askedTooLongBeforeRestart) {
            rig.clock.advanceMs(situation == Situation::askedBeforeRestart ? 14 * 60'000 : 16 * 60'000);
            account = &rig.start();
        }
        const std::optional<QString> session = account->sessionToken();
        const std::optional<ModelCredentials> credentials = account->modelCredentials();
        const Flow flow = account->flow();

        if (situation == Situation::askedRecordingBeginsDuringCheck)
            rig.cloudServer.hold("POST", "/v1/auth/verify");
        account->handleOpenURL(QUrl(url));
        if (situation == Situation::askedRecordingBeginsDuringCheck) {
            QTRY_COMPARE(rig.cloudServer.heldCount(), 1);
            recording = true;
            rig.cloudServer.release("POST", "/v1/auth/verify");
        }
        if (!asked) {
            QTRY_COMPARE(account->sessionToken(), std::optional(QStringLiteral("sess-9f2c")));
            QVERIFY(!account->linkSignInQuestion());
            return;
        }
        QTRY_COMPARE(account->linkSignInQuestion(), std::optional(QStringLiteral("ann@example.com")));
        QCOMPARE(rig.cloudServer.requestsTo("POST", "/v1/auth/verify").first().json().value("token").toString(), token);
        QCOMPARE(account->sessionToken(), session);
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount), session);
        QCOMPARE(account->modelCredentials(), credentials);
        QCOMPARE(account->flow(), flow);

        account->answerLinkSignIn(false);
        QVERIFY(!account->linkSignInQuestion());
        QCOMPARE(account->sessionToken(), session);
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount), session);
    }

    // "Yes" signs in as the account named; a link that comes while the question waits is
    // not even checked.
    void linkQuestionAnswered()
    {
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/verify", Reply::json(200, kVerified));
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, kAccount));
        AccountService& account = rig.start();
        account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=link-7")));
        QTRY_VERIFY(account.linkSignInQuestion());
        account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=link-8")));
        QCoreApplication::processEvents();
        QCOMPARE(rig.cloudServer.requestsTo("POST", "/v1/auth/verify").size(), 1);

        LogCapture log;
        account.answerLinkSignIn(true);
        QCOMPARE(account.sessionToken(), std::optional(QStringLiteral("sess-9f2c")));
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount), std::optional(QStringLiteral("sess-9f2c")));
        QCOMPARE(account.account()->email, QStringLiteral("ann@example.com"));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Signed in as ann@example.com")));
        QVERIFY(!account.linkSignInQuestion());
    }

    // A link nobody asked for whose check fails is told as such, with its reason, until read;
    // the next link that is checked puts its question in its place.
    void uncheckedLinkIsTold_data()
    {
        QTest::addColumn<Reply>("verifyReply");
        QTest::addColumn<Reply>("meReply");
        QTest::addColumn<QString>("reason");
        const QString unreachable = QStringLiteral("The service could not be reached.");
        QTest::newRow("no answer to the check") << Reply::dropped() << Reply::json(200, kAccount) << unreachable;
        QTest::newRow("no answer about the account") << Reply::json(200, kVerified) << Reply::dropped() << unreachable;
        QTest::newRow("refused") << Reply::json(400, R"({"error":{"code":"expired","message":"Expired"}})")
                                 << Reply::json(200, kAccount) << QStringLiteral("Expired");
    }
    void uncheckedLinkIsTold()
    {
        QFETCH(Reply, verifyReply);
        QFETCH(Reply, meReply);
        QFETCH(QString, reason);
        AccountRig rig;
        rig.cloudServer.on("POST", "/v1/auth/verify", verifyReply);
        rig.cloudServer.on("GET", "/v1/me", meReply);
        AccountService& account = rig.start();
        QSignalSpy told(&account, &AccountService::linkSignInQuestionChanged);
        account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=link-7")));
        QTRY_COMPARE(account.linkSignInFailure(), std::optional(reason));
        QCOMPARE(told.size(), 1);
        QVERIFY(!account.linkSignInQuestion());
        QVERIFY(!account.sessionToken());
        account.dismissLinkSignInFailure();
        QVERIFY(!account.linkSignInFailure());
        QCOMPARE(told.size(), 2);

        account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=link-8")));
        QTRY_VERIFY(account.linkSignInFailure());
        rig.cloudServer.on("POST", "/v1/auth/verify", Reply::json(200, kVerified));
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, kAccount));
        account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=link-9")));
        QTRY_VERIFY(account.linkSignInQuestion());
        QVERIFY(!account.linkSignInFailure());
    }

    // A question that waits is about the situation it came in: once the account changes (the
    // person's own link, a provider sign-in, a sign-out) it is gone, and the other account is
    // never offered afterwards.
    void waitingQuestionGoesWhenTheAccountChanges_data()
    {
        QTest::addColumn<int>("change"); // 0: own link, 1: provider sign-in, 2: sign-out
        QTest::newRow("own link") << 0;
        QTest::newRow("provider sign-in") << 1;
        QTest::newRow("sign-out") << 2;
    }
    void waitingQuestionGoesWhenTheAccountChanges()
    {
        QFETCH(int, change);
        AccountRig rig;
        const QByteArray attacker = R"({"sessionToken":"sess-evil","userId":"u-6","email":"attacker@evil.test"})";
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify", [&](const FakeHttpServer::Request& request) {
            return request.json().value(QLatin1String("token")) == QLatin1String("evil") ? Reply::json(200, attacker)
                                                                                         : Reply::json(200, kVerified);
        });
        rig.cloudServer.on("GET", "/v1/me", [](const FakeHttpServer::Request& request) {
            return request.header("Authorization") == "Bearer sess-evil"
                ? Reply::json(200, QByteArray(kAccount).replace("ann@example.com", "attacker@evil.test"))
                : Reply::json(200, kAccount);
        });
        rig.cloudServer.on("POST", "/v1/auth/signout", Reply::json(200, "{}"));
        rig.providerServer.on("GET", "/v1/auth/authorize",
            [](const FakeHttpServer::Request& request) { return authorizePage(request, {}, QStringLiteral("c-1")); });
        rig.providerServer.on(
            "POST", "/v1/auth/token", Reply::json(200, R"({"api_key":"tq-new","email":"p@x.com","balance":1})"));
        rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":1})"));
        if (change == 2)
            rig.keychain.set(QStringLiteral("sess-old"), AccountService::kSessionTokenAccount);
        AccountService& account = rig.start();
        if (change == 0)
            QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("ann@example.com"), done); }));

        account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=evil")));
        QTRY_COMPARE(account.linkSignInQuestion(), std::optional(QStringLiteral("attacker@evil.test")));
        LogCapture log;
        switch (change) {
        case 0:
            account.handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=link-7")));
            QTRY_COMPARE(account.sessionToken(), std::optional(QStringLiteral("sess-9f2c")));
            break;
        case 1:
            QVERIFY(finishes([&](auto done) { account.signInWithTessra(done); }));
            QCOMPARE(account.tessraKey(), std::optional(QStringLiteral("tq-new")));
            break;
        default:
            QVERIFY(finishes([&](auto done) { account.signOut(done); }));
            break;
        }
        QVERIFY(!account.linkSignInQuestion());
        QVERIFY(log.containsPart(QStringLiteral("Dropped a sign-in link")));
        account.answerLinkSignIn(true); // an answer that comes too late signs in nobody
        QVERIFY(account.sessionToken() != std::optional(QStringLiteral("sess-evil")));
    }

    // The provider sign-in through the browser and the router, with each way it can end.
    void providerSignIn_data()
    {
        QTest::addColumn<QString>("state"); // null: the one the application sent
        QTest::addColumn<QString>("code"); // null: none
        QTest::addColumn<Reply>("tokenReply");
        QTest::addColumn<QString>("key"); // null: the earlier key stays
        QTest::addColumn<QVariant>("balance");
        QTest::addColumn<QString>("error"); // null: no message
        QTest::addColumn<bool>("exchanged");

        const QString failed200 = QStringLiteral("Sign-in failed (200). Please try again.");
        const auto row = [](const char* name, const QString& state, const QString& code, const Reply& tokenReply,
                             const QString& key, const QVariant& balance, const QString& error, bool exchanged) {
            QTest::newRow(name) << state << code << tokenReply << key << balance << error << exchanged;
        };
        row("api key", {}, "c-1", Reply::json(200, R"({"api_key":"tq-new","email":"p@x.com","balance":12.5})"),
            "tq-new", 12.5, {}, true);
        row("access token only", {}, "c-1", Reply::json(200, R"({"access_token":"at-1","email":"p@x.com"})"), "at-1",
            {}, {}, true);
        row("empty api key", {}, "c-1", Reply::json(200, R"({"api_key":"","access_token":"at-1","email":"p@x.com"})"),
            {}, {}, failed200, true);
        row("no e-mail", {}, "c-1", Reply::json(200, R"({"api_key":"tq-new"})"), {}, {}, failed200, true);
        row("refused", {}, "c-1", Reply::json(400, R"({"error":"invalid_grant"})"), {}, {},
            "Sign-in failed (400). Please try again.", true);
        row("wrong state", "forged", "c-1", Reply::json(200, "{}"), {}, {}, "Security check failed — please try again.",
            false);
        row("missing code", {}, {}, Reply::json(200, "{}"), {}, {}, "No authorization code received.", false);
        row("transport failure", {}, "c-1", Reply::dropped(), {}, {}, "Couldn't sign in — try again.", true);
    }
    void providerSignIn()
    {
        QFETCH(QString, state);
        QFETCH(QString, code);
        QFETCH(Reply, tokenReply);
        QFETCH(QString, key);
        QFETCH(QVariant, balance);
        QFETCH(QString, error);
        QFETCH(bool, exchanged);

        AccountRig rig;
        rig.keychain.set(QStringLiteral("tq-old"), AccountService::kOAuthKeyAccount);
        rig.providerServer.on("GET", "/v1/auth/authorize",
            [=](const FakeHttpServer::Request& request) { return authorizePage(request, state, code); });
        rig.providerServer.on("POST", "/v1/auth/token", tokenReply);
        AccountService& account = rig.start();
        LogCapture log;
        QVERIFY(finishes([&](auto done) { account.signInWithTessra(done); }));
        QVERIFY(!account.tessraSigningIn());

        const auto authorize = rig.providerServer.requestsTo("GET", "/v1/auth/authorize").first();
        QStringList names;
        for (const auto& item : authorize.queryItems())
            names.append(item.first);
        QCOMPARE(names,
            QStringList({ "client_id", "redirect_uri", "response_type", "code_challenge", "code_challenge_method",
                "state", "scope" }));
        QVERIFY(
            authorize.rawQuery().startsWith("client_id=quillet&redirect_uri=quillet://callback&response_type=code&"));
        QVERIFY(authorize.rawQuery().endsWith("&code_challenge_method=S256&state="
            + authorize.queryItems()[5].second.toUtf8() + "&scope=openid%20email"));
        const QString challenge = authorize.queryItems()[3].second;
        QCOMPARE(challenge.size(), 43);
        QCOMPARE(authorize.queryItems()[5].second.size(), 43);

        const auto tokenRequests = rig.providerServer.requestsTo("POST", "/v1/auth/token");
        QCOMPARE(!tokenRequests.isEmpty(), exchanged);
        if (exchanged) {
            const auto sent = tokenRequests.first();
            const auto form = sent.formItems();
            QCOMPARE(form.size(), 5);
            QCOMPARE(form[0], std::pair(QStringLiteral("grant_type"), QStringLiteral("authorization_code")));
            QCOMPARE(form[1], std::pair(QStringLiteral("code"), code));
            QCOMPARE(form[2].first, QStringLiteral("code_verifier"));
            QCOMPARE(form[2].second.size(), 86);
            QCOMPARE(form[3], std::pair(QStringLiteral("client_id"), QStringLiteral("quillet")));
            QCOMPARE(form[4], std::pair(QStringLiteral("redirect_uri"), QStringLiteral("quillet://callback")));
            const QByteArray hash = QCryptographicHash::hash(form[2].second.toUtf8(), QCryptographicHash::Sha256);
            QCOMPARE(challenge,
                QString::fromLatin1(hash.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)));
            QVERIFY(!sent.hasHeader("Authorization"));
            QCOMPARE(sent.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        }

        QCOMPARE(account.flowError(), error.isNull() ? std::nullopt : std::optional(error));
        const QString expectedKey = key.isNull() ? QStringLiteral("tq-old") : key;
        QCOMPARE(account.tessraKey(), std::optional(expectedKey));
        QCOMPARE(rig.stored(AccountService::kOAuthKeyAccount), std::optional(expectedKey));
        if (key.isNull())
            return;
        QCOMPARE(account.tessraEmail(), std::optional(QStringLiteral("p@x.com")));
        QCOMPARE(rig.stored(AccountService::kOAuthEmailAccount), std::optional(QStringLiteral("p@x.com")));
        QCOMPARE(account.tessraBalance(), balance.isValid() ? std::optional(balance.toDouble()) : std::nullopt);
        QVERIFY(log.contains(QStringLiteral("[Quillet] Signed in with Tessra as p@x.com")));
        QCOMPARE(account.modelCredentials()->token, key);
    }

    // A sign-in whose browser page is never answered ends as cancelled after ten minutes,
    // quietly, keeping the earlier key.
    void providerSignInTimesOut()
    {
        AccountRig rig;
        rig.keychain.set(QStringLiteral("tq-old"), AccountService::kOAuthKeyAccount);
        rig.browser.follow = false;
        AccountService& account = rig.start();
        bool done = false;
        account.signInWithTessra([&] { done = true; });
        QVERIFY(account.tessraSigningIn());
        rig.clock.advanceMs(10 * 60'000);
        QTRY_VERIFY(done);
        QVERIFY(!account.tessraSigningIn());
        QVERIFY(!account.flowError());
        QCOMPARE(account.tessraKey(), std::optional(QStringLiteral("tq-old")));
        QCOMPARE(rig.providerServer.requestCount(), 0);
    }

    // Starting again ends the first sign-in quietly; only the second clears the busy flag.
    void secondProviderSignInReplacesFirst()
    {
        AccountRig rig;
        rig.browser.follow = false;
        rig.providerServer.on("POST", "/v1/auth/token", Reply::json(200, R"({"api_key":"tq-2","email":"p@x.com"})"));
        AccountService& account = rig.start();
        bool firstDone = false;
        bool secondDone = false;
        account.signInWithTessra([&] { firstDone = true; });
        account.setFlowError(QStringLiteral("stale"));
        account.signInWithTessra([&] { secondDone = true; });
        QVERIFY(firstDone);
        QVERIFY(!secondDone);
        QVERIFY(account.tessraSigningIn());
        QVERIFY(!account.flowError());

        const QUrlQuery opened(rig.browser.opened.at(1));
        rig.router.route(QUrl(QStringLiteral("quillet://callback?code=c-2&state=")
            + opened.queryItemValue(QStringLiteral("state"), QUrl::FullyEncoded)));
        QTRY_VERIFY(secondDone);
        QVERIFY(!account.tessraSigningIn());
        QCOMPARE(account.tessraKey(), std::optional(QStringLiteral("tq-2")));
    }

    // After signing in every way, no secret is in the log or the settings file.
    void secretsStayOutOfLogAndSettings()
    {
        AccountRig rig;
        rig.settings.set(SettingsKeys::legacyTessraKey, QStringLiteral("tq-legacy-5e1"));
        rig.settings.set(SettingsKeys::quilletCloudBase, rig.cloudServer.url().toString());
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify", Reply::json(200, kVerified));
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, kAccount));
        rig.providerServer.on("GET", "/v1/auth/authorize", [](const FakeHttpServer::Request& request) {
            return authorizePage(request, QString(), QStringLiteral("code-77a"));
        });
        rig.providerServer.on(
            "POST", "/v1/auth/token", Reply::json(200, R"({"api_key":"tq-oauth-3d9","email":"p@x.com"})"));
        rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":4})"));
        LogCapture log;
        AccountService& account = rig.start();
        QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("ann@example.com"), done); }));
        // The link reaches the running instance from a second process over the router's socket.
        const QString socketName = rig.dir.filePath(QStringLiteral("urls"));
        QVERIFY(rig.router.listen(socketName));
        bool forwarded = false;
        std::thread secondProcess([&] {
            forwarded = UrlRouter::forwardToRunningInstance(
                            QUrl(QStringLiteral("quillet://auth?token=link-4b1")), {}, socketName)
                == UrlRouter::HandOver::Accepted;
        });
        QTRY_VERIFY(account.account().has_value());
        secondProcess.join();
        QVERIFY(forwarded);
        QCOMPARE(
            rig.cloudServer.requestsTo("POST", "/v1/auth/verify").first().body, QByteArray(R"({"token":"link-4b1"})"));
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount), std::optional(QStringLiteral("sess-9f2c")));
        QVERIFY(finishes([&](auto done) { account.signInWithTessra(done); }));
        account.setByoKey(QStringLiteral("tq-own-8c2"));
        QVERIFY(finishes([&](auto done) { account.refresh(done); }));
        QCOMPARE(account.tessraKey(), std::optional(QStringLiteral("tq-oauth-3d9")));
        rig.settings.sync();

        QFile file(rig.settings.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString stored = QString::fromUtf8(file.readAll());
        const QString logged = log.lines().join(QLatin1Char('\n'));
        QVERIFY(!logged.isEmpty());
        for (const char* secret :
            { "tq-legacy-5e1", "sess-9f2c", "link-4b1", "code-77a", "tq-oauth-3d9", "tq-own-8c2" }) {
            QVERIFY2(!logged.contains(QLatin1String(secret)), secret);
            QVERIFY2(!stored.contains(QLatin1String(secret)), secret);
        }
    }
};

QUILLET_TEST_MAIN(TestSignIn)
#include "TestSignIn.moc"
