#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// How far one request may go. A server that never ends its reply, or sends it a byte at a
// time, must not hold memory or the caller for ever: the idle limit alone restarts on every
// byte, so a whole-request deadline stands beside it.
struct RequestLimits
{
    static constexpr qint64 kJsonReplyBytes = 4 * 1024 * 1024;

    // The longest silence while connecting or reading.
    std::chrono::milliseconds idleTimeout;
    // The longest the whole request may take, from sending to the last byte of the reply.
    std::chrono::milliseconds deadline;
    qint64 maxReplyBytes = kJsonReplyBytes;

    // The texts a request cut short by its limits is reported with.
    static QString tooLargeText() { return QStringLiteral("The server's reply was too large."); }
    static QString timedOutText() { return QStringLiteral("The request timed out."); }
    static QString redirectRefusedText()
    {
        return QStringLiteral("The server sent the request on to another address; it was not followed.");
    }
};

// Sends requests within their limits and tells afterwards why a reply was cut short.
//
// A request with an "Authorization" header follows redirects within its own origin only, so a
// token never reaches another host (the network manager would resend every header there).
// Credentials of another kind: set SameOriginRedirectPolicy on the request before sending.
class ReplyLimiter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyLimiter)

public:
    // Sends method with the body (none: no body at all) and watches the reply, which belongs
    // to the caller as usual. Past a limit the reply is aborted: it finishes with
    // OperationCanceledError, and failure() says why.
    //
    // The body is taken out of the reply as it arrives (read it with body(), not from the
    // reply): the network thread hands over only a small buffer at a time and waits until it
    // has been read, so a body that never ends is stopped at the cap, however busy this
    // thread is, instead of piling up in the network manager's queue.
    static QNetworkReply* send(QNetworkAccessManager& network, QNetworkRequest request, const QByteArray& method,
        const std::optional<QByteArray>& body, const RequestLimits& limits);

    // The reply's body, once the reply has finished (each reply's body can be taken once).
    static QByteArray body(QNetworkReply* reply);

    // Why the reply did not come back whole, in words for the user: a limit was passed or a
    // redirect was refused. Nothing for any other outcome, which the caller judges itself.
    static std::optional<QString> failure(const QNetworkReply* reply);

private:
    ReplyLimiter(QNetworkReply* reply, const RequestLimits& limits);

    void checkAnnouncedSize();
    void takeArrived();
    void stop(const QString& why);

    QNetworkReply* m_reply;
    qint64 m_maxReplyBytes;
    QByteArray m_body;
    QTimer m_deadline;
    std::optional<QString> m_failure;
};
