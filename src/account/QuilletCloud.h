#pragma once

#include "format/Result.h"
#include "network/TransportError.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QMap>
#include <QNetworkReply>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

class QNetworkAccessManager;
class Settings;

// The failure of a cloud call. description() is the text shown to the user.
struct CloudError
{
    enum class Kind { Api, Network, Malformed };

    Kind kind = Kind::Malformed;
    // Api: the server's error code and message (or "http_<status>" and the fallback text).
    QString code;
    QString message;
    int status = 0;
    // Network: the transport failure, in words for the user and as the network layer put it.
    QNetworkReply::NetworkError networkError = QNetworkReply::NoError;
    QString networkDescription;
    QString networkDetail;

    static CloudError api(const QString& code, const QString& message, int status);
    static CloudError network(QNetworkReply::NetworkError error, const TransportError& transport);
    static CloudError malformed();

    QString description() const;
};

// The client of the cloud account server: sign-in by e-mail code or link, the account with its
// monthly allowance, sign-out, and public links for summaries. It keeps no state; each call
// reads the base URL afresh (the setting "quilletCloudBase" may replace the built-in one).
// Replies are decoded strictly: a required key must hold a value of its JSON type (a JSON
// true is a Bool, 0 and 1 are not), or the whole reply is malformed. Use from the thread that
// owns the network access manager; results arrive there.
class QuilletCloud final
{
public:
    struct AccountInfo
    {
        struct Usage
        {
            double minutesUsed = 0;
            double quotaMinutes = 0;
            double resetsAt = 0;
            std::optional<bool> unlimited;
            friend bool operator==(const Usage&, const Usage&) = default;
        };
        struct RemoteConfig
        {
            double quotaMinutes = 0;
            bool analyticsEnabled = false;
            bool analyticsFree = false;
            friend bool operator==(const RemoteConfig&, const RemoteConfig&) = default;
        };

        QString userId;
        QString email;
        bool emailOptIn = false;
        Usage usage;
        RemoteConfig config;

        static std::optional<AccountInfo> fromJson(const QJsonValue& json);
        friend bool operator==(const AccountInfo&, const AccountInfo&) = default;
    };

    struct VerifyResult
    {
        QString sessionToken;
        QString userId;
        QString email;
        static std::optional<VerifyResult> fromJson(const QJsonValue& json);
    };

    struct ShareResult
    {
        QString id;
        QString url;
        static std::optional<ShareResult> fromJson(const QJsonValue& json);
    };

    // Any well-formed JSON value: an object, an array, a scalar or null.
    struct EmptyOK
    {
        static std::optional<EmptyOK> fromJson(const QJsonValue&) { return EmptyOK {}; }
    };

    // Who a share is sent as: the cloud session, or the provider sign-in with its e-mail.
    struct ShareAuthorization
    {
        QString bearer;
        std::optional<QString> email;
    };

    using JsonBody = QMap<QString, QString>;

    // What came back from the server before decoding: a status when it answered over HTTP.
    struct RawReply
    {
        std::optional<int> status;
        QByteArray body;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        // Set when no answer came.
        std::optional<TransportError> transport;
    };

    // Both the longest silence and the longest whole call.
    static constexpr int kTimeoutMs = 20'000;

    QuilletCloud(Settings& settings, QNetworkAccessManager& network, QUrl builtInBase);

    // Shortens the whole-call limit; tests use it.
    void setRequestDeadline(std::chrono::milliseconds deadline);

    // The override in "quilletCloudBase" when it is an absolute http(s) URL with a host,
    // else the built-in base.
    QUrl baseUrl() const;

    // Sends one call and hands the decoded reply to done, unless receiver was destroyed first.
    template <typename T>
    void request(const QByteArray& method, const QString& path, const std::optional<JsonBody>& json,
        const std::optional<QString>& bearer, QObject* receiver, std::function<void(Result<T, CloudError>)> done) const
    {
        send(method, path, json, bearer, receiver,
            [done = std::move(done)](const RawReply& raw) { done(decode<T>(raw)); });
    }

    void requestSignIn(
        const QString& email, QObject* receiver, std::function<void(Result<EmptyOK, CloudError>)> done) const;
    void verify(const QString& email, const QString& code, QObject* receiver,
        std::function<void(Result<VerifyResult, CloudError>)> done) const;
    void verify(
        const QString& token, QObject* receiver, std::function<void(Result<VerifyResult, CloudError>)> done) const;
    void me(const QString& sessionToken, QObject* receiver,
        std::function<void(Result<AccountInfo, CloudError>)> done) const;
    void signOut(
        const QString& sessionToken, QObject* receiver, std::function<void(Result<EmptyOK, CloudError>)> done) const;
    // Publishes a meeting summary; the reply's url is the public link.
    void share(const ShareAuthorization& authorization, const QString& title, const QString& summary,
        const QDateTime& date, double durationSeconds, QObject* receiver,
        std::function<void(Result<ShareResult, CloudError>)> done) const;

    // The body of a share: "Untitled meeting" for an empty title, the date in UTC without
    // fractions, the duration in whole seconds (fraction dropped) as text, and "email" only
    // when given.
    static JsonBody shareBody(const QString& title, const QString& summary, const QDateTime& date,
        double durationSeconds, const std::optional<QString>& email);

    // Turns what the server sent into the reply record or the error.
    template <typename T> static Result<T, CloudError> decode(const RawReply& raw)
    {
        if (!raw.status) {
            if (!raw.transport)
                return CloudError::malformed();
            return CloudError::network(raw.error, *raw.transport);
        }
        const int status = *raw.status;
        if (status >= 200 && status <= 299) {
            const std::optional<QJsonValue> json = parseJson(raw.body);
            if (!json)
                return CloudError::malformed();
            std::optional<T> value = T::fromJson(*json);
            if (!value)
                return CloudError::malformed();
            return std::move(*value);
        }
        return errorFromBody(status, raw.body);
    }

    // Any JSON value, scalars included (QJsonDocument alone refuses a top-level scalar).
    static std::optional<QJsonValue> parseJson(const QByteArray& body);

private:
    static CloudError errorFromBody(int status, const QByteArray& body);

    void send(const QByteArray& method, const QString& path, const std::optional<JsonBody>& json,
        const std::optional<QString>& bearer, QObject* receiver, std::function<void(const RawReply&)> done) const;

    Settings& m_settings;
    QNetworkAccessManager& m_network;
    QUrl m_builtInBase;
    std::chrono::milliseconds m_deadline { kTimeoutMs };
};
