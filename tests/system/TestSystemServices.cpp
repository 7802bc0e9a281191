#include "platform/AutostartEntry.h"
#include "platform/LibsecretStore.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "support/FakeHttpServer.h"
#include "support/FullDisk.h"
#include "support/InMemorySecretStore.h"
#include "support/TestMain.h"
#include "system/CustomDictionary.h"
#include "system/Keychain.h"
#include "system/LaunchAtLogin.h"
#include "system/UpdateChecker.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>

class TestSystemServices final : public QObject
{
    Q_OBJECT

private:
    // Account names unique to each run, so leftovers in the keyring never interfere.
    static QString freshAccount(const char* label)
    {
        return QStringLiteral("test-%1-%2")
            .arg(QLatin1String(label), QUuid::createUuid().toString(QUuid::WithoutBraces));
    }

    std::unique_ptr<Settings> freshSettings(const QStringList& words = {})
    {
        auto settings
            = std::make_unique<Settings>(m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".ini"));
        if (!words.isEmpty())
            settings->setValue(SettingsKeys::customDictionary.key(), words);
        return settings;
    }

    QTemporaryDir m_dir;

private slots:
    // The failure paths (no service, a service that never answers) are covered, with their
    // log line, by TestSecretServiceLimits.
    void keychainAgainstTheDesktopSecretService()
    {
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_ENV"))
            QSKIP("needs the test environment's unlocked keyring (scripts/with-test-env)");
        LibsecretStore store;
        Keychain keychain(store);
        LogCapture log;
        const QString account = freshAccount("session");

        QCOMPARE(keychain.string(account), std::nullopt);
        QVERIFY(keychain.set(QStringLiteral("tok-1 ünïcode"), account));
        QCOMPARE(keychain.string(account), QStringLiteral("tok-1 ünïcode"));
        // A second write replaces the data; no older item is left to be found first.
        QVERIFY(keychain.set(QStringLiteral("tok-2"), account));
        QCOMPARE(keychain.string(account), QStringLiteral("tok-2"));
        const QString other = freshAccount("other");
        QVERIFY(keychain.set(QStringLiteral("b"), other));
        keychain.remove(account);
        QCOMPARE(keychain.string(account), std::nullopt);
        QCOMPARE(keychain.string(other), QStringLiteral("b"));
        keychain.remove(other);
        keychain.remove(other); // absent: nothing happens
        QCOMPARE(keychain.string(other), std::nullopt);

        QVERIFY2(!log.containsPart(QStringLiteral("Keychain")), qPrintable(log.lines().join('\n')));
    }

    void keychainReadsOnlyValidUtf8()
    {
        InMemorySecretStore store;
        Keychain keychain(store);
        store.write(Keychain::kService, QStringLiteral("broken"), QByteArray("\xff\xfe tok", 6));
        QCOMPARE(keychain.string(QStringLiteral("broken")), std::nullopt);
    }

    void vocabularyAdd_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("added");
        QTest::addColumn<QStringList>("expected");
        const QString precomposed = QString::fromUtf8("Nguy\xe1\xbb\x85n"); // ễ as one code point
        QTest::newRow("trimmed, appended last") << QStringList { "b", "a" } << " c\n"
                                                << true << QStringList { "b", "a", "c" };
        QTest::newRow("duplicate") << QStringList { "Tessra" } << "Tessra  " << false << QStringList { "Tessra" };
        QTest::newRow("other case is another word")
            << QStringList { "Tessra" } << "tessra" << true << QStringList { "Tessra", "tessra" };
        QTest::newRow("blank") << QStringList { "a" } << " \t\n " << false << QStringList { "a" };
        QTest::newRow("canonically equal") << QStringList { precomposed } << QString::fromUtf8("Nguye\xcc\x82\xcc\x83n")
                                           << false << QStringList { precomposed };
    }
    void vocabularyAdd()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, word);
        QFETCH(bool, added);
        QFETCH(QStringList, expected);
        auto settings = freshSettings(stored);
        QCOMPARE(CustomDictionary::add(*settings, word), added);
        // Read back through a fresh object: what is on disk is what counts.
        settings->sync();
        Settings reread(settings->filePath());
        QCOMPARE(CustomDictionary::words(reread), expected);
    }

    void vocabularyPromptFragment_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("missing") << QStringList() << std::optional<QString>();
        QTest::newRow("empties dropped") << QStringList { "A", "", "B c" }
                                         << std::optional<QString>("Custom vocabulary: A, B c. ");
        QTest::newRow("only empty") << QStringList { "" } << std::optional<QString>();
    }
    void vocabularyPromptFragment()
    {
        QFETCH(QStringList, stored);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(CustomDictionary::promptFragment(*freshSettings(stored)), expected);
    }

    void launchAtLoginWritesAndRemovesTheAutostartEntry()
    {
        const QString entry
            = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("autostart/com.orvane.quillet.test.desktop");
        LogCapture log;
        LaunchAtLogin::set(true, {}, QStringLiteral("/opt/My Apps/quillet"));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.startsWith("[Desktop Entry]\n"));
        QVERIFY2(content.contains("\nExec=\"/opt/My Apps/quillet\"\n"), content.constData());
        QVERIFY(content.contains("\nType=Application\n"));
        file.close();

        LaunchAtLogin::set(true, {}, QStringLiteral("/opt/My Apps/quillet"));
        LaunchAtLogin::set(false);
        QVERIFY(!QFile::exists(entry));
        LaunchAtLogin::set(false);
        QCOMPARE(log.lines(),
            (QStringList { "[Quillet] Launch at login enabled", "[Quillet] Launch at login enabled",
                "[Quillet] Launch at login disabled", "[Quillet] Launch at login disabled" }));

        // A file where the autostart folder should be makes the write fail.
        const QString blocker = m_dir.filePath("not-a-folder");
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        LogCapture failure;
        LaunchAtLogin::set(true, blocker + "/quillet.desktop", QStringLiteral("/usr/bin/quillet"));
        QCOMPARE(
            failure.lines(), QStringList { "[Quillet] Launch at login error: Cannot create the folder " + blocker });
    }

    // A rewrite that finds the disk full fails in words and leaves the entry as it was.
    void autostartEntrySurvivesAFullDisk()
    {
        FullDisk disk;
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.skipReason()));
        const QString entry = disk.filePath(QStringLiteral("autostart/quillet.desktop"));
        QVERIFY(AutostartEntry::install(entry, QStringLiteral("/usr/bin/quillet")).ok());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        QVERIFY(disk.fill());
        const Result<void, AutostartEntry::Error> rewritten
            = AutostartEntry::install(entry, QStringLiteral("/opt/elsewhere/quillet"));
        QVERIFY(!rewritten.ok());
        QVERIFY2(rewritten.error().message.contains(QLatin1String("space"), Qt::CaseInsensitive),
            qPrintable(rewritten.error().message));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();
        QCOMPARE(QDir(disk.filePath(QStringLiteral("autostart"))).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("quillet.desktop") });

        disk.makeRoom();
        QVERIFY(AutostartEntry::install(entry, QStringLiteral("/opt/elsewhere/quillet")).ok());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("/opt/elsewhere/quillet"));
    }

    void versionComparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("newer");
        const auto row = [](const char* a, const char* b, bool newer, const char* why) {
            QTest::addRow("%s vs %s: %s", a, b, why) << QString::fromLatin1(a) << QString::fromLatin1(b) << newer;
        };
        row("1.10", "1.9", true, "parts are numbers");
        row("1.2", "1.2.0", false, "missing parts are 0");
        row("2.0-beta", "1.9", true, "a part that is not a number is 0");
        row("99999999999999999999", "1", false, "beyond 64 bits is 0");
        row("9223372036854775807", "9223372036854775806", true, "largest 64-bit part");
    }
    void versionComparison()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, newer);
        QCOMPARE(UpdateChecker::isNewer(a, b), newer);
    }

    void updateFeed_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("slow");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url"); // "fallback": the site's own download address
        QTest::addColumn<bool>("available");
        const auto row = [](const char* name, int status, const char* body, const char* version, const char* url,
                             bool available, bool slow = false) {
            QTest::newRow(name) << status << QByteArray(body) << slow << QString::fromLatin1(version)
                                << QString::fromLatin1(url) << available;
        };
        row("newer with v", 200, R"({"version":"v1.4.0","url":"https://dl.example.test/q-1.4.0.tar.gz"})", "1.4.0",
            "https://dl.example.test/q-1.4.0.tar.gz", true);
        row("equal", 200, R"({"version":"1.2.0","url":"https://dl.example.test/q"})", "1.2.0",
            "https://dl.example.test/q", false);
        row("older", 200, R"({"version":"1.1.9"})", "1.1.9", "fallback", false);
        row("no url", 200, R"({"version":"2.0"})", "2.0", "fallback", true);
        row("javascript url", 200, R"json({"version":"2.0","url":"javascript:alert(1)"})json", "2.0", "fallback", true);
        row("url without host", 200, R"({"version":"2.0","url":"https:/path"})", "2.0", "fallback", true);
        row("version not a string", 200, R"({"version":2})", "", "", false);
        row("malformed", 200, R"({"version":)", "", "", false);
        row("500", 500, R"({"version":"9.0"})", "", "", false);
        row("slow", 200, R"({"version":"9.9"})", "", "", false, true);
    }
    void updateFeed()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, slow);
        QFETCH(QString, version);
        QFETCH(QString, url);
        QFETCH(bool, available);
        FakeHttpServer site;
        site.on("GET", "/latest.json", FakeHttpServer::Reply::json(status, body));
        if (slow)
            site.hold("GET", "/latest.json");
        QNetworkAccessManager network;
        QList<QUrl> opened;
        const auto opener = [&](const QUrl& u) {
            opened.append(u);
            return true;
        };
        UpdateChecker checker(network, site.url(), QStringLiteral("1.2"), opener,
            slow ? std::chrono::milliseconds(200) : UpdateChecker::kDefaultTimeout);
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check();
        QVERIFY(finished.wait(kPatientWaitMs));
        QCOMPARE(site.requestsTo("GET", "/latest.json").size(), 1);
        QCOMPARE(checker.latestVersion(), version);
        const QUrl fallback = site.url("/download");
        const QUrl expectedUrl = url == "fallback" ? fallback : QUrl(url);
        QCOMPARE(checker.downloadUrl(), expectedUrl);
        QCOMPARE(checker.updateAvailable(), available);
        // With nothing published, the download button still leads to the site's own file.
        checker.openDownload();
        QCOMPARE(opened, QList<QUrl> { url.isEmpty() ? fallback : expectedUrl });
        if (slow)
            site.release("GET", "/latest.json");
    }
};

QUILLET_TEST_MAIN(TestSystemServices)
#include "TestSystemServices.moc"
