#include "platform/Log.h"
#include "platform/UrlRouter.h"
#include "support/TestMain.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestUrlRouter final : public QObject
{
    Q_OBJECT

private:
    // Starts a second process with the arguments and returns its exit code.
    static int runSecondProcess(const QStringList& arguments)
    {
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(QStringLiteral(QUILLET_URL_FORWARD_HELPER), arguments);
        if (!finished.wait(30'000))
            return -1;
        return process.exitCode();
    }

private slots:
    void route_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("handler"); // "oauth", "open", "redirect" or "" (ignored)
        const auto row = [](const char* name, const char* url, const char* handler) {
            QTest::newRow(name) << QString::fromLatin1(url) << QString::fromLatin1(handler);
        };
        row("provider callback", "quillet://callback?code=xyz&state=s", "oauth");
        row("e-mail sign-in", "quillet://auth?token=abc", "open");
        row("no host", "quillet:auth", "open");
        row("web address", "https://callback/?token=abc", "");
        row("look-alike scheme", "quillet2://callback", "");
        row("redirect scheme", "com.example.app:/oauth2redirect?code=c&state=s", "redirect");
        row("redirect scheme with a host", "com.example.app://oauth2redirect?code=c", "redirect");
        row("look-alike redirect scheme", "com.example.apps:/oauth2redirect?code=c", "");
        row("empty", "", "");
    }
    void route()
    {
        QFETCH(QString, url);
        QFETCH(QString, handler);
        UrlRouter router;
        QStringList calls;
        router.setOAuthCallbackHandler([&](const QUrl& u) { calls << "oauth " + u.toString(); });
        router.setOpenUrlHandler([&](const QUrl& u) { calls << "open " + u.toString(); });
        router.addRedirectScheme(
            QStringLiteral("com.example.app"), [&](const QUrl& u) { calls << "redirect " + u.toString(); });
        router.route(QUrl(url));
        if (handler.isEmpty())
            QCOMPARE(calls, QStringList());
        else
            QCOMPARE(calls, QStringList { handler + ' ' + url });
    }

    void urlWithoutHandlerIsDroppedAndLogged()
    {
        UrlRouter router;
        LogCapture log;
        router.route(QUrl(QStringLiteral("quillet://callback?code=secret-code")));
        QCOMPARE(log.lines(),
            (QStringList {
                "[Quillet] Opened URL quillet://callback", "[Quillet] No handler for URL quillet://callback" }));
    }

    void argumentsGiveTheFirstQuilletUrl()
    {
        QCOMPARE(UrlRouter::urlFromArguments({ "quillet", "https://x.test/", "quillet://auth?token=t", "quillet://b" }),
            std::optional<QUrl>(QUrl("quillet://auth?token=t")));
        QCOMPARE(UrlRouter::urlFromArguments({ "quillet", "QUILLET://auth?token=t" }), std::nullopt);
        const QStringList redirects { QStringLiteral("com.example.app") };
        QCOMPARE(UrlRouter::urlFromArguments({ "quillet", "com.example.app:/oauth2redirect?code=c" }, redirects),
            std::optional<QUrl>(QUrl("com.example.app:/oauth2redirect?code=c")));
        QCOMPARE(UrlRouter::urlFromArguments({ "quillet", "COM.example.app:/oauth2redirect?code=c" }, redirects),
            std::nullopt);
        QCOMPARE(UrlRouter::urlFromArguments({ "quillet", "com.example.app:/oauth2redirect?code=c" }), std::nullopt);
        // Also when the caller already left out the program name.
        QCOMPARE(
            UrlRouter::urlFromArguments({ "quillet://callback" }), std::optional<QUrl>(QUrl("quillet://callback")));
    }

    void secondProcessHandsItsUrlToTheFirst()
    {
        UrlRouter router;
        QVERIFY(router.listen());
        UrlRouter second;
        QVERIFY(!second.listen()); // one instance listens; the first keeps receiving
        QList<QUrl> opened;
        router.setOpenUrlHandler([&](const QUrl& url) { opened.append(url); });
        QSignalSpy received(&router, &UrlRouter::urlReceived);
        QSignalSpy windowRequests(&router, &UrlRouter::mainWindowRequested);
        LogCapture log;

        QCOMPARE(runSecondProcess({ QStringLiteral("quillet://auth?token=abc") }), 0);
        QTRY_COMPARE(opened, QList<QUrl> { QUrl(QStringLiteral("quillet://auth?token=abc")) });
        QVERIFY(log.contains(QStringLiteral("[Quillet] Opened URL quillet://auth")));
        QVERIFY2(!log.containsPart(QStringLiteral("abc")) && !log.containsPart(QStringLiteral("token")),
            qPrintable(log.lines().join('\n')));

        QCOMPARE(windowRequests.size(), 0);

        // Without a "quillet:" URL the second start asks for the window and routes nothing.
        QCOMPARE(runSecondProcess({ QStringLiteral("https://auth.example.test/?token=abc") }), 0);
        QCOMPARE(runSecondProcess({}), 0);
        QTRY_COMPARE(windowRequests.size(), 2);
        QCOMPARE(received.size(), 1);

        // Whatever reaches the socket is checked again by the receiving side.
        QLocalSocket raw;
        raw.connectToServer(UrlRouter::defaultServerName());
        QVERIFY(raw.waitForConnected());
        raw.write("QUILLET://auth?token=abc\n");
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(opened.size(), 1);
    }

    // A line longer than a URL of ours is refused with an answer, and never cut and used; a
    // link at the limit still goes through.
    void overLongLineIsRefused()
    {
        UrlRouter router;
        QVERIFY(router.listen());
        QList<QUrl> opened;
        router.setOpenUrlHandler([&](const QUrl& url) { opened.append(url); });
        LogCapture log;
        const QString prefix = QStringLiteral("quillet://auth?token=");
        QCOMPARE(runSecondProcess({ prefix + QString(64 * 1024 - prefix.size(), QLatin1Char('a')) }), 0);
        QTRY_COMPARE(opened.size(), 1);
        QCOMPARE(runSecondProcess({ prefix + QString(100 * 1024, QLatin1Char('b')) }), 4);
        QVERIFY(log.contains(QStringLiteral("[Quillet] Refused a URL longer than 65536 bytes from another start")));
        QCOMPARE(opened.size(), 1);
    }

    // Connections that send no whole line within a few seconds are closed, so that they cannot
    // pile up; the instance goes on answering.
    void silentConnectionsAreClosed()
    {
        UrlRouter router;
        QVERIFY(router.listen());
        LogCapture log;
        QLocalSocket silent;
        QLocalSocket partial;
        for (QLocalSocket* socket : { &silent, &partial }) {
            socket->connectToServer(UrlRouter::defaultServerName());
            QVERIFY(socket->waitForConnected());
        }
        partial.write("quillet://auth?tok");
        QTRY_VERIFY_WITH_TIMEOUT(silent.state() == QLocalSocket::UnconnectedState, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(partial.state() == QLocalSocket::UnconnectedState, 60000);
        QVERIFY(log.contains(QStringLiteral("[Quillet] Closed a connection that sent no URL in time")));
        QCOMPARE(runSecondProcess({}), 0);
    }

    void socketLeftByACrashIsTakenOver()
    {
        // A socket file that nobody listens on any more, as a killed process leaves it.
        const QString name = UrlRouter::defaultServerName();
        QCOMPARE(UrlRouter::forwardToRunningInstance(QUrl(QStringLiteral("quillet://auth")), {}, name),
            UrlRouter::HandOver::NoAnswer);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray path = name.toLocal8Bit();
        QVERIFY(size_t(path.size()) < sizeof(address.sun_path));
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(name));

        UrlRouter router;
        QVERIFY(router.listen());
        QList<QUrl> opened;
        router.setOpenUrlHandler([&](const QUrl& url) { opened.append(url); });
        QCOMPARE(runSecondProcess({ QStringLiteral("quillet://auth?token=late") }), 0);
        QTRY_COMPARE(opened.size(), 1);
    }
};

QUILLET_TEST_MAIN(TestUrlRouter)
#include "TestUrlRouter.moc"
