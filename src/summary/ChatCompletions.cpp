#include "summary/ChatCompletions.h"

#include "account/UrlPath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ChatCompletions {

QUrl endpoint(const QUrl& baseUrl)
{
    return appendingPath(baseUrl, QStringLiteral("v1/chat/completions"));
}

QNetworkRequest request(const ModelCredentials& credentials, bool streamed)
{
    QNetworkRequest request(endpoint(credentials.baseUrl));
    request.setTransferTimeout(int(std::chrono::milliseconds(kTimeout).count()));
    request.setRawHeader("Authorization", "Bearer " + credentials.token.toUtf8());
    request.setRawHeader("Content-Type", "application/json");
    if (streamed)
        request.setRawHeader("Cache-Control", "no-cache");
    return request;
}

QByteArray body(const QString& model, const QList<Message>& messages, int maxTokens, bool streamed)
{
    QJsonArray list;
    for (const Message& message : messages)
        list.append(
            QJsonObject { { QStringLiteral("role"), message.role }, { QStringLiteral("content"), message.content } });
    QJsonObject object {
        { QStringLiteral("model"), model },
        { QStringLiteral("temperature"), kTemperature },
        { QStringLiteral("max_tokens"), maxTokens },
        { QStringLiteral("messages"), list },
    };
    if (streamed)
        object.insert(QStringLiteral("stream"), true);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace ChatCompletions
