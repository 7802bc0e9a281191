#pragma once

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// A PulseAudio server of the test's own, with one null sink ("out") and so no input but that
// sink's monitor. Modules loaded through load() are the test's to unload by index, which never
// disturbs the shared test server or other tests running beside it.
class PrivateSoundServer final
{
public:
    PrivateSoundServer()
    {
        const QString script = m_dir.filePath(QStringLiteral("server.pa"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("load-module module-native-protocol-unix auth-anonymous=1 socket=" + socketPath().toUtf8() + '\n');
        file.write("load-module module-null-sink sink_name=out\n");
        file.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("PULSE_SERVER"));
        // One sound server per session bus holds its D-Bus name; this one keeps off the bus.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("no-bus")));
        for (const char* name : { "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME" })
            environment.insert(QString::fromLatin1(name), m_dir.path());
        m_server.setProcessEnvironment(environment);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("--daemonize=no"), QStringLiteral("-n"), QStringLiteral("-F"), script,
                QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                QStringLiteral("--disallow-exit=yes"), QStringLiteral("--log-target=stderr"),
                QStringLiteral("--log-level=error") });
        QVERIFY2(m_server.waitForStarted(), "pulseaudio did not start");
        QTRY_VERIFY_WITH_TIMEOUT(pactl({ QStringLiteral("info") }).has_value(), 20000);
    }

    ~PrivateSoundServer()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(10000))
            m_server.kill();
        m_server.waitForFinished();
    }

    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // The address libpulse takes.
    QByteArray address() const { return "unix:" + socketPath().toUtf8(); }

    // Loads a module; its index, or -1.
    int load(const QStringList& moduleAndArguments)
    {
        const std::optional<QByteArray> out = pactl(QStringList { QStringLiteral("load-module") } + moduleAndArguments);
        bool ok = false;
        const int index = out ? out->trimmed().toInt(&ok) : -1;
        return ok ? index : -1;
    }

    bool unload(int index) { return pactl({ QStringLiteral("unload-module"), QString::number(index) }).has_value(); }

private:
    QString socketPath() const { return m_dir.filePath(QStringLiteral("native")); }

    std::optional<QByteArray> pactl(const QStringList& arguments)
    {
        QProcess process;
        process.start(
            QStringLiteral("pactl"), QStringList { QStringLiteral("-s"), QString::fromUtf8(address()) } + arguments);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return std::nullopt;
        return process.readAllStandardOutput();
    }

    QTemporaryDir m_dir;
    QProcess m_server;
};
