#include "support/FullDisk.h"
#include "support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

// The application in child processes that share one home, data and config folder, so one
// store; each may have its runtime folder or none.
class Starts
{
public:
    class Child
    {
    public:
        ~Child()
        {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished();
            }
        }

        // Waits (running the event loop) until the child wrote the line on stderr or ended.
        bool waitForLog(const QString& line)
        {
            return QTest::qWaitFor([&] { return errors().contains(line) || !isRunning(); }, 60000)
                && errors().contains(line);
        }
        // The same for what it writes on stdout: the dialogs it shows (AppChildProcess.cpp).
        bool waitForOutput(const QString& text)
        {
            return QTest::qWaitFor([&] { return output().contains(text) || !isRunning(); }, 60000)
                && output().contains(text);
        }
        QString output()
        {
            m_output += QString::fromUtf8(process.readAllStandardOutput());
            return m_output;
        }
        void command(const QByteArray& line) { process.write(line + '\n'); }
        bool waitForExit()
        {
            return QTest::qWaitFor([&] { return !isRunning(); }, 60000);
        }
        bool isRunning() const { return process.state() != QProcess::NotRunning; }
        int exitCode() const { return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1; }
        bool signal(int number) const { return ::kill(pid_t(process.processId()), number) == 0; }
        QString errors()
        {
            m_errors += QString::fromUtf8(process.readAllStandardError());
            return m_errors;
        }

        QProcess process;

    private:
        QString m_errors;
        QString m_output;
    };

    // dataFolder: where the store lives (XDG_DATA_HOME); a folder of the test's own by default.
    explicit Starts(const QString& dataFolder = {})
        : m_dataFolder(dataFolder.isEmpty() ? m_root.filePath(QStringLiteral("data")) : dataFolder)
    {
        for (const char* sub : { "home", "data", "config", "runtime", "runtime2", "tmp" })
            QDir().mkpath(m_root.filePath(QLatin1String(sub)));
        for (const char* runtime : { "runtime", "runtime2" })
            QFile::setPermissions(m_root.filePath(QLatin1String(runtime)),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // runtimeFolder: "runtime", "runtime2", or empty for none (Qt then makes one in TMPDIR).
    // dataFolder: another data folder than the one all starts share by default.
    Child& start(const QStringList& arguments = {}, const QString& runtimeFolder = QStringLiteral("runtime"),
        const QString& dataFolder = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataFolder.isEmpty() ? m_dataFolder : dataFolder);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("TMPDIR"), m_root.filePath(QStringLiteral("tmp")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (runtimeFolder.isEmpty())
            environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(runtimeFolder));
        auto child = std::make_unique<Child>();
        child->process.setProcessEnvironment(environment);
        child->process.start(QStringLiteral(APP_CHILD_PROCESS), arguments);
        m_children.push_back(std::move(child));
        return *m_children.back();
    }

    QString storeFile() const { return storeFileIn(m_dataFolder); }
    static QString storeFileIn(const QString& dataFolder)
    {
        return dataFolder + QStringLiteral("/Quillet-Test/Quillet.store");
    }
    // A path of the test's own, beside the shared folders.
    QString path(const QString& name) const { return m_root.filePath(name); }

private:
    QTemporaryDir m_root;
    const QString m_dataFolder;
    std::vector<std::unique_ptr<Child>> m_children;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QString kLaunched = QStringLiteral("[Quillet] App launched");
const QString kWaitWindow = QStringLiteral("dialog: Quillet is already running, but it isn't answering.");
const QString kStoreWindow = QStringLiteral("dialog: Quillet can't open its data file");

} // namespace

// A start while another runs on the same store never becomes a second writer of it: it hands
// its link or window request to the running instance and ends, however long that takes.
class TestSingleInstance final : public QObject
{
    Q_OBJECT

private slots:
    // The running instance answers the hand-over even while its runtime folder differs from
    // the later start's (one started from a terminal without XDG_RUNTIME_DIR, say).
    void laterStartHandsOver_data()
    {
        QTest::addColumn<QString>("firstRuntime");
        QTest::addColumn<QString>("laterRuntime");
        QTest::newRow("same runtime folder") << "runtime"
                                             << "runtime";
        QTest::newRow("later start without one") << "runtime" << QString();
        QTest::newRow("first start without one") << QString() << "runtime";
        QTest::newRow("different ones") << "runtime"
                                        << "runtime2";
    }
    void laterStartHandsOver()
    {
        QFETCH(QString, firstRuntime);
        QFETCH(QString, laterRuntime);
        Starts starts;
        Starts::Child& first = starts.start({}, firstRuntime);
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));

        Starts::Child& link = starts.start({ QStringLiteral("quillet://auth?token=t-1") }, laterRuntime);
        QVERIFY(link.waitForExit());
        QCOMPARE(link.exitCode(), 0);
        QVERIFY2(first.waitForLog(QStringLiteral("[Quillet] Opened URL quillet://auth")), qPrintable(first.errors()));
        Starts::Child& window = starts.start({}, laterRuntime);
        QVERIFY(window.waitForExit());
        QCOMPARE(window.exitCode(), 0);
        QVERIFY2(!link.errors().contains(kLaunched) && !window.errors().contains(kLaunched),
            qPrintable(link.errors() + window.errors()));
        QVERIFY(first.isRunning());
    }

    // A link too long to be one of ours is refused by the running instance, which answers; the
    // later start ends without using it.
    void overLongLinkIsRefused()
    {
        Starts starts;
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        const QString link = QStringLiteral("quillet://auth?token=") + QString(70 * 1024, QLatin1Char('a'));
        Starts::Child& later = starts.start({ link });
        QVERIFY(later.waitForExit());
        QCOMPARE(later.exitCode(), 1);
        QVERIFY2(first.waitForLog(QStringLiteral("[Quillet] Refused a URL longer than 65536 bytes from another start")),
            qPrintable(first.errors()));
        QVERIFY(!first.errors().contains(QLatin1String("Opened URL")));
        QVERIFY2(!later.errors().contains(kLaunched), qPrintable(later.errors()));
    }

    // A running instance whose main thread does not answer (stopped here) is waited for, and
    // the wait is said in a window before long: it ends once the instance answers, or when the
    // person closes the window, without a second instance either way.
    void busyInstanceIsWaitedFor_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("the instance answers at last") << true;
        QTest::newRow("the person stops waiting") << false;
    }
    void busyInstanceIsWaitedFor()
    {
        QFETCH(bool, answers);
        Starts starts;
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        QVERIFY(first.signal(SIGSTOP));
        Starts::Child& later = starts.start({ QStringLiteral("quillet://auth?token=t-2") });
        QVERIFY2(later.waitForLog(QStringLiteral("[Quillet] Waiting for the running instance to answer")),
            qPrintable(later.errors()));
        QVERIFY2(later.waitForOutput(kWaitWindow), qPrintable(later.output() + later.errors()));
        QVERIFY(later.output().contains(starts.storeFile()));
        if (!answers)
            later.command("close");
        else
            QVERIFY(first.signal(SIGCONT));
        QVERIFY(later.waitForExit());
        QCOMPARE(later.exitCode(), answers ? 0 : 1);
        QVERIFY2(!later.errors().contains(kLaunched), qPrintable(later.errors()));
        if (answers)
            QVERIFY2(
                first.waitForLog(QStringLiteral("[Quillet] Opened URL quillet://auth")), qPrintable(first.errors()));
        else
            QVERIFY(first.signal(SIGCONT));
        QVERIFY(first.isRunning());
    }

    // Ctrl-C and SIGTERM end a start that waits for the running instance: it holds nothing yet.
    void waitingStartEndsOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void waitingStartEndsOnSignal()
    {
        QFETCH(int, signalNumber);
        Starts starts;
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        QVERIFY(first.signal(SIGSTOP));
        Starts::Child& later = starts.start();
        QVERIFY2(later.waitForLog(QStringLiteral("[Quillet] Waiting for the running instance to answer")),
            qPrintable(later.errors()));
        QVERIFY(later.signal(signalNumber));
        QVERIFY(later.waitForExit());
        QCOMPARE(later.process.exitStatus(), QProcess::CrashExit);
        QVERIFY2(!later.errors().contains(kLaunched), qPrintable(later.errors()));
        QVERIFY(first.signal(SIGCONT));
        QVERIFY(first.isRunning());
    }

    // Whatever a process that is gone left in the lock file never keeps a start waiting.
    void leftoverLockFileNeverBlocks_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray garbled(300, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(garbled.data()), garbled.size() / 4);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbled") << garbled;
        QTest::newRow("the socket of an instance that is gone") << QByteArray("/nonexistent/quillet.urls\n");
    }
    void leftoverLockFileNeverBlocks()
    {
        QFETCH(QByteArray, content);
        Starts starts;
        QVERIFY(writeFile(starts.storeFile() + QStringLiteral(".lock"), content));
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        // And the lock is held all the same: the next start hands over.
        Starts::Child& next = starts.start();
        QVERIFY(next.waitForExit());
        QCOMPARE(next.exitCode(), 0);
        QVERIFY2(!next.errors().contains(kLaunched), qPrintable(next.errors()));
    }

    // The lock is the store file's own: a start that reaches the same file by another way (a
    // linked data folder, a linked store file, a hard link elsewhere) or after the file beside
    // it was deleted meets it, and hands its link to the running instance instead of opening
    // the store a second time.
    void everyWayToTheStoreMeetsItsLock_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("linked data folder") << "folder link";
        QTest::newRow("linked store file") << "file link";
        QTest::newRow("hard link elsewhere") << "hard link";
        QTest::newRow("hard link beside a name a killed instance left") << "hard link, stale name";
        QTest::newRow("lock file deleted") << "deleted";
    }
    void everyWayToTheStoreMeetsItsLock()
    {
        QFETCH(QString, way);
        Starts starts;
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));

        const QString other = starts.path(QStringLiteral("other"));
        const QString otherStore = Starts::storeFileIn(other);
        QString laterData = other;
        if (way == QLatin1String("folder link")) {
            QVERIFY(QDir().mkpath(other));
            QVERIFY(QFile::link(QFileInfo(starts.storeFile()).path(), QFileInfo(otherStore).path()));
        } else if (way == QLatin1String("file link")) {
            QVERIFY(QDir().mkpath(QFileInfo(otherStore).path()));
            QVERIFY(QFile::link(starts.storeFile(), otherStore));
        } else if (way.startsWith(QLatin1String("hard link"))) {
            QVERIFY(QDir().mkpath(QFileInfo(otherStore).path()));
            if (way.endsWith(QLatin1String("stale name")))
                QVERIFY(writeFile(otherStore + QStringLiteral(".lock"), "/nonexistent/quillet.urls\n"));
            QCOMPARE(
                ::link(QFile::encodeName(starts.storeFile()).constData(), QFile::encodeName(otherStore).constData()),
                0);
        } else {
            QVERIFY(QFile::remove(starts.storeFile() + QStringLiteral(".lock")));
            laterData.clear();
        }

        Starts::Child& later
            = starts.start({ QStringLiteral("quillet://auth?token=t-3") }, QStringLiteral("runtime"), laterData);
        QVERIFY(later.waitForExit());
        QVERIFY2(!later.errors().contains(kLaunched), qPrintable(later.errors()));
        QCOMPARE(later.exitCode(), 0);
        QVERIFY2(first.waitForLog(QStringLiteral("[Quillet] Opened URL quillet://auth")), qPrintable(first.errors()));
        QVERIFY(first.isRunning());
    }

    // While the first start shows why its store cannot be opened, a second start says the same
    // in its own window rather than waiting for the first without a word.
    void startBesideAnUnusableStoreSaysWhy()
    {
        Starts starts;
        QVERIFY(writeFile(starts.storeFile(), QByteArray(8192, 'x')));
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForOutput(kStoreWindow), qPrintable(first.output() + first.errors()));
        Starts::Child& second = starts.start();
        QVERIFY2(second.waitForOutput(kStoreWindow), qPrintable(second.output() + second.errors()));
        for (Starts::Child* child : { &first, &second }) {
            QVERIFY(child->isRunning());
            child->command("close");
            QVERIFY(child->waitForExit());
            QCOMPARE(child->exitCode(), 1);
            QVERIFY(!child->errors().contains(kLaunched));
        }
    }

    // The lock takes no room: on a full disk one start opens the store and a second hands over
    // to it, never a second writer.
    void fullDataFolderKeepsOneWriter()
    {
        FullDisk disk;
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.skipReason()));
        Starts starts(disk.path());
        // An instance killed leaves the store's journal files, and its lock file, as they were.
        Starts::Child& killed = starts.start();
        QVERIFY2(killed.waitForLog(kLaunched), qPrintable(killed.errors()));
        QVERIFY(killed.signal(SIGKILL));
        QVERIFY(killed.waitForExit());
        QVERIFY(disk.fill());
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        Starts::Child& second = starts.start();
        QVERIFY(second.waitForExit());
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(!second.errors().contains(kLaunched), qPrintable(second.errors()));
        QVERIFY(first.isRunning());
    }

    // Where not even the store file can be made, the start opens nothing and says why.
    void lockThatCannotBeMadeIsShown()
    {
        FullDisk disk(512 * 1024, 64);
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.skipReason()));
        QVERIFY(disk.fill());
        Starts starts(disk.path());
        Starts::Child& start = starts.start();
        QVERIFY2(start.waitForOutput(kStoreWindow), qPrintable(start.output() + start.errors()));
        QVERIFY2(start.output().contains(QStringLiteral("No space left on device")), qPrintable(start.output()));
        start.command("close");
        QVERIFY(start.waitForExit());
        QCOMPARE(start.exitCode(), 1);
        QVERIFY(!start.errors().contains(kLaunched));
        QVERIFY(!QFileInfo::exists(starts.storeFile()));
    }

    // Two starts at the same moment: one instance stays, the other hands over to it.
    void simultaneousStartsLeaveOne()
    {
        Starts starts;
        Starts::Child& one = starts.start();
        Starts::Child& other = starts.start();
        QVERIFY(QTest::qWaitFor([&] { return !one.isRunning() || !other.isRunning(); }, 60000));
        Starts::Child& ended = one.isRunning() ? other : one;
        Starts::Child& running = one.isRunning() ? one : other;
        QCOMPARE(ended.exitCode(), 0);
        QVERIFY2(!ended.errors().contains(kLaunched), qPrintable(ended.errors()));
        QVERIFY2(running.waitForLog(kLaunched), qPrintable(running.errors()));
        QVERIFY(running.isRunning());
    }

    // The lock of an instance that was killed is taken over by the next start.
    void killedInstanceLeavesNoLock()
    {
        Starts starts;
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        QVERIFY(first.signal(SIGKILL));
        QVERIFY(first.waitForExit());
        Starts::Child& next = starts.start();
        QVERIFY2(next.waitForLog(kLaunched), qPrintable(next.errors()));
    }
};

QUILLET_TEST_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"
