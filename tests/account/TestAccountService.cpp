#include "support/AccountRig.h"
#include "support/EmptyBus.h"
#include "support/TestMain.h"

#include <QProcess>
#include <QSignalSpy>

using Reply = FakeHttpServer::Reply;
using Kind = ModelCredentials::Kind;
using Secret = AccountService::Secret;
using Secrets = AccountService::Secrets;

namespace {

QByteArray accountJson(const QByteArray& email = "ann@example.com")
{
    return R"({"userId":"u-1","email":")" + email
        + R"(","emailOptIn":true,"usage":{"minutesUsed":10,"quotaMinutes":300,"resetsAt":1},)"
          R"("config":{"quotaMinutes":300,"analyticsEnabled":false,"analyticsFree":false}})";
}

// Set in the child that runs on a bus without a secret service.
constexpr char kNoKeyringChild[] = "QUILLET_TEST_NO_KEYRING_CHILD";

const Reply kUnauthorized = Reply::json(401, R"({"error":{"code":"unauthorized","message":"Signed out"}})");

} // namespace

class TestAccountService final : public QObject
{
    Q_OBJECT

private slots:
    // Creation loads the keychain, moves a legacy own key out of the settings and writes a
    // stored own key back trimmed.
    void creation_data()
    {
        QTest::addColumn<QVariant>("legacy");
        QTest::addColumn<QString>("storedKey"); // null: no item
        QTest::addColumn<bool>("refuseWrites");
        QTest::addColumn<QString>("expectedByoKey");
        QTest::addColumn<QString>("expectedItem");
        QTest::addColumn<bool>("legacyRemains");

        const auto row = [](const char* name, const QVariant& legacy, const QString& storedKey, bool refuseWrites,
                             const QString& byoKey, const QString& item, bool legacyRemains) {
            QTest::newRow(name) << legacy << storedKey << refuseWrites << byoKey << item << legacyRemains;
        };
        row("legacy key moves", "tq-legacy ", {}, false, "tq-legacy ", "tq-legacy", false);
        row("empty legacy stays", "", {}, false, "", {}, true);
        row("refused legacy stays", "tq-legacy", {}, true, "", {}, true);
        row("item trimmed", {}, " tq-1\n", false, " tq-1\n", "tq-1", false);
        row("blank item deleted", {}, "  ", false, "  ", {}, false);
    }
    void creation()
    {
        QFETCH(QVariant, legacy);
        QFETCH(QString, storedKey);
        QFETCH(bool, refuseWrites);
        QFETCH(QString, expectedByoKey);
        QFETCH(QString, expectedItem);
        QFETCH(bool, legacyRemains);

        AccountRig rig;
        if (legacy.isValid())
            rig.settings.setValue(SettingsKeys::legacyTessraKey.key(), legacy);
        if (!storedKey.isNull())
            rig.keychain.set(storedKey, AccountService::kByoKeyAccount);
        rig.keyring.refuseWrites = refuseWrites;
        LogCapture log;
        AccountService& account = rig.start();

        QCOMPARE(account.byoKey(), expectedByoKey);
        QCOMPARE(rig.stored(AccountService::kByoKeyAccount),
            expectedItem.isNull() ? std::nullopt : std::optional(expectedItem));
        QCOMPARE(rig.settings.contains(SettingsKeys::legacyTessraKey), legacyRemains);
        const bool migrated = legacy.isValid() && !legacyRemains;
        QCOMPARE(log.lines().count(QStringLiteral("[Quillet] Migrated Tessra key from UserDefaults to Keychain")),
            migrated ? 1 : 0);
    }

    // A key the keyring refuses still works for this run, and the service says so until a key
    // is kept or none is left to keep; the refusal is logged once, not at every keystroke. A
    // key that was kept comes back at the next start.
    void ownKeyTheKeyringRefusesIsSaid()
    {
        AccountRig rig;
        rig.keyring.refuseWrites = true;
        {
            AccountService& account = rig.start();
            QSignalSpy unkept(&account, &AccountService::unkeptSecretsChanged);
            LogCapture log;
            account.setByoKey(QStringLiteral("tq-1"));
            QCOMPARE(account.unkeptSecrets(), Secrets(Secret::ownKey));
            QCOMPARE(account.modelCredentials()->kind, Kind::ownKey);
            account.setByoKey(QStringLiteral("tq-12"));
            account.setByoKey(QStringLiteral("tq-123"));
            QCOMPARE(log.lines().filter(QStringLiteral("Keychain write failed for tessra-byo-key")).size(), 1);
            rig.keyring.refuseWrites = false;
            account.setByoKey(QStringLiteral("tq-2 "));
            QCOMPARE(account.unkeptSecrets(), Secrets());
            QCOMPARE(unkept.count(), 2);
        }
        // The trimmed write-back of a kept key, refused, leaves the key kept.
        rig.keyring.refuseWrites = true;
        AccountService& again = rig.start();
        QCOMPARE(again.byoKey(), QStringLiteral("tq-2"));
        QCOMPARE(again.unkeptSecrets(), Secrets());
    }

    // On a session bus with no secret service on it, as on a desktop without a keyring: the
    // real keychain fails, and the key is said to last this run only. Run again in a child of
    // this program, on a bus of its own.
    void ownKeyWithoutAnyKeyring()
    {
        if (qEnvironmentVariableIsSet(kNoKeyringChild)) {
            AccountRig rig;
            AccountService& account = rig.start();
            account.setByoKey(QStringLiteral("tq-1"));
            QCOMPARE(account.byoKey(), QStringLiteral("tq-1"));
            QCOMPARE(account.unkeptSecrets(), Secrets(Secret::ownKey));
            return;
        }
        EmptyBus bus;
        QVERIFY(bus.start());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        environment.insert(QLatin1String(kNoKeyringChild), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("ownKeyWithoutAnyKeyring") });
        QVERIFY(child.waitForFinished(120'000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestAccountService::ownKeyWithoutAnyKeyring()"), output.constData());
    }

    // What a refresh does with each kind of answer to "/v1/me", after a first good one.
    void refresh_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("dropsSession");
        QTest::addColumn<QString>("logLine");

        QTest::newRow("unauthorized 401") << kUnauthorized << true << QString();
        QTest::newRow("unauthorized 403")
            << Reply::json(403, R"({"error":{"code":"unauthorized","message":"x"}})") << true << QString();
        QTest::newRow("401 html page") << Reply::text(401, "<html>401</html>") << false
                                       << "[Quillet] Account refresh failed: Quillet Cloud error (401)";
        QTest::newRow("other api error") << Reply::json(500, R"({"error":{"code":"down","message":"Try later"}})")
                                         << false << "[Quillet] Account refresh failed: Try later";
        QTest::newRow("malformed") << Reply::json(200, "{}") << false
                                   << "[Quillet] Account refresh failed: Unexpected response from Quillet Cloud";
        QTest::newRow("dropped connection") << Reply::dropped() << false << "[Quillet] Account refresh failed: ";
    }
    void refresh()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, dropsSession);
        QFETCH(QString, logLine);

        AccountRig rig;
        rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
        rig.keychain.set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount);
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, accountJson()));
        rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":3})"));
        AccountService& account = rig.start();
        QVERIFY(finishes([&](auto done) { account.refresh(done); }));
        QCOMPARE(account.account()->email, QStringLiteral("ann@example.com"));
        QCOMPARE(rig.providerServer.requests().first().header("Authorization"), QByteArray("Bearer tq-oauth"));
        QCOMPARE(rig.cloudServer.requests().first().header("Authorization"), QByteArray("Bearer s-1"));

        rig.cloudServer.on("GET", "/v1/me", reply);
        LogCapture log;
        QVERIFY(finishes([&](auto done) { account.refresh(done); }));
        QCOMPARE(account.sessionToken().has_value(), !dropsSession);
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount).has_value(), !dropsSession);
        QCOMPARE(account.account().has_value(), !dropsSession);
        QCOMPARE(account.needsReauth(), dropsSession);
        QCOMPARE(account.tessraKey(), std::optional(QStringLiteral("tq-oauth")));
        if (logLine.isEmpty())
            QVERIFY(log.lines().filter(QStringLiteral("Account refresh")).isEmpty());
        else
            QVERIFY2(log.containsPart(logLine), qPrintable(log.lines().join('\n')));
    }

    void balance_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<double>("expected");
        QTest::newRow("number") << Reply::json(200, R"({"balance":12.5})") << 12.5;
        QTest::newRow("text") << Reply::json(200, R"({"balance":"12.5"})") << 3.0;
        QTest::newRow("refused") << Reply::json(401, R"({"balance":12.5})") << 3.0;
    }
    void balance()
    {
        QFETCH(Reply, reply);
        QFETCH(double, expected);
        AccountRig rig;
        rig.keychain.set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount);
        rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":3})"));
        AccountService& account = rig.start();
        QVERIFY(finishes([&](auto done) { account.refreshTessraBalance(done); }));
        rig.providerServer.on("GET", "/v1/credits/balance", reply);
        QVERIFY(finishes([&](auto done) { account.refreshTessraBalance(done); }));
        QCOMPARE(account.tessraBalance(), std::optional(expected));
        // Without a session only the balance is read.
        QCOMPARE(rig.cloudServer.requestCount(), 0);
    }

    // Sign-out ends the local session whatever the server answers; the own key stays.
    void signOut_data()
    {
        QTest::addColumn<bool>("withSession");
        QTest::addColumn<Reply>("reply");
        QTest::newRow("server agrees") << true << Reply::json(200, "{}");
        QTest::newRow("server fails") << true << Reply::text(502, "bad gateway");
        QTest::newRow("server unreachable") << true << Reply::dropped();
        QTest::newRow("provider sign-in only") << false << Reply::json(200, "{}");
    }
    void signOut()
    {
        QFETCH(bool, withSession);
        QFETCH(Reply, reply);
        AccountRig rig;
        if (withSession)
            rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
        rig.keychain.set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount);
        rig.keychain.set(QStringLiteral("p@example.com"), AccountService::kOAuthEmailAccount);
        rig.keychain.set(QStringLiteral("tq-own"), AccountService::kByoKeyAccount);
        rig.cloudServer.on("POST", "/v1/auth/signout", reply);
        AccountService& account = rig.start();
        LogCapture log;
        QVERIFY(finishes([&](auto done) { account.signOut(done); }));

        QVERIFY(!account.isSignedIn());
        QVERIFY(!account.tessraEmail() && !account.tessraBalance() && !account.account());
        for (const QString& item : { AccountService::kSessionTokenAccount, AccountService::kOAuthKeyAccount,
                 AccountService::kOAuthEmailAccount })
            QVERIFY2(!rig.stored(item), qPrintable(item));
        QCOMPARE(rig.stored(AccountService::kByoKeyAccount), std::optional(QStringLiteral("tq-own")));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Signed out")));
        QCOMPARE(rig.cloudServer.requestCount() > 0, withSession);
        if (withSession) {
            const auto sent = rig.cloudServer.requests().first();
            QCOMPARE(sent.header("Authorization"), QByteArray("Bearer s-1"));
            QCOMPARE(sent.body, QByteArray("{}"));
        }
    }

    void modelCredentials_data()
    {
        QTest::addColumn<QString>("byoKey");
        QTest::addColumn<QString>("oauthKey");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("token"); // null: no credentials
        QTest::addColumn<Kind>("kind");

        const auto row = [](const char* name, const QString& byoKey, const QString& oauthKey, const QString& session,
                             const QString& token,
                             Kind kind) { QTest::newRow(name) << byoKey << oauthKey << session << token << kind; };
        row("own key wins, trimmed", " tq-own \n", "tq-oauth", "s-1", "tq-own", Kind::ownKey);
        row("blank own key", " \n", "tq-oauth", "s-1", "tq-oauth", Kind::providerSignIn);
        row("provider key untrimmed", "", " tq-oauth", "s-1", " tq-oauth", Kind::providerSignIn);
        row("session only", "", {}, "s-1", "s-1", Kind::account);
        row("nothing", "", {}, {}, {}, Kind::ownKey);
    }
    void modelCredentials()
    {
        QFETCH(QString, byoKey);
        QFETCH(QString, oauthKey);
        QFETCH(QString, session);
        QFETCH(QString, token);
        QFETCH(Kind, kind);
        const bool viaAccount = kind == Kind::account;
        AccountRig rig;
        rig.keychain.set(QStringLiteral("tq-old"), AccountService::kByoKeyAccount);
        if (!oauthKey.isNull())
            rig.keychain.set(oauthKey, AccountService::kOAuthKeyAccount);
        if (!session.isNull())
            rig.keychain.set(session, AccountService::kSessionTokenAccount);
        AccountService& account = rig.start();
        account.setByoKey(byoKey);
        // The keychain keeps the own key trimmed, and no item for a blank one.
        const QString trimmedKey = byoKey.trimmed();
        QCOMPARE(rig.stored(AccountService::kByoKeyAccount),
            trimmedKey.isEmpty() ? std::nullopt : std::optional(trimmedKey));

        const std::optional<ModelCredentials> credentials = account.modelCredentials();
        QCOMPARE(credentials.has_value(), !token.isNull());
        if (!credentials)
            return;
        QCOMPARE(credentials->token, token);
        QCOMPARE(credentials->kind, kind);
        QCOMPARE(credentials->viaAccount(), viaAccount);
        QCOMPARE(credentials->baseUrl, viaAccount ? rig.cloudServer.url() : rig.endpoints.providerApi);
        if (viaAccount) {
            // The cloud base is read at each call.
            rig.settings.set(SettingsKeys::quilletCloudBase, QStringLiteral("https://cloud.example/api"));
            QCOMPARE(account.modelCredentials()->baseUrl, QUrl(QStringLiteral("https://cloud.example/api")));
        }
    }

    void allowance_data()
    {
        QTest::addColumn<double>("quota");
        QTest::addColumn<double>("used");
        QTest::addColumn<QVariant>("unlimited");
        QTest::addColumn<bool>("exhausted");
        QTest::newRow("no quota") << 0.0 << 500.0 << QVariant() << false;
        QTest::newRow("used up") << 300.0 << 300.0 << QVariant() << true;
        QTest::newRow("half a minute left") << 300.0 << 299.5 << QVariant() << false;
        QTest::newRow("unlimited") << 300.0 << 400.0 << QVariant(true) << false;
        QTest::newRow("unlimited false") << 300.0 << 400.0 << QVariant(false) << true;
        QTest::newRow("quota not a number") << qQNaN() << 400.0 << QVariant() << false;
        QTest::newRow("usage not a number") << 300.0 << qQNaN() << QVariant() << false;
    }
    void allowance()
    {
        QFETCH(double, quota);
        QFETCH(double, used);
        QFETCH(QVariant, unlimited);
        QFETCH(bool, exhausted);
        QuilletCloud::AccountInfo info;
        info.usage.quotaMinutes = quota;
        info.usage.minutesUsed = used;
        if (unlimited.isValid())
            info.usage.unlimited = unlimited.toBool();
        QCOMPARE(AccountService::allowanceExhausted(info), exhausted);
        QVERIFY(!AccountService::allowanceExhausted(std::nullopt));
    }

    // An "unauthorized" answer for an old session must not wipe the session that replaced it.
    void staleUnauthorizedKeepsNewSession()
    {
        AccountRig rig;
        rig.keychain.set(QStringLiteral("s-old"), AccountService::kSessionTokenAccount);
        rig.cloudServer.on("GET", "/v1/me", [](const FakeHttpServer::Request& request) {
            return request.header("Authorization") == "Bearer s-old" ? kUnauthorized : Reply::json(200, accountJson());
        });
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify",
            Reply::json(200, R"({"sessionToken":"s-new","userId":"u-1","email":"ann@example.com"})"));
        rig.cloudServer.hold("GET", "/v1/me");
        AccountService& account = rig.start();
        bool oldRefreshDone = false;
        account.refresh([&] { oldRefreshDone = true; });
        QTRY_COMPARE(rig.cloudServer.heldCount(), 1);

        QVERIFY(finishes([&](auto done) { account.sendSignInEmail(QStringLiteral("ann@example.com"), done); }));
        account.verifyCode(QStringLiteral("123456"));
        QTRY_COMPARE(account.sessionToken(), std::optional(QStringLiteral("s-new")));
        QTRY_COMPARE(rig.cloudServer.heldCount(), 2); // the refresh after signing in
        rig.cloudServer.release("GET", "/v1/me");

        QTRY_VERIFY(oldRefreshDone);
        QTRY_VERIFY(account.account().has_value());
        QCOMPARE(account.sessionToken(), std::optional(QStringLiteral("s-new")));
        QCOMPARE(rig.stored(AccountService::kSessionTokenAccount), std::optional(QStringLiteral("s-new")));
        QVERIFY(!account.needsReauth());
    }

    // Late answers after sign-out bring back neither the account nor the balance.
    void lateAnswerAfterSignOut_data()
    {
        QTest::addColumn<bool>("balance");
        QTest::newRow("account record") << false;
        QTest::newRow("balance") << true;
    }
    void lateAnswerAfterSignOut()
    {
        QFETCH(bool, balance);
        AccountRig rig;
        rig.keychain.set(QStringLiteral("secret-1"),
            balance ? AccountService::kOAuthKeyAccount : AccountService::kSessionTokenAccount);
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, accountJson()));
        rig.cloudServer.on("POST", "/v1/auth/signout", Reply::json(200, "{}"));
        rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":50})"));
        FakeHttpServer& server = balance ? rig.providerServer : rig.cloudServer;
        const QByteArray path = balance ? "/v1/credits/balance" : "/v1/me";
        server.hold("GET", path);
        AccountService& account = rig.start();
        bool refreshed = false;
        account.refresh([&] { refreshed = true; });
        QTRY_COMPARE(server.heldCount(), 1);
        QVERIFY(finishes([&](auto done) { account.signOut(done); }));
        server.release("GET", path);

        QTRY_VERIFY(refreshed);
        QVERIFY(!account.tessraBalance());
        QVERIFY(!account.account());
        QVERIFY(!account.isSignedIn());
    }
};

QUILLET_TEST_MAIN(TestAccountService)
#include "TestAccountService.moc"
