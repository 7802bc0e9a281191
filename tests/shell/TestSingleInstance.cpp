#include "support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

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
    };

    Starts()
    {
        for (const char* sub : { "home", "data", "config", "runtime", "runtime2", "tmp" })
            QDir().mkpath(m_root.filePath(QLatin1String(sub)));
        for (const char* runtime : { "runtime", "runtime2" })
            QFile::setPermissions(m_root.filePath(QLatin1String(runtime)),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // runtimeFolder: "runtime", "runtime2", or empty for none (Qt then makes one in TMPDIR).
    Child& start(const QStringList& arguments = {}, const QString& runtimeFolder = QStringLiteral("runtime"))
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
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

private:
    QTemporaryDir m_root;
    std::vector<std::unique_ptr<Child>> m_children;
};

const QString kLaunched = QStringLiteral("[Quillet] App launched");

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

    // A running instance whose main thread does not answer (stopped here) is waited for.
    void busyInstanceIsWaitedFor()
    {
        Starts starts;
        Starts::Child& first = starts.start();
        QVERIFY2(first.waitForLog(kLaunched), qPrintable(first.errors()));
        QVERIFY(first.signal(SIGSTOP));
        Starts::Child& later = starts.start({ QStringLiteral("quillet://auth?token=t-2") });
        QVERIFY2(later.waitForLog(QStringLiteral("[Quillet] Waiting for the running instance to answer")),
            qPrintable(later.errors()));
        QVERIFY(first.signal(SIGCONT));
        QVERIFY(later.waitForExit());
        QCOMPARE(later.exitCode(), 0);
        QVERIFY2(first.waitForLog(QStringLiteral("[Quillet] Opened URL quillet://auth")), qPrintable(first.errors()));
        QVERIFY2(!later.errors().contains(kLaunched), qPrintable(later.errors()));
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
