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

    // The INI format loses types (a one-element list reads back as a string, a bool as text);
    // every key must read back as it was written after the file is reopened.
    void settingsRestoreTypesAfterReopening()
    {
        const QString path = m_dir.filePath(QStringLiteral("types.ini"));
        const SettingsKey<QStringList> none { "none", { QStringLiteral("x") } };
        const SettingsKey<QStringList> two { "two", {} };
        const SettingsKey<qint64> count { "count", 0 };
        const CalendarVisibilityMap visibility { { QStringLiteral("cal/a"), true }, { QStringLiteral("b c"), false } };
        {
            Settings settings(path);
            settings.set(SettingsKeys::liveDraftEnabled, true);
            settings.set(SettingsKeys::customDictionary, QStringList { QStringLiteral("only") });
            settings.set(none, QStringList {});
            settings.set(two, QStringList { QStringLiteral("a"), QStringLiteral("b,c") });
            settings.set(count, qint64(42));
            settings.set(SettingsKeys::transcriptPaneHeight, 0.25);
            settings.set(SettingsKeys::calendarVisibility, visibility);
        }
        Settings settings(path);
        QCOMPARE(settings.get(SettingsKeys::liveDraftEnabled), true);
        QCOMPARE(settings.get(SettingsKeys::customDictionary), QStringList { QStringLiteral("only") });
        QCOMPARE(settings.get(none), QStringList {});
        QCOMPARE(settings.get(two), (QStringList { "a", "b,c" }));
        QCOMPARE(settings.get(count), 42);
        QCOMPARE(settings.get(SettingsKeys::transcriptPaneHeight), 0.25);
        QCOMPARE(settings.get(SettingsKeys::calendarVisibility), visibility);
    }

    void settingsDefaultsAreNeverWrittenAndWrongTypesReadAsDefault()
    {
        const QString path = m_dir.filePath(QStringLiteral("defaults.ini"));
        Settings settings(path);
        QSignalSpy changed(&settings, &Settings::changed);
        settings.registerDefault(SettingsKeys::soundEnabled);
        QCOMPARE(settings.value(SettingsKeys::soundEnabled.key()), QVariant(true));
        QCOMPARE(settings.get(SettingsKeys::soundEnabled), true);
        QCOMPARE(settings.get(SettingsKeys::meetingRemindersEnabled), true);
        QCOMPARE(settings.get(SettingsKeys::appTheme), QStringLiteral("system"));
        QVERIFY(!settings.contains(SettingsKeys::soundEnabled));
        QVERIFY(!settings.stored(SettingsKeys::soundEnabled));

        settings.setValue(SettingsKeys::soundEnabled.key(), QStringLiteral("banana"));
        QCOMPARE(settings.get(SettingsKeys::soundEnabled), true);
        QVERIFY(!settings.stored(SettingsKeys::soundEnabled));
        const SettingsKey<qint64> n { "n", -1 };
        settings.setValue(n.key(), QStringLiteral(" 7"));
        QCOMPARE(settings.get(n), -1);
        // A map whose values are not all booleans is not a visibility map.
        settings.setValue(SettingsKeys::calendarVisibility.key(),
            QVariantMap { { QStringLiteral("a"), true }, { QStringLiteral("b"), QStringLiteral("true") } });
        QCOMPARE(settings.get(SettingsKeys::calendarVisibility), CalendarVisibilityMap {});
        settings.remove(n);
        QCOMPARE(changed.count(), 4);
        QCOMPARE(changed.last().at(0).toString(), QStringLiteral("n"));
        settings.sync();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY(!written.contains("soundEnabled=true"));
        QVERIFY(!written.contains("meetingRemindersEnabled"));
        QVERIFY(!written.contains("appTheme"));
    }
};

QUILLET_TEST_MAIN(TestPlatformBase)
#include "TestPlatformBase.moc"
