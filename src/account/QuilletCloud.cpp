#include "account/QuilletCloud.h"

#include "account/UrlPath.h"
#include "network/ReplyLimiter.h"
#include "platform/Settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <cmath>

namespace {

// Strict readers of a required key: absent, null or another JSON type gives nothing.
std::optional<QString> stringAt(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

std::optional<double> numberAt(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

std::optional<bool> boolAt(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isBool() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

} // namespace

CloudError CloudError::api(const QString& code, const QString& message, int status)
{
    CloudError error;
    error.kind = Kind::Api;
    error.code = code;
    error.message = message;
    error.status = status;
    return error;
}

CloudError CloudError::network(QNetworkReply::NetworkError networkError, const TransportError& transport)
{
    CloudError error;
    error.kind = Kind::Network;
    error.networkError = networkError;
    error.networkDescription = transport.description();
    error.networkDetail = transport.detail;
    return error;
}

CloudError CloudError::malformed()
{
    return CloudError {};
}

QString CloudError::description() const
{
    switch (kind) {
    case Kind::Api:
        return message;
    case Kind::Network:
        return networkDescription;
    case Kind::Malformed:
        break;
    }
    return QStringLiteral("Unexpected response from Quillet Cloud");
}

std::optional<QuilletCloud::AccountInfo> QuilletCloud::AccountInfo::fromJson(const QJsonValue& json)
{
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.toObject();
    const QJsonValue usageJson = object.value(QLatin1String("usage"));
    const QJsonValue configJson = object.value(QLatin1String("config"));
    if (!usageJson.isObject() || !configJson.isObject())
        return std::nullopt;
    const QJsonObject usage = usageJson.toObject();
    const QJsonObject config = configJson.toObject();

    const auto userId = stringAt(object, QStringLiteral("userId"));
    const auto email = stringAt(object, QStringLiteral("email"));
    const auto emailOptIn = boolAt(object, QStringLiteral("emailOptIn"));
    const auto minutesUsed = numberAt(usage, QStringLiteral("minutesUsed"));
    const auto quotaMinutes = numberAt(usage, QStringLiteral("quotaMinutes"));
    const auto resetsAt = numberAt(usage, QStringLiteral("resetsAt"));
    const auto configQuota = numberAt(config, QStringLiteral("quotaMinutes"));
    const auto analyticsEnabled = boolAt(config, QStringLiteral("analyticsEnabled"));
    const auto analyticsFree = boolAt(config, QStringLiteral("analyticsFree"));
    if (!userId || !email || !emailOptIn || !minutesUsed || !quotaMinutes || !resetsAt || !configQuota
        || !analyticsEnabled || !analyticsFree)
        return std::nullopt;

    // "unlimited" may be absent or null; any other value that is not a Bool spoils the reply.
    std::optional<bool> unlimited;
    const QJsonValue unlimitedJson = usage.value(QLatin1String("unlimited"));
    if (unlimitedJson.isBool())
        unlimited = unlimitedJson.toBool();
    else if (!unlimitedJson.isUndefined() && !unlimitedJson.isNull())
        return std::nullopt;

    AccountInfo info;
    info.userId = *userId;
    info.email = *email;
    info.emailOptIn = *emailOptIn;
    info.usage = { *minutesUsed, *quotaMinutes, *resetsAt, unlimited };
    info.config = { *configQuota, *analyticsEnabled, *analyticsFree };
    return info;
}

std::optional<QuilletCloud::VerifyResult> QuilletCloud::VerifyResult::fromJson(const QJsonValue& json)
{
    const QJsonObject object = json.toObject();
    const auto sessionToken = stringAt(object, QStringLiteral("sessionToken"));
    const auto userId = stringAt(object, QStringLiteral("userId"));
    const auto email = stringAt(object, QStringLiteral("email"));
    if (!json.isObject() || !sessionToken || !userId || !email)
        return std::nullopt;
    return VerifyResult { *sessionToken, *userId, *email };
}

std::optional<QuilletCloud::ShareResult> QuilletCloud::ShareResult::fromJson(const QJsonValue& json)
{
    const QJsonObject object = json.toObject();
    const auto id = stringAt(object, QStringLiteral("id"));
    const auto url = stringAt(object, QStringLiteral("url"));
    if (!json.isObject() || !id || !url)
        return std::nullopt;
    return ShareResult { *id, *url };
}

QuilletCloud::QuilletCloud(Settings& settings, QNetworkAccessManager& network, QUrl builtInBase)
    : m_settings(settings)
    , m_network(network)
    , m_builtInBase(std::move(builtInBase))
{ }

void QuilletCloud::setRequestDeadline(std::chrono::milliseconds deadline)
{
    m_deadline = deadline;
}

QUrl QuilletCloud::baseUrl() const
{
    if (const std::optional<QString> text = m_settings.stored(SettingsKeys::quilletCloudBase)) {
        // QUrl calls almost any text valid ("not a url" is a relative path), so insist on an
        // absolute web URL with a host.
        const QUrl url(*text, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http"))
            && !url.host().isEmpty())
            return url;
    }
    return m_builtInBase;
}

std::optional<QJsonValue> QuilletCloud::parseJson(const QByteArray& body)
{
    // Wrapping the body in an array lets the parser accept a scalar; exactly one element must
    // come out, so an empty body or two values side by side are refused.
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson('[' + body + ']', &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().first();
}

CloudError QuilletCloud::errorFromBody(int status, const QByteArray& body)
{
    if (const std::optional<QJsonValue> json = parseJson(body); json && json->isObject()) {
        const QJsonValue inner = json->toObject().value(QLatin1String("error"));
        if (inner.isObject()) {
            const auto code = stringAt(inner.toObject(), QStringLiteral("code"));
            const auto message = stringAt(inner.toObject(), QStringLiteral("message"));
            if (code && message)
                return CloudError::api(*code, *message, status);
        }
    }
    return CloudError::api(
        QStringLiteral("http_%1").arg(status), QStringLiteral("Quillet Cloud error (%1)").arg(status), status);
}

void QuilletCloud::send(const QByteArray& method, const QString& path, const std::optional<JsonBody>& json,
    const std::optional<QString>& bearer, QObject* receiver, std::function<void(const RawReply&)> done) const
{
    QNetworkRequest request(appendingPath(baseUrl(), path));
    if (bearer)
        request.setRawHeader("Authorization", "Bearer " + bearer->toUtf8());

    std::optional<QByteArray> body;
    if (json) {
        QJsonObject object;
        for (auto it = json->constBegin(); it != json->constEnd(); ++it)
            object.insert(it.key(), it.value());
        request.setRawHeader("Content-Type", "application/json");
        body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    QNetworkReply* reply = ReplyLimiter::send(m_network, request, method, body,
        { std::chrono::milliseconds(kTimeoutMs), m_deadline, RequestLimits::kJsonReplyBytes });

    const QPointer<QObject> guard(receiver);
    const bool guarded = receiver != nullptr;
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, guard, guarded, done = std::move(done)] {
        reply->deleteLater();
        if (guarded && !guard)
            return;
        RawReply raw;
        // A reply cut short by its limits is a failed transfer, whatever status came first.
        if (ReplyLimiter::failure(reply)) {
            raw.error
                = reply->error() == QNetworkReply::NoError ? QNetworkReply::OperationCanceledError : reply->error();
            raw.transport = TransportError::of(reply);
            done(raw);
            return;
        }
        // Qt flags 4xx and 5xx answers as errors too; a status means the server answered.
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid())
            raw.status = status.toInt();
        else
            raw.transport = TransportError::of(reply);
        raw.body = ReplyLimiter::body(reply);
        raw.error = reply->error();
        done(raw);
    });
}

void QuilletCloud::requestSignIn(
    const QString& email, QObject* receiver, std::function<void(Result<EmptyOK, CloudError>)> done) const
{
    request<EmptyOK>("POST", QStringLiteral("/v1/auth/request"), JsonBody { { QStringLiteral("email"), email } },
        std::nullopt, receiver, std::move(done));
}

void QuilletCloud::verify(const QString& email, const QString& code, QObject* receiver,
    std::function<void(Result<VerifyResult, CloudError>)> done) const
{
    request<VerifyResult>("POST", QStringLiteral("/v1/auth/verify"),
        JsonBody { { QStringLiteral("email"), email }, { QStringLiteral("code"), code } }, std::nullopt, receiver,
        std::move(done));
}

void QuilletCloud::verify(
    const QString& token, QObject* receiver, std::function<void(Result<VerifyResult, CloudError>)> done) const
{
    request<VerifyResult>("POST", QStringLiteral("/v1/auth/verify"), JsonBody { { QStringLiteral("token"), token } },
        std::nullopt, receiver, std::move(done));
}

void QuilletCloud::me(
    const QString& sessionToken, QObject* receiver, std::function<void(Result<AccountInfo, CloudError>)> done) const
{
    request<AccountInfo>("GET", QStringLiteral("/v1/me"), std::nullopt, sessionToken, receiver, std::move(done));
}

void QuilletCloud::signOut(
    const QString& sessionToken, QObject* receiver, std::function<void(Result<EmptyOK, CloudError>)> done) const
{
    request<EmptyOK>("POST", QStringLiteral("/v1/auth/signout"), JsonBody {}, sessionToken, receiver, std::move(done));
}

QuilletCloud::JsonBody QuilletCloud::shareBody(const QString& title, const QString& summary, const QDateTime& date,
    double durationSeconds, const std::optional<QString>& email)
{
    // Adding 0.0 turns the -0 of a small negative duration into 0.
    const double whole = std::isfinite(durationSeconds) ? std::trunc(durationSeconds) + 0.0 : 0.0;
    JsonBody body {
        { QStringLiteral("title"), title.isEmpty() ? QStringLiteral("Untitled meeting") : title },
        { QStringLiteral("summary"), summary },
        { QStringLiteral("date"), date.toUTC().toString(Qt::ISODate) },
        { QStringLiteral("duration"), QString::number(whole, 'f', 0) },
    };
    if (email)
        body.insert(QStringLiteral("email"), *email);
    return body;
}

void QuilletCloud::share(const ShareAuthorization& authorization, const QString& title, const QString& summary,
    const QDateTime& date, double durationSeconds, QObject* receiver,
    std::function<void(Result<ShareResult, CloudError>)> done) const
{
    request<ShareResult>("POST", QStringLiteral("/v1/shares"),
        shareBody(title, summary, date, durationSeconds, authorization.email), authorization.bearer, receiver,
        std::move(done));
}
