#pragma once

#include "platform/network/NetworkPresence.h"

#include <QAbstractSocket>
#include <QString>
#include <optional>

class QNetworkReply;

// A request that ended without an answer from the server: no network, no server at that
// name, a refused or dropped connection, a time-out, a failed secure handshake, or one of our
// own request limits. The user is told in words what happened; the network layer's own text
// ("Host api.tessra.ai not found") is what the log keeps.
struct TransportError
{
    enum class Kind {
        NoConnection, // the machine has no network at all
        Unreachable, // no server by that name, or it refused or dropped the connection
        NoAnswer, // the server took too long
        Insecure, // no secure connection could be made
        Proxy, // the proxy in between failed
        Limit, // one of our own request limits cut the reply short
        Other,
    };

    Kind kind = Kind::Other;
    // The network layer's own text, for the log.
    QString detail;

    // A sentence for the user.
    QString description() const;

    // Why a finished reply got no answer, or nothing when the server answered (whatever its
    // status: HTTP errors are the caller's to read). A name that could not be looked up, or a
    // network that failed, is the machine's missing network only when `presence` finds none: a
    // mistyped service address is no reason to tell a person that they are offline.
    static std::optional<TransportError> of(
        const QNetworkReply* reply, const NetworkPresence& presence = NetworkPresence::system());
    // The failure of a socket we read ourselves, with the socket's own text.
    static TransportError ofSocket(QAbstractSocket::SocketError error, const QString& detail,
        const NetworkPresence& presence = NetworkPresence::system());

    friend bool operator==(const TransportError&, const TransportError&) = default;
};
