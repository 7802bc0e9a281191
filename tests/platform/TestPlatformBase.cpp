#include "platform/AppIdentity.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "support/TestMain.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

class TestPlatformBase final : public QObject
{
    Q_OBJECT

private slots:
    void containerName_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("expected");
        QTest::newRow("release") << "com.orvane.quillet" << "Quillet";
        QTest::newRow("dev") << "com.orvane.quillet.dev" << "Quillet-Dev";
        QTest::newRow("test") << "com.orvane.quillet.test" << "Quillet-Test";
        QTest::newRow("dev in the middle") << "com.orvane.dev.quillet" << "Quillet";
        QTest::newRow("missing") << QString() << "Quillet";
    }
    void containerName()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, expected);
        QCOMPARE(AppIdentity::containerName(identifier), expected);
    }

    void testBuildUsesTestFolders()
    {
        QVERIFY(AppIdentity::bundleIdentifier().endsWith(QLatin1String(".test")));
        QVERIFY(Settings::defaultFilePath().contains(QLatin1String("/Quillet-Test/")));
        QVERIFY(Settings::defaultFilePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    }

    void settingsRestoreTypesAfterReopening()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        {
            Settings settings(path);
            settings.setValue(QStringLiteral("flag"), true);
            settings.setValue(QStringLiteral("one"), QStringList{QStringLiteral("only")});
            settings.setValue(QStringLiteral("none"), QStringList{});
            settings.setValue(QStringLiteral("two"), QStringList{QStringLiteral("a"), QStringLiteral("b,c")});
            settings.setValue(QStringLiteral("count"), 42);
            settings.setValue(QStringLiteral("ratio"), 0.25);
        }
        Settings settings(path);
        QCOMPARE(settings.boolValue(QStringLiteral("flag")), true);
        QCOMPARE(settings.stringListValue(QStringLiteral("one")), QStringList{QStringLiteral("only")});
        QCOMPARE(settings.stringListValue(QStringLiteral("none"), {QStringLiteral("x")}), QStringList{});
        QCOMPARE(settings.stringListValue(QStringLiteral("two")), (QStringList{QStringLiteral("a"), QStringLiteral("b,c")}));
        QCOMPARE(settings.integerValue(QStringLiteral("count")), 42);
        QCOMPARE(settings.doubleValue(QStringLiteral("ratio")), 0.25);
    }

    void settingsDefaultsAreNeverWrittenAndWrongTypesReadAsDefault()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        Settings settings(path);
        settings.registerDefaults({{QStringLiteral("soundEnabled"), true}});
        QCOMPARE(settings.boolValue(QStringLiteral("soundEnabled")), true);
        QVERIFY(!settings.contains(QStringLiteral("soundEnabled")));
        settings.setValue(QStringLiteral("soundEnabled"), QStringLiteral("banana"));
        QCOMPARE(settings.boolValue(QStringLiteral("soundEnabled")), true);
        settings.setValue(QStringLiteral("n"), QStringLiteral(" 7"));
        QCOMPARE(settings.integerValue(QStringLiteral("n"), -1), -1);
        settings.sync();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("true"));
    }

    void settingsSignalChangedKey()
    {
        QTemporaryDir dir;
        Settings settings(dir.filePath(QStringLiteral("s.ini")));
        QSignalSpy spy(&settings, &Settings::changed);
        settings.setValue(QStringLiteral("chatModel"), QStringLiteral("fast"));
        settings.remove(QStringLiteral("chatModel"));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("chatModel"));
    }

    void logFormatsPlaceholders_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("objects") << Log::format("[Quillet] Archive failed for %@: %@", {QStringLiteral("ID"), QStringLiteral("disk full")})
                                 << "[Quillet] Archive failed for ID: disk full";
        QTest::newRow("integer") << Log::format("[Quillet] Keychain write failed for %@: %d", {QStringLiteral("acct"), QStringLiteral("-25")})
                                 << "[Quillet] Keychain write failed for acct: -25";
        QTest::newRow("precision") << Log::format("[Quillet] took %.1fs (%ld%%)", {QStringLiteral("2.345"), QStringLiteral("7")})
                                   << "[Quillet] took 2.3s (7%)";
    }
    void logFormatsPlaceholders()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(line, expected);
    }

    void logCaptureSeesLinesFromOtherThreads()
    {
        LogCapture capture;
        QThread* thread = QThread::create([] { Log::line("[Quillet] Recovered %d meeting(s) from QuilletNotes archive", 3); });
        thread->start();
        QVERIFY(thread->wait(5000));
        delete thread;
        QVERIFY(capture.contains(QStringLiteral("[Quillet] Recovered 3 meeting(s) from QuilletNotes archive")));
    }
};

QUILLET_TEST_MAIN(TestPlatformBase)
#include "TestPlatformBase.moc"
