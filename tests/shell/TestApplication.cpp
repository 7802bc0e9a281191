#include "storage/ModelContext.h"
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

// The application in a child process, with home, data, config and runtime folders of its own.
class Child
{
public:
    Child()
    {
        for (const char* sub : { "home", "data", "config", "runtime" })
            QDir().mkpath(m_root.filePath(QLatin1String(sub)));
        QFile::setPermissions(m_root.filePath(QStringLiteral("runtime")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataFolder());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
    }

    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    QString dataFolder() const { return m_root.filePath(QStringLiteral("data")); }
    QString storeFile() const { return dataFolder() + QStringLiteral("/Quillet-Test/Quillet.store"); }
    QProcess& process() { return m_process; }

    void start() { m_process.start(QStringLiteral(APP_CHILD_PROCESS)); }

    // Waits (running the event loop) until the child wrote the line on stderr or ended.
    bool waitForLog(const QString& line)
    {
        return QTest::qWaitFor(
                   [&] {
                       m_errors += QString::fromUtf8(m_process.readAllStandardError());
                       return m_errors.contains(line) || m_process.state() == QProcess::NotRunning;
                   },
                   30000)
            && m_errors.contains(line);
    }

    QString errors()
    {
        m_errors += QString::fromUtf8(m_process.readAllStandardError());
        return m_errors;
    }

private:
    QTemporaryDir m_root;
    QProcess m_process;
    QString m_errors;
};

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
        QTest::newRow("random bytes as the store") << "Quillet-Test/Quillet.store" << false;
        QTest::newRow("a file where the folder should be") << "Quillet-Test" << false;
        QTest::newRow("a read-only data folder") << "Quillet-Test/Quillet.store" << true;
    }

    void unopenableStoreIsShownAndKept()
    {
        QFETCH(QString, badFile);
        QFETCH(bool, readOnly);
        Child child;
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
        QCOMPARE(entriesBelow(child.dataFolder()), before);
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
        Child child;
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
