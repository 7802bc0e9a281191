#include "calendar/GoogleHttp.h"

#include "network/ReplyLimiter.h"
#include "network/TransportError.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>
#include <chrono>

namespace {

constexpr std::chrono::seconds kTimeout { 20 };

} // namespace

QNetworkReply* GoogleHttp::send(QNetworkAccessManager& network, QNetworkRequest request, const QByteArray& method,
    const std::optional<QByteArray>& body)
{
    // Token requests carry their secrets in the body, where the redirect rule for an
    // Authorization header does not see them.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    return ReplyLimiter::send(network, request, method, body, { kTimeout, kTimeout, RequestLimits::kJsonReplyBytes });
}

GoogleHttp::Answer GoogleHttp::answer(QNetworkReply* reply)
{
    if (ReplyLimiter::failure(reply))
        return { TransportError::of(reply)->description(), std::nullopt, {} };
    // Qt flags 4xx and 5xx answers as errors too; a status means the server answered.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        return { std::nullopt, status.toInt(), ReplyLimiter::body(reply) };
    if (const std::optional<TransportError> transport = TransportError::of(reply))
        return { transport->description(), std::nullopt, {} };
    return { std::nullopt, std::nullopt, ReplyLimiter::body(reply) };
}

std::optional<QString> GoogleHttp::utf8(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(body);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
