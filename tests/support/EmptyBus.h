#pragma once

// A session bus of the test's own with nothing on it and nothing it could start on demand:
// what a program meets when the service it calls is missing, or (once the test takes the
// service's name itself) hangs. Needs dbus-daemon on the PATH.
//
//   EmptyBus bus;
//   QVERIFY(bus.start());
//   env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());

#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

class EmptyBus final
{
public:
    EmptyBus() = default;
    ~EmptyBus() { stop(); }
    Q_DISABLE_COPY_MOVE(EmptyBus)

    // Starts the bus and waits for its address; false when it cannot.
    bool start()
    {
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir="
            + m_dir.path().toUtf8()
            + "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_process.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1") });
        if (!m_process.waitForStarted())
            return false;
        // A busy machine can take many seconds to start it.
        if (!QTest::qWaitFor([this] { return m_process.canReadLine(); }, 60'000))
            return false;
        m_address = QString::fromUtf8(m_process.readLine().trimmed());
        return !m_address.isEmpty();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        m_process.waitForFinished();
    }

    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_address;
};
