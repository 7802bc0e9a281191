#pragma once

// The provider's chat answers as a test's local server hands them out: a whole completion, or
// an answer streamed as server-sent events, one chunk of the reply at a time.
//
//   server.on("POST", "/v1/chat/completions", ProviderAnswers::completion("## Plan"));
//   server.on("POST", "/v1/chat/completions",
//       ProviderAnswers::streamed({ ProviderAnswers::streamEvent("Hel"), "data: [DONE]\n\n" }));

#include "support/FakeHttpServer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace ProviderAnswers {

// A whole answer whose message says `content`.
inline FakeHttpServer::Reply completion(const QString& content)
{
    const QJsonObject message { { QStringLiteral("content"), content } };
    const QJsonObject choice { { QStringLiteral("message"), message } };
    return FakeHttpServer::Reply::json(
        200, QJsonDocument(QJsonObject { { QStringLiteral("choices"), QJsonArray { choice } } }).toJson());
}

// One event of a streamed answer, adding `content` to the text so far.
inline QByteArray streamEvent(const QString& content)
{
    const QJsonObject delta { { QStringLiteral("content"), content } };
    const QJsonObject choice { { QStringLiteral("delta"), delta } };
    return "data: "
        + QJsonDocument(QJsonObject { { QStringLiteral("choices"), QJsonArray { choice } } })
              .toJson(QJsonDocument::Compact)
        + "\n\n";
}

// A streamed answer sent in these chunks, each flushed on its own.
inline FakeHttpServer::Reply streamed(const QList<QByteArray>& chunks)
{
    FakeHttpServer::Reply reply;
    reply.contentType = "text/event-stream";
    reply.chunks = chunks;
    return reply;
}

} // namespace ProviderAnswers
