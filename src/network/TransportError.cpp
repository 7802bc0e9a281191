#include "network/TransportError.h"

#include "network/ReplyLimiter.h"

#include <QNetworkReply>

namespace {

// A failure that a machine without a network would give, and so would a server that cannot be
// found: which one it was, the machine's network tells.
TransportError::Kind lookupFailure(const NetworkPresence& presence)
{
    return presence.machineHasNetwork() ? TransportError::Kind::Unreachable : TransportError::Kind::NoConnection;
}

TransportError::Kind kindOf(QNetworkReply::NetworkError error, const NetworkPresence& presence)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return lookupFailure(presence);
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
        return TransportError::Kind::Unreachable;
    case QNetworkReply::TimeoutError:
    // Qt reports its own transfer time-out as a cancelled operation; nothing else cancels a
    // request of ours without a limit's reason.
    case QNetworkReply::OperationCanceledError:
        return TransportError::Kind::NoAnswer;
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::InsecureRedirectError:
        return TransportError::Kind::Insecure;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return TransportError::Kind::Proxy;
    default:
        return TransportError::Kind::Other;
    }
}

bool isTransportCode(QNetworkReply::NetworkError error)
{
    // 1-199: connection, time-out and proxy failures; higher codes mirror HTTP statuses.
    return error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace

QString TransportError::description() const
{
    switch (kind) {
    case Kind::NoConnection:
        return QStringLiteral("No internet connection.");
    case Kind::Unreachable:
        return QStringLiteral("The service could not be reached.");
    case Kind::NoAnswer:
        return QStringLiteral("The service did not answer.");
    case Kind::Insecure:
        return QStringLiteral("A secure connection to the service could not be made.");
    case Kind::Proxy:
        return QStringLiteral("The network's proxy did not let the connection through.");
    case Kind::Limit:
        // Our own limits already give their reason in words.
        return detail;
    case Kind::Other:
        break;
    }
    return QStringLiteral("The connection to the service failed.");
}

std::optional<TransportError> TransportError::of(const QNetworkReply* reply, const NetworkPresence& presence)
{
    if (const std::optional<QString> limit = ReplyLimiter::failure(reply))
        return TransportError { Kind::Limit, *limit };
    const QNetworkReply::NetworkError error = reply->error();
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (isTransportCode(error) || (!answered && error != QNetworkReply::NoError))
        return TransportError { kindOf(error, presence), reply->errorString() };
    return std::nullopt;
}

TransportError TransportError::ofSocket(
    QAbstractSocket::SocketError error, const QString& detail, const NetworkPresence& presence)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
        return { lookupFailure(presence), detail };
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::RemoteHostClosedError:
        return { Kind::Unreachable, detail };
    case QAbstractSocket::SocketTimeoutError:
        return { Kind::NoAnswer, detail };
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return { Kind::Insecure, detail };
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return { Kind::Proxy, detail };
    default:
        return { Kind::Other, detail };
    }
}
