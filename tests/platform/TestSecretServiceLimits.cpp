#include "support/TestMain.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// Holds the secret service's bus name and swallows every call without answering, like a
// service that hangs.
class SilentService final : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

} // namespace

class TestSecretServiceLimits final : public QObject
{
    Q_OBJECT

private:
    struct ProbeResult
    {
        QByteArray out;
        QStringList logLines;
    };

    // Runs the probe on the private bus; the event loop keeps running meanwhile, so a service
    // in this process can receive its calls.
    ProbeResult runProbe(int limitMs)
    {
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        probe.setProcessEnvironment(env);
        QSignalSpy finished(&probe, &QProcess::finished);
        probe.start(QStringLiteral(QUILLET_SECRET_PROBE), { QString::number(limitMs) });
        if (!finished.wait(120'000) || probe.exitCode() != 0)
            return {};
        ProbeResult result;
        result.out = probe.readAllStandardOutput().trimmed();
        const QStringList errLines = QString::fromUtf8(probe.readAllStandardError()).split('\n');
        for (const QString& line : errLines) {
            if (line.startsWith(QLatin1String("[Quillet] ")))
                result.logLines.append(line);
        }
        return result;
    }

    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;

private slots:
    void initTestCase()
    {
        // A bus of our own with nothing on it and nothing it could start on demand.
        const QString config = m_dir.filePath("bus.conf");
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir="
            + m_dir.path().toUtf8()
            + "</listen>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_bus.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1") });
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY(m_bus.canReadLine());
        m_address = QString::fromUtf8(m_bus.readLine().trimmed());
        QVERIFY(!m_address.isEmpty());
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("silent-secrets"));
        m_bus.terminate();
        m_bus.waitForFinished();
    }

    void withoutSecretServiceNothingIsStored()
    {
        // A generous limit: the failure must come from the missing service, not the timer.
        const ProbeResult result = runProbe(60'000);
        QCOMPARE(result.out, QByteArray("read=absent write=false"));
        QCOMPARE(result.logLines.size(), 1);
        QVERIFY2(result.logLines.first().startsWith("[Quillet] Keychain write failed for probe-account: "),
            qPrintable(result.logLines.first()));
    }

    void silentSecretServiceIsGivenUpOn()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("silent-secrets"));
        QVERIFY(bus.isConnected());
        SilentService service;
        QVERIFY(bus.registerVirtualObject(QStringLiteral("/"), &service, QDBusConnection::SubPath));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.secrets")));
        const ProbeResult result = runProbe(300);
        bus.unregisterService(QStringLiteral("org.freedesktop.secrets"));
        bus.unregisterObject(QStringLiteral("/"));
        QCOMPARE(result.out, QByteArray("read=absent write=false"));
        QCOMPARE(
            result.logLines, QStringList { QStringLiteral("[Quillet] Keychain write failed for probe-account: -2") });
    }
};

QUILLET_TEST_MAIN(TestSecretServiceLimits)
#include "TestSecretServiceLimits.moc"
