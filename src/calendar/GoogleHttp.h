#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// What every request to Google shares: a limit of 20 seconds on the whole request and on any
// silence, a reply body of at most a few megabytes, and (for requests that carry a token, in a
// header or in the body) redirects within Google's own origin only.
namespace GoogleHttp {

// How a request ended before its body is judged.
struct Answer
{
    std::optional<QString> transportError; // no answer: why, in words for the user
    std::optional<int> status; // none (and no transport error): not an HTTP answer
    QByteArray body;
};

// Sends the request, which carries credentials. The reply belongs to the caller.
QNetworkReply* send(QNetworkAccessManager& network, QNetworkRequest request, const QByteArray& method,
    const std::optional<QByteArray>& body = std::nullopt);

// Reads a finished reply.
Answer answer(QNetworkReply* reply);

// The body as text; nothing when it is not valid UTF-8.
std::optional<QString> utf8(const QByteArray& body);

} // namespace GoogleHttp
