#pragma once

#include "account/ModelCredentials.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>

// The provider's chat-completions request, shared by summaries and titles (one whole reply)
// and the meeting chat (a streamed reply).
namespace ChatCompletions {

inline constexpr std::chrono::seconds kTimeout { 120 };
inline constexpr double kTemperature = 0.3;
// Summaries and titles always ask for the service's automatic model choice.
inline constexpr QStringView kSummaryModel = u"fast";

struct Message
{
    QString role;
    QString content;

    friend bool operator==(const Message&, const Message&) = default;
};

// The base URL with "v1/chat/completions" appended as path components (a base with or
// without a trailing slash, or with a path of its own, keeps everything it has).
QUrl endpoint(const QUrl& baseUrl);

// POST request with the bearer token, JSON content type and the 120 s limit; a streamed
// request also asks caches to stay out of the way.
QNetworkRequest request(const ModelCredentials& credentials, bool streamed);

// The JSON body: model, temperature, max_tokens and messages, plus "stream": true when streamed.
QByteArray body(const QString& model, const QList<Message>& messages, int maxTokens, bool streamed);

} // namespace ChatCompletions
