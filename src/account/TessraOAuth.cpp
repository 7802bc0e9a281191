#include "account/TessraOAuth.h"

#include "account/UrlPath.h"
#include "network/ReplyLimiter.h"
#include "network/TransportError.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QUrlQuery>
#include <vector>

namespace {

QString base64Url(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The body as text for an error, or the empty text when it is not valid UTF-8.
QString utf8OrEmpty(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(body);
    return decoder.hasError() ? QString() : text;
}

// A form value: percent-encoded as in a URL query, and "+" too, which a form reader would
// otherwise take for a space.
QString formValue(const QString& value)
{
    QUrlQuery one;
    one.addQueryItem(QStringLiteral("v"), value);
    return one.query(QUrl::FullyEncoded).mid(2).replace(QLatin1Char('+'), QLatin1String("%2B"));
}

TessraOAuth::AuthError authError(TessraOAuth::AuthError::Kind kind, int status = 0, const QString& message = {})
{
    return TessraOAuth::AuthError { kind, status, message };
}

} // namespace

struct TessraOAuth::Pending
{
    QString verifier;
    QString state;
    QPointer<QObject> receiver;
    bool guarded = false;
    Completion done;
    QPointer<QNetworkReply> exchange;
};

QString TessraOAuth::AuthError::description() const
{
    switch (kind) {
    case Kind::Server:
        return QStringLiteral("Sign-in failed (%1). Please try again.").arg(status);
    case Kind::Cancelled:
        return QStringLiteral("Sign-in cancelled.");
    case Kind::StateMismatch:
        return QStringLiteral("Security check failed — please try again.");
    case Kind::NoBrowser:
        // Trying again cannot help until a browser opens.
        return QStringLiteral("No web browser could be opened for the sign-in.");
    case Kind::Unreachable:
        return QStringLiteral("Couldn't sign in — try again.");
    case Kind::MissingCode:
        break;
    }
    return QStringLiteral("No authorization code received.");
}

TessraOAuth::TessraOAuth(
    QNetworkAccessManager& network, UrlOpener& browser, const Clock& clock, QUrl webOrigin, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_webOrigin(std::move(webOrigin))
    , m_wait(browser, clock)
{ }

TessraOAuth::~TessraOAuth()
{
    // Taken out first, so the aborted reply finds no sign-in to complete.
    const std::unique_ptr<Pending> pending = std::move(m_pending);
    if (pending && pending->exchange)
        pending->exchange->abort();
}

void TessraOAuth::setLimitCheckInterval(std::chrono::milliseconds interval)
{
    m_wait.setLimitCheckInterval(interval);
}

void TessraOAuth::setExchangeDeadline(std::chrono::milliseconds deadline)
{
    m_exchangeDeadline = deadline;
}

QString TessraOAuth::randomUrlSafe(int byteCount)
{
    if (byteCount <= 0)
        return {};
    std::vector<quint32> words(size_t((byteCount + 3) / 4));
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), byteCount);
    return base64Url(bytes);
}

QString TessraOAuth::challenge(const QString& verifier)
{
    return base64Url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QUrl TessraOAuth::authorizationUrl(const QString& challenge, const QString& state) const
{
    QUrlQuery query;
    query.setQueryItems({
        { QStringLiteral("client_id"), kClientId },
        { QStringLiteral("redirect_uri"), kRedirectUri },
        { QStringLiteral("response_type"), QStringLiteral("code") },
        { QStringLiteral("code_challenge"), challenge },
        { QStringLiteral("code_challenge_method"), QStringLiteral("S256") },
        { QStringLiteral("state"), state },
        { QStringLiteral("scope"), kScope },
    });
    QUrl url = appendingPath(m_webOrigin, QStringLiteral("/v1/auth/authorize"));
    url.setQuery(query);
    return url;
}

QByteArray TessraOAuth::tokenRequestBody(const QString& code, const QString& verifier)
{
    const std::pair<QString, QString> fields[] = {
        { QStringLiteral("grant_type"), QStringLiteral("authorization_code") },
        { QStringLiteral("code"), code },
        { QStringLiteral("code_verifier"), verifier },
        { QStringLiteral("client_id"), kClientId },
        { QStringLiteral("redirect_uri"), kRedirectUri },
    };
    QStringList pairs;
    for (const auto& [name, value] : fields)
        pairs.append(formValue(name) + QLatin1Char('=') + formValue(value));
    return pairs.join(QLatin1Char('&')).toUtf8();
}

TessraOAuth::Outcome TessraOAuth::sessionFromTokenReply(int status, const QByteArray& body)
{
    if (status != 200)
        return authError(AuthError::Kind::Server, status, utf8OrEmpty(body));

    const AuthError malformed = authError(AuthError::Kind::Server, 200, QStringLiteral("Malformed token response"));
    QJsonParseError parseError {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return malformed;
    const QJsonObject object = document.object();

    // Optional keys may be absent or null; present with another type spoils the reply.
    const auto optionalString = [&](const char* key, std::optional<QString>& out) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isString())
            out = value.toString();
        return value.isString() || value.isUndefined() || value.isNull();
    };
    std::optional<QString> apiKey;
    std::optional<QString> accessToken;
    const QJsonValue email = object.value(QLatin1String("email"));
    const QJsonValue balance = object.value(QLatin1String("balance"));
    if (!optionalString("api_key", apiKey) || !optionalString("access_token", accessToken) || !email.isString()
        || !(balance.isDouble() || balance.isUndefined() || balance.isNull()))
        return malformed;

    // An empty api_key is refused, not replaced by the access token.
    const std::optional<QString> key = apiKey ? apiKey : accessToken;
    if (!key || key->isEmpty())
        return malformed;
    return Session { *key, email.toString(),
        balance.isDouble() ? std::optional<double>(balance.toDouble()) : std::nullopt };
}

void TessraOAuth::signIn(QObject* receiver, Completion done)
{
    if (m_pending)
        finish(authError(AuthError::Kind::Cancelled));

    auto pending = std::make_unique<Pending>();
    pending->verifier = randomUrlSafe(64);
    pending->state = randomUrlSafe(32);
    pending->receiver = receiver;
    pending->guarded = receiver != nullptr;
    pending->done = std::move(done);
    const QUrl url = authorizationUrl(challenge(pending->verifier), pending->state);
    m_pending = std::move(pending);
    m_wait.start(url, [this](const BrowserAuthorization::Outcome& outcome) { redirected(outcome); });
}

void TessraOAuth::handleCallback(const QUrl& url)
{
    m_wait.redirected(url);
}

void TessraOAuth::redirected(const BrowserAuthorization::Outcome& outcome)
{
    // finish() cancels the wait of the sign-in it ends, which then finds nothing pending.
    if (!m_pending)
        return;
    if (!outcome.ok()) {
        if (outcome.error() == BrowserAuthorization::Failure::CannotStart)
            finish(authError(AuthError::Kind::NoBrowser));
        else
            finish(authError(AuthError::Kind::Cancelled));
        return;
    }
    const QUrl& url = outcome.value();
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    // The state is checked before the code, and only the first item of each name counts.
    const auto first = [&](const QString& name) -> std::optional<QString> {
        for (const auto& [key, value] : items)
            if (key == name)
                return value;
        return std::nullopt;
    };
    const std::optional<QString> state = first(QStringLiteral("state"));
    if (!url.isValid() || items.isEmpty() || !state || *state != m_pending->state) {
        finish(authError(AuthError::Kind::StateMismatch));
        return;
    }
    const std::optional<QString> code = first(QStringLiteral("code"));
    if (!code || code->isEmpty()) {
        finish(authError(AuthError::Kind::MissingCode));
        return;
    }
    exchange(*code);
}

void TessraOAuth::cancel()
{
    if (m_pending)
        finish(authError(AuthError::Kind::Cancelled));
}

void TessraOAuth::exchange(const QString& code)
{
    QNetworkRequest request(appendingPath(m_webOrigin, QStringLiteral("/v1/auth/token")));
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    // The body carries the code and its verifier, which are as good as a key: they stay on
    // this origin like a bearer would.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    QNetworkReply* reply = ReplyLimiter::send(m_network, request, "POST", tokenRequestBody(code, m_pending->verifier),
        { kExchangeTimeout, m_exchangeDeadline, RequestLimits::kJsonReplyBytes });
    m_pending->exchange = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (!m_pending || m_pending->exchange != reply)
            return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (ReplyLimiter::failure(reply) || !status.isValid()) {
            const std::optional<TransportError> transport = TransportError::of(reply);
            finish(authError(
                AuthError::Kind::Unreachable, 0, transport ? transport->description() : reply->errorString()));
            return;
        }
        finish(sessionFromTokenReply(status.toInt(), ReplyLimiter::body(reply)));
    });
}

void TessraOAuth::finish(Outcome outcome)
{
    std::unique_ptr<Pending> pending = std::move(m_pending);
    // A wait still running belongs to this sign-in; its end finds no sign-in pending.
    m_wait.cancel();
    if (!pending)
        return;
    if (pending->exchange && pending->exchange->isRunning()) {
        QNetworkReply* reply = pending->exchange;
        pending->exchange = nullptr;
        reply->abort();
    }
    if (pending->guarded && !pending->receiver)
        return;
    if (pending->done)
        pending->done(outcome);
}
