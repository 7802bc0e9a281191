#include "platform/network/NetworkPresence.h"
#include "support/TestMain.h"

namespace {

const QByteArray kIpv4Heading
    = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT            \n";

QByteArray ipv4(const char* lines)
{
    return kIpv4Heading + lines;
}

// The kernel's own rejecting default route on the loopback interface, always listed.
const QByteArray kIpv6Loopback = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                 "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";

} // namespace

class TestNetworkPresence final : public QObject
{
    Q_OBJECT

private slots:
    // A machine is on a network when a default route that is up and not rejecting goes through
    // an interface that is up with an address beyond its link.
    void defaultRoutes_data()
    {
        QTest::addColumn<QByteArray>("ipv4");
        QTest::addColumn<QByteArray>("ipv6");
        QTest::addColumn<QStringList>("interfaces"); // up, with an address
        QTest::addColumn<bool>("online");
        const QStringList eth0 { "eth0" };
        const QByteArray ipv4Default = ipv4("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                            "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
        const QByteArray ipv4LinkOnly = ipv4("eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
        const QByteArray ipv6Default = "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 "
                                       "00000000000000000000000000000000 00000100 00000002 00000000 00000001     eth0\n"
                                       "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                       "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n"
            + kIpv6Loopback;
        QTest::newRow("IPv4 default route") << ipv4Default << kIpv6Loopback << eth0 << true;
        QTest::newRow("IPv6 default route only") << ipv4LinkOnly << ipv6Default << eth0 << true;
        QTest::newRow("link routes only") << ipv4LinkOnly << kIpv6Loopback << eth0 << false;
        QTest::newRow("route through an interface that is down")
            << ipv4Default << ipv6Default << QStringList { "wlan0" } << false;
        QTest::newRow("nothing but loopback") << ipv4("") << kIpv6Loopback << QStringList() << false;
        QTest::newRow("rejecting default route")
            << ipv4("eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n") << QByteArray() << eth0 << false;
        QTest::newRow("default route not up")
            << ipv4("eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n") << QByteArray() << eth0 << false;
        QTest::newRow("a host route is no default")
            << ipv4("eth0\t00000000\t010200C0\t0003\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n") << QByteArray() << eth0 << false;
        QTest::newRow("heading only, no newline") << kIpv4Heading.trimmed() << QByteArray() << eth0 << false;
        QTest::newRow("cut line") << ipv4("eth0\t00000000\t010200C0") << QByteArray("0000 00 eth0") << eth0 << false;
    }
    void defaultRoutes()
    {
        QFETCH(QByteArray, ipv4);
        QFETCH(QByteArray, ipv6);
        QFETCH(QStringList, interfaces);
        QFETCH(bool, online);
        QCOMPARE(
            SystemNetworkPresence::hasDefaultRoute(ipv4, ipv6, QSet<QString>(interfaces.begin(), interfaces.end())),
            online);
    }
};

QUILLET_TEST_MAIN(TestNetworkPresence)
#include "TestNetworkPresence.moc"
