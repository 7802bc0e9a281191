#include "platform/InMemorySecretStore.h"
#include "platform/LibsecretStore.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "support/FakeHttpServer.h"
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

    std::unique_ptr<Settings> freshSettings()
    {
        return std::make_unique<Settings>(m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".ini"));
    }

    QTemporaryDir m_dir;

private slots:
    // ---- Keychain ----

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

    void keychainLogsOnlyFailedWrites()
    {
        InMemorySecretStore store;
        Keychain keychain(store);
        LogCapture log;
        store.setFailure(SecretStore::Unavailable);
        QVERIFY(!keychain.set(QStringLiteral("secret-value"), QStringLiteral("tessra-byo-key")));
        QCOMPARE(keychain.string(QStringLiteral("tessra-byo-key")), std::nullopt);
        keychain.remove(QStringLiteral("tessra-byo-key"));
        QCOMPARE(log.lines(), QStringList { QStringLiteral("[Quillet] Keychain write failed for tessra-byo-key: -1") });
    }

    // ---- Custom vocabulary ----

    void vocabularyAdd_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("added");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("trimmed") << QStringList {} << " Tessra\n" << true << QStringList { "Tessra" };
        QTest::newRow("duplicate") << QStringList { "Tessra" } << "Tessra  " << false << QStringList { "Tessra" };
        QTest::newRow("other case is another word")
            << QStringList { "Tessra" } << "tessra" << true << QStringList { "Tessra", "tessra" };
        QTest::newRow("blank") << QStringList { "a" } << " \t\n " << false << QStringList { "a" };
        QTest::newRow("canonically equal") << QStringList { QString::fromUtf8("Nguy\xe1\xbb\x85n") } // precomposed ễ
                                           << QString::fromUtf8("Nguye\xcc\x82\xcc\x83n") << false
                                           << QStringList { QString::fromUtf8("Nguy\xe1\xbb\x85n") };
        QTest::newRow("appended last") << QStringList { "b", "a" } << "c" << true << QStringList { "b", "a", "c" };
    }
    void vocabularyAdd()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, word);
        QFETCH(bool, added);
        QFETCH(QStringList, expected);
        auto settings = freshSettings();
        if (!stored.isEmpty())
            settings->setValue(CustomDictionary::kSettingsKey, stored);
        QCOMPARE(CustomDictionary::add(*settings, word), added);
        // Read back through a fresh object: what is on disk is what counts.
        settings->sync();
        Settings reread(settings->filePath());
        QCOMPARE(CustomDictionary::words(reread), expected);
    }

    void vocabularyPromptFragment_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("missing") << QVariant() << std::optional<QString>();
        QTest::newRow("one word") << QVariant(QStringList { "Quillet" })
                                  << std::optional<QString>("Custom vocabulary: Quillet. ");
        QTest::newRow("several, empties dropped")
            << QVariant(QStringList { "A", "", "B c" }) << std::optional<QString>("Custom vocabulary: A, B c. ");
        QTest::newRow("only empty") << QVariant(QStringList { "" }) << std::optional<QString>();
    }
    void vocabularyPromptFragment()
    {
        QFETCH(QVariant, stored);
        QFETCH(std::optional<QString>, expected);
        auto settings = freshSettings();
        if (stored.isValid())
            settings->setValue(CustomDictionary::kSettingsKey, stored);
        QCOMPARE(CustomDictionary::promptFragment(*settings), expected);
    }

    void vocabularyRemove()
    {
        auto settings = freshSettings();
        for (const char* word : { "one", "two", "three" })
            CustomDictionary::add(*settings, QString::fromLatin1(word));
        CustomDictionary::removeAt(*settings, 3);
        CustomDictionary::removeAt(*settings, -1);
        QCOMPARE(CustomDictionary::words(*settings), (QStringList { "one", "two", "three" }));
        CustomDictionary::removeAt(*settings, 1);
        QCOMPARE(CustomDictionary::words(*settings), (QStringList { "one", "three" }));
        CustomDictionary::remove(*settings, QStringLiteral("three"));
        QCOMPARE(CustomDictionary::words(*settings), QStringList { "one" });
    }

    // ---- Launch at login ----

    void launchAtLoginWritesAndRemovesTheAutostartEntry()
    {
        const QString entry
            = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("autostart/com.orvane.quillet.test.desktop");
        LogCapture log;
        LaunchAtLogin::set(true, {}, QStringLiteral("/opt/My Apps/quillet"));
        QVERIFY(QFile::exists(entry));
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
    }

    void launchAtLoginLogsAFailure()
    {
        // A file where the autostart folder should be makes the write fail.
        const QString blocker = m_dir.filePath("not-a-folder");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        LogCapture log;
        LaunchAtLogin::set(true, blocker + "/quillet.desktop", QStringLiteral("/usr/bin/quillet"));
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().startsWith("[Quillet] Launch at login error: "), qPrintable(log.lines().first()));
    }

    // ---- Update check ----

    void versionComparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("newer");
        QTest::newRow("1.10 > 1.9") << "1.10"
                                    << "1.9" << true;
        QTest::newRow("1.2 = 1.2.0") << "1.2"
                                     << "1.2.0" << false;
        QTest::newRow("1.2.1 > 1.2") << "1.2.1"
                                     << "1.2" << true;
        QTest::newRow("2.0-beta > 1.9") << "2.0-beta"
                                        << "1.9" << true;
        QTest::newRow("empty parts") << "1..2."
                                     << "1.2" << false;
        QTest::newRow("V prefix counts as 0") << "V3.0"
                                              << "0.1" << false;
        QTest::newRow("signed part") << "+2"
                                     << "1" << true;
        QTest::newRow("blank inside is not a number") << "1. 5"
                                                      << "1.4" << false;
        QTest::newRow("beyond 64 bits counts as 0") << "99999999999999999999"
                                                    << "1" << false;
        QTest::newRow("largest 64-bit part") << "9223372036854775807"
                                             << "9223372036854775806" << true;
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
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url"); // "fallback": the site's own download address
        QTest::addColumn<bool>("available");
        QTest::newRow("newer with v")
            << 200 << QByteArray("{\"version\":\"v1.4.0\",\"url\":\"https://dl.example.test/q-1.4.0.tar.gz\"}")
            << "1.4.0"
            << "https://dl.example.test/q-1.4.0.tar.gz" << true;
        QTest::newRow("equal") << 200 << QByteArray("{\"version\":\"1.2.0\",\"url\":\"https://dl.example.test/q\"}")
                               << "1.2.0"
                               << "https://dl.example.test/q" << false;
        QTest::newRow("older") << 200 << QByteArray("{\"version\":\"1.1.9\"}") << "1.1.9"
                               << "fallback" << false;
        QTest::newRow("no url") << 200 << QByteArray("{\"version\":\"2.0\"}") << "2.0"
                                << "fallback" << true;
        QTest::newRow("upper-case V kept") << 200 << QByteArray("{\"version\":\"V2.0\"}") << "V2.0"
                                           << "fallback" << false;
        QTest::newRow("javascript url") << 200 << QByteArray("{\"version\":\"2.0\",\"url\":\"javascript:alert(1)\"}")
                                        << "2.0"
                                        << "fallback" << true;
        QTest::newRow("url without host") << 200 << QByteArray("{\"version\":\"2.0\",\"url\":\"https:/path\"}") << "2.0"
                                          << "fallback" << true;
        QTest::newRow("empty version") << 200 << QByteArray("{\"version\":\"\",\"url\":\"https://x.test/\"}") << ""
                                       << "" << false;
        QTest::newRow("version not a string") << 200 << QByteArray("{\"version\":2}") << ""
                                              << "" << false;
        QTest::newRow("malformed") << 200 << QByteArray("{\"version\":") << ""
                                   << "" << false;
        QTest::newRow("500") << 500 << QByteArray("{\"version\":\"9.0\"}") << ""
                             << "" << false;
    }
    void updateFeed()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, version);
        QFETCH(QString, url);
        QFETCH(bool, available);
        FakeHttpServer site;
        site.on("GET", "/latest.json", FakeHttpServer::Reply::json(status, body));
        QNetworkAccessManager network;
        QList<QUrl> opened;
        UpdateChecker checker(network, site.url(), QStringLiteral("1.2"), [&](const QUrl& u) {
            opened.append(u);
            return true;
        });
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check();
        QVERIFY(finished.wait());
        QCOMPARE(site.requestsTo("GET", "/latest.json").size(), 1);
        QCOMPARE(checker.latestVersion(), version);
        const QUrl expectedUrl = url == "fallback" ? site.url("/Quillet.dmg") : QUrl(url);
        QCOMPARE(checker.downloadUrl(), expectedUrl);
        QCOMPARE(checker.updateAvailable(), available);
        // With nothing published, the download button still leads to the site's own file.
        checker.openDownload();
        QCOMPARE(opened, QList<QUrl> { url.isEmpty() ? site.url("/Quillet.dmg") : expectedUrl });
    }

    void slowFeedTimesOut()
    {
        FakeHttpServer site;
        site.on("GET", "/latest.json", FakeHttpServer::Reply::json(200, "{\"version\":\"9.9\"}"));
        site.hold("GET", "/latest.json");
        QNetworkAccessManager network;
        UpdateChecker checker(network, site.url(), QStringLiteral("1.0"), {}, std::chrono::milliseconds(200));
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check();
        QVERIFY(finished.wait());
        QCOMPARE(checker.latestVersion(), QString());
        QVERIFY(!checker.downloadUrl().isValid());
        site.release("GET", "/latest.json");
    }
};

QUILLET_TEST_MAIN(TestSystemServices)
#include "TestSystemServices.moc"
