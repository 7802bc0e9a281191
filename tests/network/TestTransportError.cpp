#include "network/ReplyLimiter.h"
#include "network/TransportError.h"
#include "support/FixedNetworkPresence.h"
#include "support/TestMain.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>

using namespace std::chrono_literals;

namespace {

// A reply that ended the way the network layer ends one, for failures no test may cause for
// real (a missing network, a host name that does not resolve, a proxy).
class EndedReply final : public QNetworkReply
{
public:
    EndedReply(NetworkError error, const QString& text, std::optional<int> status)
    {
        open(QIODevice::ReadOnly); // opening clears the error text
        setError(error, text);
        if (status)
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, *status);
        setFinished(true);
    }
    void abort() override { }

protected:
    qint64 readData(char*, qint64) override { return -1; }
};

// A loopback port with nothing listening on it.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestTransportError final : public QObject
{
    Q_OBJECT

private slots:
    void failuresInWords_data()
    {
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<bool>("online"); // whether the machine has a network
        QTest::addColumn<QString>("description"); // empty: the server answered
        const auto row = [](const char* name, QNetworkReply::NetworkError error, std::optional<int> status,
                             const char* description, bool online = true) {
            QTest::newRow(name) << error << status << online << QString::fromUtf8(description);
        };
        // A mistyped service address is not the machine being offline.
        row("no host", QNetworkReply::HostNotFoundError, {}, "The service could not be reached.");
        row("no host, offline", QNetworkReply::HostNotFoundError, {}, "No internet connection.", false);
        row("network failed", QNetworkReply::TemporaryNetworkFailureError, {}, "The service could not be reached.");
        row("network down", QNetworkReply::TemporaryNetworkFailureError, {}, "No internet connection.", false);
        row("refused", QNetworkReply::ConnectionRefusedError, {}, "The service could not be reached.");
        row("refused, offline", QNetworkReply::ConnectionRefusedError, {}, "The service could not be reached.", false);
        row("closed early", QNetworkReply::RemoteHostClosedError, {}, "The service could not be reached.");
        // Qt's own transfer time-out ends a reply as cancelled.
        row("time-out", QNetworkReply::OperationCanceledError, {}, "The service did not answer.");
        row("handshake", QNetworkReply::SslHandshakeFailedError, {},
            "A secure connection to the service could not be made.");
        row("proxy", QNetworkReply::ProxyNotFoundError, {}, "The network's proxy did not let the connection through.");
        row("closed after the status line", QNetworkReply::RemoteHostClosedError, 200,
            "The service could not be reached.");
        row("answered 404", QNetworkReply::ContentNotFoundError, 404, "");
        row("answered 500", QNetworkReply::InternalServerError, 500, "");
        row("answered 200", QNetworkReply::NoError, 200, "");
    }

    void failuresInWords()
    {
        QFETCH(QNetworkReply::NetworkError, error);
        QFETCH(std::optional<int>, status);
        QFETCH(bool, online);
        QFETCH(QString, description);
        const QString technical = QStringLiteral("Host api.tessra.ai not found");
        EndedReply reply(error, technical, status);
        const std::optional<TransportError> failure = TransportError::of(&reply, FixedNetworkPresence(online));
        QCOMPARE(failure.has_value(), !description.isEmpty());
        if (!failure)
            return;
        QCOMPARE(failure->description(), description);
        QCOMPARE(failure->detail, technical); // for the log
    }

    // The chat's own socket reads the same way.
    void socketFailuresInWords()
    {
        const QString detail = QStringLiteral("Host not found");
        for (const auto error : { QAbstractSocket::HostNotFoundError, QAbstractSocket::NetworkError }) {
            QCOMPARE(TransportError::ofSocket(error, detail, FixedNetworkPresence(true)).description(),
                QStringLiteral("The service could not be reached."));
            QCOMPARE(TransportError::ofSocket(error, detail, FixedNetworkPresence(false)).description(),
                QStringLiteral("No internet connection."));
        }
    }

    // A real refusal: a loopback port where nothing listens.
    void refusedConnection()
    {
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/v1/me").arg(port)));
        QNetworkReply* reply = ReplyLimiter::send(network, request, "GET", std::nullopt, { 20s, 20s });
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        const std::optional<TransportError> failure = TransportError::of(reply);
        QVERIFY(failure);
        QCOMPARE(failure->kind, TransportError::Kind::Unreachable);
        QCOMPARE(failure->description(), QStringLiteral("The service could not be reached."));
        QVERIFY2(failure->detail.contains(QLatin1String("refused"), Qt::CaseInsensitive), qPrintable(failure->detail));
        delete reply;
    }

    // Our own limits already say why in words, and say it to the log too.
    void limitKeepsItsWords()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())));
        QNetworkReply* reply = ReplyLimiter::send(network, request, "GET", std::nullopt, { 20s, 200ms });
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        const std::optional<TransportError> failure = TransportError::of(reply);
        QVERIFY(failure);
        QCOMPARE(failure->description(), RequestLimits::timedOutText());
        QCOMPARE(failure->detail, RequestLimits::timedOutText());
        delete reply;
    }
};

QUILLET_TEST_MAIN(TestTransportError)
#include "TestTransportError.moc"
