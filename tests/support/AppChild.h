#pragma once

// The application in a child process (tests/shell/AppChildProcess.cpp, whose path the test's
// target defines as APP_CHILD_PROCESS), with home, config and runtime folders of its own and a
// data folder of its own unless one is given (a small file system to fill, say). It can be
// started again on the same folders once it has ended. What it logs (stderr) and the dialogs it
// shows (stdout) are read as they come; command() sends it one of the probe's commands.
//
//   AppChild app;
//   app.start();
//   QVERIFY2(app.waitForLog("[Quillet] App launched"), qPrintable(app.errors()));
//   app.command("notes More to say");

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class AppChild
{
public:
    explicit AppChild(const QString& dataFolder = {})
        : m_dataFolder(dataFolder.isEmpty() ? m_root.filePath(QStringLiteral("data")) : dataFolder)
    {
        for (const char* sub : { "home", "data", "config", "runtime" })
            QDir().mkpath(m_root.filePath(QLatin1String(sub)));
        QFile::setPermissions(m_root.filePath(QStringLiteral("runtime")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
        m_environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dataFolder);
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("runtime")));
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    ~AppChild() { stop(); }

    AppChild(const AppChild&) = delete;
    AppChild& operator=(const AppChild&) = delete;

    QString dataFolder() const { return m_dataFolder; }
    QString storeFile() const { return m_dataFolder + QStringLiteral("/Quillet-Test/Quillet.store"); }
    QString archiveRoot() const { return m_root.filePath(QStringLiteral("home/QuilletNotes-Test")); }
    // Changes apply to the next start.
    QProcessEnvironment& environment() { return m_environment; }
    QProcess& process() { return m_process; }

    void start(const QStringList& arguments = {})
    {
        stop();
        m_errors.clear();
        m_output.clear();
        m_process.setProcessEnvironment(m_environment);
        m_process.start(QStringLiteral(APP_CHILD_PROCESS), arguments);
    }

    // Ends a child still running, at once.
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Waits (running the event loop) until the child wrote the text on stderr or ended.
    bool waitForLog(const QString& text)
    {
        return QTest::qWaitFor([&] { return errors().contains(text) || !isRunning(); }, 60000)
            && errors().contains(text);
    }
    // The same for stdout: the dialogs it shows and the probe's answers.
    bool waitForOutput(const QString& text)
    {
        return QTest::qWaitFor([&] { return output().contains(text) || !isRunning(); }, 60000)
            && output().contains(text);
    }
    bool waitForExit()
    {
        return QTest::qWaitFor([&] { return !isRunning(); }, 60000);
    }

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // The exit status, or -1 when a signal ended it.
    int exitCode() const { return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1; }
    bool signal(int number) const { return ::kill(pid_t(m_process.processId()), number) == 0; }
    // Lines sent in one call run in one turn of the child's event loop.
    void command(const QString& lines) { m_process.write(lines.toUtf8() + '\n'); }

    QString errors()
    {
        m_errors += QString::fromUtf8(m_process.readAllStandardError());
        return m_errors;
    }
    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_output;
    }

private:
    QTemporaryDir m_root;
    const QString m_dataFolder;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QString m_errors;
    QString m_output;
};
