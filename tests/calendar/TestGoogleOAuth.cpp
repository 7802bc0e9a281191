#include "platform/Log.h"
#include "support/AppRig.h"
#include "support/TestMain.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>

using Reply = FakeHttpServer::Reply;
using Request = FakeHttpServer::Request;

namespace {

const QString kScheme = QStringLiteral("com.googleusercontent.apps.1234-quillettest");
const QByteArray kTokens = R"({"access_token":"at-55c2","expires_in":3599,"refresh_token":"rt-7a91",)"
                           R"("token_type":"Bearer","scope":"openid email"})";
const QByteArray kUser = R"({"sub":"sub-1","email":"ann@example.com","email_verified":true})";

QString itemValue(const QList<std::pair<QString, QString>>& items, const QString& name)
{
    for (const auto& [key, value] : items)
        if (key == name)
            return value;
    return {};
}

// Google's consent page: sends the browser back to the redirect URI with a code and the state
// it was given, or with what the test asks for instead (a query of its own, "%1" standing
// for the state that was sent).
FakeHttpServer::Handler consentPage(const QString& query = QStringLiteral("state=%1&code=code-5f3e"))
{
    return [query](const Request& request) {
        const QString state = itemValue(request.queryItems(), QStringLiteral("state"));
        const QString back = kScheme + QStringLiteral(":/oauth2redirect");
        return Reply::redirect(QUrl(
            query.isEmpty() ? back : back + QLatin1Char('?') + QString(query).replace(QLatin1String("%1"), state)));
    };
}

QByteArray sha256Url(const QString& text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Runs connect() to its end.
bool connects(AppRig& rig)
{
    bool done = false;
    rig->google().connect([&done] { done = true; });
    return QTest::qWaitFor([&] { return done; }, 20000);
}

} // namespace

class TestGoogleOAuth final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_runtime;

private slots:
    void initTestCase()
    {
        // The URL socket lives in the runtime folder: one of this program's own, so that no
        // other test program that listens there is reached.
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }

    // From the browser to the stored account, with the redirect coming back from a second
    // process as the desktop would start it.
    void signInEndToEnd()
    {
        AppRig rig({ .realKeyring = true, .googleClientSecret = QStringLiteral("cs-0d4e") });
        QVERIFY(rig->router().listen());
        QProcess secondProcess;
        rig.browser.follow = true;
        rig.browser.setHandOver([&](const QUrl& url) {
            secondProcess.start(QStringLiteral(QUILLET_URL_FORWARD_HELPER),
                { QStringLiteral("--redirect-scheme=") + kScheme, url.toString(QUrl::FullyEncoded) });
        });
        rig.google.on("GET", "/o/oauth2/v2/auth", consentPage());
        rig.google.on("POST", "/token", Reply::json(200, kTokens));
        rig.google.on("GET", "/v1/userinfo", Reply::json(200, kUser));
        rig.google.on("GET", "/calendar/v3/users/me/calendarList",
            Reply::json(200, R"({"items":[{"id":"team@x"},{"id":"ann@example.com","primary":true,"summary":"Ann"}]})"));
        LogCapture log;
        QVERIFY(connects(rig));
        QTRY_COMPARE(secondProcess.state(), QProcess::NotRunning);
        QCOMPARE(secondProcess.exitCode(), 0);
        QCOMPARE(rig->google().lastError(), std::nullopt);
        QVERIFY(!rig->google().isConnecting());

        const Request consent = rig.google.requestsTo("GET", "/o/oauth2/v2/auth").first();
        QStringList names;
        for (const auto& item : consent.queryItems())
            names.append(item.first);
        QCOMPARE(names,
            QStringList({ "response_type", "client_id", "redirect_uri", "scope", "state", "code_challenge",
                "code_challenge_method", "access_type", "prompt" }));
        QVERIFY(
            consent.rawQuery().startsWith("response_type=code&client_id=1234-quillettest.apps.googleusercontent.com"
                                          "&redirect_uri=com.googleusercontent.apps.1234-quillettest:/oauth2redirect"
                                          "&scope=https://www.googleapis.com/auth/calendar.readonly%20openid%20email"
                                          "&state="));
        QVERIFY(consent.rawQuery().endsWith("&code_challenge_method=S256&access_type=offline&prompt=consent"));
        const QString state = itemValue(consent.queryItems(), QStringLiteral("state"));
        const QString challenge = itemValue(consent.queryItems(), QStringLiteral("code_challenge"));
        QCOMPARE(state.size(), 86);
        QCOMPARE(challenge.size(), 43);

        const Request token = rig.google.requestsTo("POST", "/token").first();
        const auto form = token.formItems();
        QCOMPARE(form.size(), 6);
        QCOMPARE(itemValue(form, "client_id"), QStringLiteral("1234-quillettest.apps.googleusercontent.com"));
        QCOMPARE(itemValue(form, "code"), QStringLiteral("code-5f3e"));
        QCOMPARE(itemValue(form, "grant_type"), QStringLiteral("authorization_code"));
        QCOMPARE(itemValue(form, "redirect_uri"), kScheme + QStringLiteral(":/oauth2redirect"));
        QCOMPARE(itemValue(form, "client_secret"), QStringLiteral("cs-0d4e"));
        QCOMPARE(sha256Url(itemValue(form, "code_verifier")), challenge.toLatin1());
        QVERIFY(token.body.contains("redirect_uri=com.googleusercontent.apps.1234-quillettest%3A%2Foauth2redirect"));
        QVERIFY(!token.hasHeader("Authorization"));
        QCOMPARE(token.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(
            rig.google.requestsTo("GET", "/v1/userinfo").first().header("Authorization"), QByteArray("Bearer at-55c2"));
        QCOMPARE(rig.google.requestsTo("GET", "/calendar/v3/users/me/calendarList").first().header("Authorization"),
            QByteArray("Bearer at-55c2"));

        // Stored: the refresh token in the keyring, the account (primary calendar chosen) in the
        // settings; the calendar list in memory.
        QCOMPARE(
            rig->keychain().string(QStringLiteral("google-refresh-sub-1")), std::optional(QStringLiteral("rt-7a91")));
        QCOMPARE(rig->settings().get(SettingsKeys::googleAccounts),
            QStringLiteral(R"([{"email":"ann@example.com","selectedCalendarIds":["ann@example.com"],"sub":"sub-1"}])"));
        QCOMPARE(rig->google().calendarsByAccount().value("sub-1").size(), 2);
        QCOMPARE(rig.restart().google().accounts(),
            (QList<GoogleCalendarService::ConnectedAccount> { { "sub-1", "ann@example.com", { "ann@example.com" } } }));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Opened URL ") + kScheme + QLatin1Char(':')));

        // No secret in the log or the settings file.
        rig->settings().sync();
        QFile file(rig->settings().filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString stored = QString::fromUtf8(file.readAll());
        const QString logged = log.lines().join(QLatin1Char('\n'));
        for (const char* secret : { "rt-7a91", "at-55c2", "code-5f3e", "cs-0d4e" }) {
            QVERIFY2(!logged.contains(QLatin1String(secret)), secret);
            QVERIFY2(!stored.contains(QLatin1String(secret)), secret);
        }
        rig->google().disconnect(rig->google().accounts().first());
        QCOMPARE(rig->keychain().string(QStringLiteral("google-refresh-sub-1")), std::nullopt);
    }

    // The primary calendar is chosen, else the first, else none.
    void firstSelection_data()
    {
        QTest::addColumn<QByteArray>("calendars");
        QTest::addColumn<QStringList>("selection");
        QTest::newRow("primary later") << QByteArray(R"({"items":[{"id":"a"},{"id":"b","primary":true}]})")
                                       << QStringList { "b" };
        QTest::newRow("primary false") << QByteArray(R"({"items":[{"id":"a","primary":false},{"id":"b"}]})")
                                       << QStringList { "a" };
        QTest::newRow("none") << QByteArray(R"({"items":[]})") << QStringList {};
        QTest::newRow("list fails") << QByteArray("oops") << QStringList {};
    }
    void firstSelection()
    {
        QFETCH(QByteArray, calendars);
        QFETCH(QStringList, selection);
        AppRig rig;
        rig.browser.follow = true;
        rig.google.on("GET", "/o/oauth2/v2/auth", consentPage());
        rig.google.on("POST", "/token", Reply::json(200, kTokens));
        rig.google.on("GET", "/v1/userinfo", Reply::json(200, R"({"sub":"sub-1"})"));
        rig.google.on("GET", "/calendar/v3/users/me/calendarList", Reply::json(200, calendars));
        QVERIFY(connects(rig));
        // Without an e-mail the account is listed under its sub.
        QCOMPARE(rig->google().accounts(),
            (QList<GoogleCalendarService::ConnectedAccount> { { "sub-1", "sub-1", selection } }));
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("clientId");
        QTest::addColumn<bool>("refuse"); // the browser cannot be opened
        QTest::addColumn<QString>("redirect"); // the consent page's redirect query, "%1": the state
        QTest::addColumn<Reply>("token");
        QTest::addColumn<Reply>("user");
        QTest::addColumn<QString>("error"); // null: none; "*": the network's own text
        QTest::addColumn<bool>("exchanged");

        const QString id = AppRig::kGoogleClientId;
        const QString good = QStringLiteral("state=%1&code=code-5f3e");
        const Reply tokens = Reply::json(200, kTokens);
        const Reply user = Reply::json(200, kUser);
        const auto row = [](const char* name, const QString& clientId, bool refuse, const QString& redirect,
                             const Reply& token, const Reply& user, const QString& error, bool exchanged) {
            QTest::newRow(name) << clientId << refuse << redirect << token << user << error << exchanged;
        };
        row("not configured", "", false, good, tokens, user, "Google isn't set up yet — add the OAuth Client ID first.",
            false);
        row("only dots", "...", false, good, tokens, user, "Google isn't set up yet — add the OAuth Client ID first.",
            false);
        row("browser refused", id, true, good, tokens, user, "No web browser could be opened for the Google sign-in.",
            false);
        row("wrong state", id, false, "state=forged&code=c", tokens, user, "Google sign-in failed a security check.",
            false);
        row("no state", id, false, "code=c", tokens, user, "Google sign-in failed a security check.", false);
        row("no query", id, false, "", tokens, user, "Google didn't return an authorization code.", false);
        row("error with the right state", id, false, "error=access_denied&state=%1", tokens, user,
            "Google didn't return an authorization code.", false);
        row("400 with a JSON body", id, false, good,
            Reply::json(400, R"({"error":"invalid_grant","error_description":"Bad Request"})"), user,
            R"(Google token exchange failed: {"error":"invalid_grant","error_description":"Bad Request"})", true);
        row("not UTF-8", id, false, good, Reply::json(500, "\xc3\x28"), user,
            "Google token exchange failed: unknown error", true);
        row("expires_in as text", id, false, good,
            Reply::json(200, R"({"access_token":"a","expires_in":"3599","refresh_token":"r"})"), user,
            "Google token exchange failed: bad token response", true);
        row("expires_in not whole", id, false, good,
            Reply::json(200, R"({"access_token":"a","expires_in":1.5,"refresh_token":"r"})"), user,
            "Google token exchange failed: bad token response", true);
        row("userinfo fails", id, false, good, tokens, Reply::json(500, kUser),
            "Google token exchange failed: couldn't read Google account", true);
        row("userinfo without sub", id, false, good, tokens, Reply::json(200, R"({"email":"a@b.c"})"),
            "Google token exchange failed: couldn't read Google account", true);
        row("no refresh token", id, false, good, Reply::json(200, R"({"access_token":"a","expires_in":3599})"), user,
            "Google didn't return a refresh token — try connecting again.", true);
        row("dropped", id, false, good, Reply::dropped(), user, "*", true);
    }
    void outcomes()
    {
        QFETCH(QString, clientId);
        QFETCH(bool, refuse);
        QFETCH(QString, redirect);
        QFETCH(Reply, token);
        QFETCH(Reply, user);
        QFETCH(QString, error);
        QFETCH(bool, exchanged);

        AppRig rig({ .googleClientId = clientId });
        rig.browser.follow = true;
        rig.browser.refuse = refuse;
        rig.google.on("GET", "/o/oauth2/v2/auth", consentPage(redirect));
        rig.google.on("POST", "/token", token);
        rig.google.on("GET", "/v1/userinfo", user);
        QSignalSpy connecting(&rig->google(), &GoogleCalendarService::isConnectingChanged);
        QVERIFY(connects(rig));

        if (clientId != AppRig::kGoogleClientId)
            QVERIFY(rig.browser.opened.isEmpty());
        if (clientId.isEmpty())
            QCOMPARE(connecting.size(), 0);
        if (error == QLatin1String("*"))
            QVERIFY(rig->google().lastError() && !rig->google().lastError()->startsWith(QLatin1String("Google")));
        else
            QCOMPARE(rig->google().lastError(), error.isNull() ? std::nullopt : std::optional(error));
        QVERIFY(!rig->google().isConnecting());
        const auto tokenRequests = rig.google.requestsTo("POST", "/token");
        QCOMPARE(!tokenRequests.isEmpty(), exchanged);
        // Without a secret configured none is sent.
        for (const Request& request : tokenRequests)
            QVERIFY(!request.body.contains("client_secret"));
        QVERIFY(rig->google().accounts().isEmpty());
        QCOMPARE(rig.secrets.itemCount(), 0);
        QVERIFY(!rig->settings().contains(SettingsKeys::googleAccounts));
    }

    // The first of two overlapping connections ends quietly; only the second ends the
    // connecting state.
    void secondConnectCancelsTheFirst()
    {
        AppRig rig;
        rig.google.on("POST", "/token", Reply::json(200, kTokens));
        rig.google.on("GET", "/v1/userinfo", Reply::json(200, kUser));
        rig.google.on("GET", "/calendar/v3/users/me/calendarList", Reply::json(200, R"({"items":[]})"));
        bool firstDone = false;
        bool secondDone = false;
        rig->google().connect([&] { firstDone = true; });
        rig->google().connect([&] { secondDone = true; });
        QVERIFY(firstDone);
        QVERIFY(!secondDone);
        QVERIFY(rig->google().isConnecting());
        QCOMPARE(rig->google().lastError(), std::nullopt);

        const QString state = QUrlQuery(rig.browser.opened.at(1)).queryItemValue(QStringLiteral("state"));
        rig->router().route(QUrl(kScheme + QStringLiteral(":/oauth2redirect?code=c&state=") + state));
        QTRY_VERIFY(secondDone);
        QVERIFY(!rig->google().isConnecting());
        QCOMPARE(rig->google().accounts().size(), 1);
        QCOMPARE(rig.google.requestsTo("POST", "/token").size(), 1);
    }

    // No redirect within ten minutes: the sign-in ends as cancelled, quietly.
    void tenMinuteLimit()
    {
        AppRig rig;
        rig->googleOAuth().setLimitCheckInterval(std::chrono::milliseconds(5));
        bool done = false;
        rig->google().connect([&] { done = true; });
        QVERIFY(rig->google().isConnecting());
        rig.clock.advanceMs(10 * 60'000);
        QTRY_VERIFY(done);
        QCOMPARE(rig->google().lastError(), std::nullopt);
        QVERIFY(!rig->google().isConnecting());
        QCOMPARE(rig.google.requestCount(), 0);
    }

    // A redirect that arrives while no sign-in waits is dropped; only its scheme is logged.
    void redirectWithoutSignInIsDropped()
    {
        AppRig rig;
        LogCapture log;
        rig->router().route(QUrl(kScheme + QStringLiteral(":/oauth2redirect?state=s&code=code-9")));
        QCOMPARE(log.lines(), QStringList { QStringLiteral("[Quillet] Opened URL ") + kScheme + QLatin1Char(':') });
        QCoreApplication::processEvents();
        QCOMPARE(rig.google.requestCount(), 0);
    }

    // The desktop entry declares the redirect scheme that the application computes.
    void desktopEntryDeclaresTheRedirectScheme()
    {
        QFile entry(QStringLiteral(QUILLET_DESKTOP_ENTRY));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QString expected = QStringLiteral("MimeType=x-scheme-handler/quillet;");
        if (const auto scheme = GoogleOAuth::Config::builtIn().redirectScheme())
            expected += QStringLiteral("x-scheme-handler/") + *scheme + QLatin1Char(';');
        QVERIFY(QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n')).contains(expected));
    }
};

QUILLET_TEST_MAIN(TestGoogleOAuth)
#include "TestGoogleOAuth.moc"
