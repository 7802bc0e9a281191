#include "storage/ModelContext.h"
#include "support/AppChild.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/mount.h>

namespace {

QStringList entriesBelow(const QString& folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(it.next());
    names.sort();
    return names;
}

// The folder mounted again over itself, read-only, for the life of the object.
class ReadOnlyMount
{
public:
    explicit ReadOnlyMount(const QString& folder)
        : m_folder(folder)
    {
        if (folder.isEmpty() || ::mount(qPrintable(folder), qPrintable(folder), nullptr, MS_BIND, nullptr) != 0)
            return;
        m_mounted = true;
        if (::mount(nullptr, qPrintable(folder), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            ::umount2(qPrintable(folder), MNT_DETACH);
            m_mounted = false;
        }
    }
    ~ReadOnlyMount()
    {
        if (m_mounted)
            ::umount2(qPrintable(m_folder), MNT_DETACH);
    }
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;
    bool isMounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestApplication final : public QObject
{
    Q_OBJECT

private slots:
    // A store that cannot be opened is said in a window, with where the file is, rather than
    // only on stderr (unseen when started from the desktop's menu); closing the window ends
    // the application, and the file is left exactly as it was.
    void unopenableStoreIsShownAndKept_data()
    {
        QTest::addColumn<QString>("badFile"); // relative to the data folder
        QTest::addColumn<bool>("readOnly"); // the data folder is a read-only file system
        QTest::addColumn<bool>("ranBefore"); // the lock file of an earlier run is there
        QTest::newRow("random bytes as the store") << "Quillet-Test/Quillet.store" << false << false;
        QTest::newRow("a file where the folder should be") << "Quillet-Test" << false << false;
        QTest::newRow("a read-only data folder") << "Quillet-Test/Quillet.store" << true << false;
        QTest::newRow("a read-only data folder, used before") << "Quillet-Test/Quillet.store" << true << true;
    }

    void unopenableStoreIsShownAndKept()
    {
        QFETCH(QString, badFile);
        QFETCH(bool, readOnly);
        QFETCH(bool, ranBefore);
        AppChild child;
        const QString badPath = child.dataFolder() + u'/' + badFile;
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        QVERIFY(QDir().mkpath(QFileInfo(badPath).path()));
        if (readOnly) {
            // A sound store, in a folder where nothing can be written; closed before it is read.
            {
                const auto opened = ModelContext::open(badPath);
                QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
            }
            bytes = readFile(badPath);
            QFile lockFile(child.storeFile() + QStringLiteral(".lock"));
            QVERIFY(!ranBefore || lockFile.open(QIODevice::WriteOnly));
        } else {
            QFile bad(badPath);
            QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(bytes) == bytes.size());
        }
        // Root writes through permissions: only a read-only mount makes the folder read-only.
        ReadOnlyMount mount(readOnly ? QFileInfo(badPath).path() : QString());
        if (readOnly && !mount.isMounted())
            QSKIP("a read-only file system could not be mounted; it needs root");
        const QStringList before = entriesBelow(child.dataFolder());

        child.start();
        QByteArray shown;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         shown += child.process().readAllStandardOutput();
                         return shown.contains("dialog: ") || child.process().state() == QProcess::NotRunning;
                     },
                     30000),
            qPrintable(child.errors()));
        QVERIFY2(shown.contains("dialog: Quillet can't open its data file"), shown.constData());
        QVERIFY2(shown.contains(child.storeFile().toUtf8()), shown.constData());
        // Not SQLite's words for a file it could not open: the first thing that could not be made.
        if (readOnly && !ranBefore)
            QVERIFY2(shown.contains("no permission to create the lock file " + child.storeFile().toUtf8() + ".lock"),
                shown.constData());
        // Where the lock can still be had, the store's folder is named, and why it fails.
        if (readOnly && ranBefore)
            QVERIFY2(shown.contains("The reason given: the folder " + QFileInfo(badPath).path().toUtf8()
                         + " can't be written (Read-only file system)."),
                shown.constData());
        // The window waits for the user.
        QCOMPARE(child.process().state(), QProcess::Running);
        child.process().write("close\n");
        QVERIFY(child.process().waitForFinished(30000));
        QCOMPARE(child.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.process().exitCode(), 1);
        const QString errors = child.errors();
        QVERIFY2(errors.contains(QLatin1String("Failed to open Quillet store: ")), qPrintable(errors));
        QVERIFY(!errors.contains(QLatin1String("[Quillet] App launched")));
        QCOMPARE(readFile(badPath), bytes);
        // Only the lock file, which stays once made, may have come beside the store.
        QStringList after = entriesBelow(child.dataFolder());
        QStringList expected = before;
        after.removeAll(child.storeFile() + QStringLiteral(".lock"));
        expected.removeAll(child.storeFile() + QStringLiteral(".lock"));
        QCOMPARE(after, expected);
    }

    // SIGTERM (logout, kill) and SIGINT (Ctrl-C) end the application through its normal quit:
    // the store is closed, which folds its write-ahead log back into the file.
    void terminationSignalsQuitWithTheStoreClosed_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void terminationSignalsQuitWithTheStoreClosed()
    {
        QFETCH(int, signalNumber);
        AppChild child;
        child.start();
        QVERIFY2(child.waitForLog(QStringLiteral("[Quillet] App launched")), qPrintable(child.errors()));
        // The missing folder was made and the store is open.
        QVERIFY(QFileInfo::exists(child.storeFile()));
        QVERIFY(QFileInfo::exists(child.storeFile() + QStringLiteral("-wal")));

        QCOMPARE(::kill(pid_t(child.process().processId()), signalNumber), 0);
        QVERIFY(child.process().waitForFinished(30000));
        QCOMPARE(child.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.process().exitCode(), 0);
        QVERIFY(!QFileInfo::exists(child.storeFile() + QStringLiteral("-wal")));
        const auto opened = ModelContext::open(child.storeFile());
        QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
    }
};

QUILLET_TEST_MAIN(TestApplication)
#include "TestApplication.moc"
