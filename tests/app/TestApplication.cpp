#include "storage/ModelContext.h"
#include "support/TestMain.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

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
    void unopenableStoreEndsTheApplication_data()
    {
        QTest::addColumn<QString>("badFile"); // relative to the data folder
        QTest::newRow("random bytes as the store") << "Quillet-Test/Quillet.store";
        QTest::newRow("a file where the folder should be") << "Quillet-Test";
    }

    void unopenableStoreEndsTheApplication()
    {
        QFETCH(QString, badFile);
        Child child;
        const QString badPath = child.dataFolder() + u'/' + badFile;
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        QVERIFY(QDir().mkpath(QFileInfo(badPath).path()));
        QFile bad(badPath);
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(bytes) == bytes.size());
        bad.close();
        const QStringList before = entriesBelow(child.dataFolder());

        child.start();
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
        QString error;
        QVERIFY2(ModelContext::open(child.storeFile(), &error), qPrintable(error));
    }
};

QUILLET_TEST_MAIN(TestApplication)
#include "TestApplication.moc"
