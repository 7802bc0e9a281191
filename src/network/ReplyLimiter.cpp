#include "network/ReplyLimiter.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

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

std::optional<QString> ReplyLimiter::failure(const QNetworkReply* reply)
{
    if (const auto* limiter = reply->findChild<ReplyLimiter*>(QString(), Qt::FindDirectChildrenOnly);
        limiter && limiter->m_failure)
        return limiter->m_failure;
    if (reply->error() == QNetworkReply::InsecureRedirectError)
        return RequestLimits::redirectRefusedText();
    return std::nullopt;
}

ReplyLimiter::ReplyLimiter(QNetworkReply* reply, const RequestLimits& limits)
    : QObject(reply)
    , m_reply(reply)
    , m_maxReplyBytes(limits.maxReplyBytes)
{
    // Nothing is read before the reply has finished, so what is available is all there is.
    connect(reply, &QNetworkReply::metaDataChanged, this, &ReplyLimiter::checkSize);
    connect(reply, &QNetworkReply::readyRead, this, &ReplyLimiter::checkSize);
    connect(reply, &QNetworkReply::finished, &m_deadline, &QTimer::stop);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { stop(RequestLimits::timedOutText()); });
    m_deadline.start(limits.deadline);
}

void ReplyLimiter::checkSize()
{
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (m_reply->bytesAvailable() > m_maxReplyBytes
        || (announced.isValid() && announced.toLongLong() > m_maxReplyBytes))
        stop(RequestLimits::tooLargeText());
}

void ReplyLimiter::stop(const QString& why)
{
    if (m_reply->isFinished() || m_failure)
        return;
    m_failure = why;
    m_deadline.stop();
    // Finishes the reply at once: the caller's finished() handler runs inside this call.
    m_reply->abort();
}
