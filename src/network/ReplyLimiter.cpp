#include "network/ReplyLimiter.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// How much of the body the network thread may hand over before this thread has read it.
constexpr qint64 kReadBufferBytes = 64 * 1024;

ReplyLimiter* limiterOf(const QNetworkReply* reply)
{
    return reply->findChild<ReplyLimiter*>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

QNetworkReply* ReplyLimiter::send(QNetworkAccessManager& network, QNetworkRequest request, const QByteArray& method,
    const std::optional<QByteArray>& body, const RequestLimits& limits)
{
    request.setTransferTimeout(int(limits.idleTimeout.count()));
    const QVariant policy = request.attribute(QNetworkRequest::RedirectPolicyAttribute);
    if (request.hasRawHeader("Authorization") && policy != QNetworkRequest::ManualRedirectPolicy)
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);

    QNetworkReply* reply
        = body ? network.sendCustomRequest(request, method, *body) : network.sendCustomRequest(request, method);
    new ReplyLimiter(reply, limits);
    return reply;
}

QByteArray ReplyLimiter::body(QNetworkReply* reply)
{
    ReplyLimiter* limiter = limiterOf(reply);
    if (!limiter)
        return reply->readAll();
    limiter->takeArrived();
    return std::exchange(limiter->m_body, QByteArray());
}

std::optional<QString> ReplyLimiter::failure(const QNetworkReply* reply)
{
    ReplyLimiter* limiter = limiterOf(reply);
    if (limiter) {
        // Whatever is still unread counts against the cap before the caller judges the reply.
        limiter->takeArrived();
        if (limiter->m_failure)
            return limiter->m_failure;
    }
    if (reply->error() == QNetworkReply::InsecureRedirectError)
        return RequestLimits::redirectRefusedText();
    return std::nullopt;
}

ReplyLimiter::ReplyLimiter(QNetworkReply* reply, const RequestLimits& limits)
    : QObject(reply)
    , m_reply(reply)
    , m_maxReplyBytes(limits.maxReplyBytes)
{
    // Without a read buffer the network thread reads the socket as fast as the server writes
    // and queues every piece for this thread, which sees none of it (no readyRead) while more
    // pieces are queued: memory grows far past the cap before it can be checked. With one,
    // the network thread waits for each piece to be read before it reads the socket again, so
    // the body is read here as it comes.
    reply->setReadBufferSize(kReadBufferBytes);
    // A request with a body is started from the event loop, after this, and a buffer size set
    // before it started never reaches the network thread: set it again once it has.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_reply->isFinished())
                m_reply->setReadBufferSize(kReadBufferBytes);
        },
        Qt::QueuedConnection);
    connect(reply, &QNetworkReply::metaDataChanged, this, &ReplyLimiter::checkAnnouncedSize);
    connect(reply, &QNetworkReply::readyRead, this, &ReplyLimiter::takeArrived);
    connect(reply, &QNetworkReply::finished, &m_deadline, &QTimer::stop);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { stop(RequestLimits::timedOutText()); });
    m_deadline.start(limits.deadline);
}

void ReplyLimiter::checkAnnouncedSize()
{
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() > m_maxReplyBytes)
        stop(RequestLimits::tooLargeText());
}

void ReplyLimiter::takeArrived()
{
    if (m_failure || !m_reply->isOpen())
        return;
    m_body += m_reply->readAll();
    if (m_body.size() > m_maxReplyBytes) {
        m_body = QByteArray();
        stop(RequestLimits::tooLargeText());
    }
}

void ReplyLimiter::stop(const QString& why)
{
    if (m_failure)
        return;
    m_failure = why;
    m_deadline.stop();
    // Finishes the reply at once: the caller's finished() handler runs inside this call. (The
    // last piece of a body can also pass the cap when it is taken after the reply finished.)
    if (!m_reply->isFinished())
        m_reply->abort();
}
