#include "support/EmptyBus.h"
#include "support/TestMain.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>

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
    EmptyBus m_bus;
    QString m_address;

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        m_address = m_bus.address();
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("silent-secrets"));
        m_bus.stop();
    }

    void unreachableServiceStoresNothing_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<QString>("logLine");
        // A generous limit: the failure must come from the missing service, not the timer.
        QTest::newRow("no service") << false << 60'000 << "[Quillet] Keychain write failed for probe-account: ";
        QTest::newRow("service never answers")
            << true << 300 << "[Quillet] Keychain write failed for probe-account: -2";
    }
    void unreachableServiceStoresNothing()
    {
        QFETCH(bool, silent);
        QFETCH(int, limitMs);
        QFETCH(QString, logLine);
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("silent-secrets"));
        SilentService service;
        if (silent) {
            QVERIFY(bus.registerVirtualObject(QStringLiteral("/"), &service, QDBusConnection::SubPath));
            QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.secrets")));
        }
        // The probe keychain runs in a process of its own, and this event loop keeps running
        // meanwhile, so the silent service receives its calls.
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        probe.setProcessEnvironment(env);
        QSignalSpy finished(&probe, &QProcess::finished);
        probe.start(QStringLiteral(QUILLET_SECRET_PROBE), { QString::number(limitMs) });
        QVERIFY(finished.wait(120'000));
        bus.unregisterService(QStringLiteral("org.freedesktop.secrets"));
        bus.unregisterObject(QStringLiteral("/"));
        QCOMPARE(probe.exitCode(), 0);

        QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("read=absent write=false"));
        QStringList logLines = QString::fromUtf8(probe.readAllStandardError()).split('\n');
        logLines.removeIf([](const QString& line) { return !line.startsWith(QLatin1String("[Quillet] ")); });
        QCOMPARE(logLines.size(), 1);
        QVERIFY2(
            silent ? logLines.first() == logLine : logLines.first().startsWith(logLine), qPrintable(logLines.first()));
    }
};

QUILLET_TEST_MAIN(TestSecretServiceLimits)
#include "TestSecretServiceLimits.moc"
