#include "platform/AppIdentity.h"
#include "platform/Settings.h"
#include "support/TestMain.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestPlatformBase final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    // Tests must never read or write the user's own data.
    void testBuildUsesTestFolders()
    {
        QVERIFY(AppIdentity::bundleIdentifier().endsWith(QLatin1String(".test")));
        QVERIFY(Settings::defaultFilePath().contains(QLatin1String("/Quillet-Test/")));
        QVERIFY(Settings::defaultFilePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    }

    // The INI format loses types (a one-element list reads back as a string, a bool as text).
    void settingsRestoreTypesAfterReopening()
    {
        const QString path = m_dir.filePath(QStringLiteral("types.ini"));
        {
            Settings settings(path);
            settings.setValue(QStringLiteral("flag"), true);
            settings.setValue(QStringLiteral("one"), QStringList { QStringLiteral("only") });
            settings.setValue(QStringLiteral("none"), QStringList {});
            settings.setValue(QStringLiteral("two"), QStringList { QStringLiteral("a"), QStringLiteral("b,c") });
            settings.setValue(QStringLiteral("count"), 42);
            settings.setValue(QStringLiteral("ratio"), 0.25);
        }
        Settings settings(path);
        QCOMPARE(settings.boolValue(QStringLiteral("flag")), true);
        QCOMPARE(settings.stringListValue(QStringLiteral("one")), QStringList { QStringLiteral("only") });
        QCOMPARE(settings.stringListValue(QStringLiteral("none"), { QStringLiteral("x") }), QStringList {});
        QCOMPARE(settings.stringListValue(QStringLiteral("two")), (QStringList { "a", "b,c" }));
        QCOMPARE(settings.integerValue(QStringLiteral("count")), 42);
        QCOMPARE(settings.doubleValue(QStringLiteral("ratio")), 0.25);
    }

    void settingsDefaultsAreNeverWrittenAndWrongTypesReadAsDefault()
    {
        const QString path = m_dir.filePath(QStringLiteral("defaults.ini"));
        Settings settings(path);
        QSignalSpy changed(&settings, &Settings::changed);
        settings.registerDefaults({ { QStringLiteral("soundEnabled"), true } });
        QCOMPARE(settings.boolValue(QStringLiteral("soundEnabled")), true);
        QVERIFY(!settings.contains(QStringLiteral("soundEnabled")));
        settings.setValue(QStringLiteral("soundEnabled"), QStringLiteral("banana"));
        QCOMPARE(settings.boolValue(QStringLiteral("soundEnabled")), true);
        settings.setValue(QStringLiteral("n"), QStringLiteral(" 7"));
        QCOMPARE(settings.integerValue(QStringLiteral("n"), -1), -1);
        settings.remove(QStringLiteral("n"));
        QCOMPARE(changed.count(), 3);
        QCOMPARE(changed.last().at(0).toString(), QStringLiteral("n"));
        settings.sync();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("true"));
    }
};

QUILLET_TEST_MAIN(TestPlatformBase)
#include "TestPlatformBase.moc"
