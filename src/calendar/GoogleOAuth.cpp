#include "calendar/GoogleOAuth.h"

#include "account/TessraOAuth.h"
#include "calendar/GoogleHttp.h"
#include "calendar/StrictJson.h"
#include "platform/Clock.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>

namespace {

using Error = GoogleOAuth::Error;

Error error(Error::Kind kind, const QString& text = {})
{
    return Error { kind, text };
}

Error exchangeFailed(const QString& text)
{
    return error(Error::Kind::TokenExchangeFailed, text);
}

} // namespace

// One sign-in, from opening the consent page to the user information.
struct GoogleOAuth::Pending
{
    QString verifier;
    QString state;
    QPointer<QObject> receiver;
    bool guarded = false;
    std::function<void(const Result<SignedIn, Error>&)> done;
    QPointer<QNetworkReply> request; // the token or user-information request in flight
};

struct GoogleOAuth::TokenResponse
{
    QString accessToken;
    qint64 expiresIn = 0;
    std::optional<QString> refreshToken;

    static std::optional<TokenResponse> fromJson(const QJsonValue& value)
    {
        StrictJson json(value);
        TokenResponse response { json.string("access_token"), json.integer("expires_in"),
            json.optionalString("refresh_token") };
        json.optionalString("token_type");
        json.optionalString("scope");
        return json.ok() ? std::optional(response) : std::nullopt;
    }
};

std::optional<QString> GoogleOAuth::Config::redirectScheme() const
{
    const QStringList pieces = clientID.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return std::nullopt;
    return kRedirectSchemePrefix + pieces.first();
}

std::optional<QString> GoogleOAuth::Config::redirectURI() const
{
    const std::optional<QString> scheme = redirectScheme();
    return scheme ? std::optional(*scheme + QStringLiteral(":/oauth2redirect")) : std::nullopt;
}

GoogleOAuth::Config GoogleOAuth::Config::builtIn()
{
    return {
        QStringLiteral(QUILLET_GOOGLE_CLIENT_ID),
        QStringLiteral(QUILLET_GOOGLE_CLIENT_SECRET),
        QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth")),
        QUrl(QStringLiteral("https://oauth2.googleapis.com/token")),
        QUrl(QStringLiteral("https://openidconnect.googleapis.com/v1/userinfo")),
        QUrl(QStringLiteral("https://www.googleapis.com/calendar/v3/")),
    };
}

QString GoogleOAuth::Error::description() const
{
    switch (kind) {
    case Kind::TokenExchangeFailed:
        return QStringLiteral("Google token exchange failed: ") + text;
    case Kind::NotConfigured:
        return QStringLiteral("Google isn't set up yet — add the OAuth Client ID first.");
    case Kind::CannotStart:
        // The sign-in is a page in the user's browser; trying again cannot help until one opens.
        return QStringLiteral("No web browser could be opened for the Google sign-in.");
    case Kind::Cancelled:
        return QStringLiteral("Google sign-in was cancelled.");
    case Kind::NoCode:
        return QStringLiteral("Google didn't return an authorization code.");
    case Kind::StateMismatch:
        return QStringLiteral("Google sign-in failed a security check.");
    case Kind::Transport:
        break;
    }
    return text;
}

GoogleOAuth::GoogleOAuth(
    QNetworkAccessManager& network, UrlOpener& browser, const Clock& clock, Config config, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_clock(clock)
    , m_config(std::move(config))
    , m_wait(browser, clock)
{
    connect(&m_wait, &BrowserAuthorization::waitingChanged, this, &GoogleOAuth::waitingForBrowserChanged);
}

GoogleOAuth::~GoogleOAuth()
{
    // Taken out first, so the aborted request finds no sign-in to complete.
    const std::unique_ptr<Pending> pending = std::move(m_pending);
    if (pending && pending->request)
        pending->request->abort();
}

void GoogleOAuth::setLimitCheckInterval(std::chrono::milliseconds interval)
{
    m_wait.setLimitCheckInterval(interval);
}

QUrl GoogleOAuth::authorizationUrl(const QString& challenge, const QString& state) const
{
    // QUrlQuery writes each space of the scope list as %20.
    QUrlQuery query;
    query.setQueryItems({
        { QStringLiteral("response_type"), QStringLiteral("code") },
        { QStringLiteral("client_id"), m_config.clientID },
        { QStringLiteral("redirect_uri"), m_config.redirectURI().value_or(QString()) },
        { QStringLiteral("scope"), kScopes.join(QLatin1Char(' ')) },
        { QStringLiteral("state"), state },
        { QStringLiteral("code_challenge"), challenge },
        { QStringLiteral("code_challenge_method"), QStringLiteral("S256") },
        { QStringLiteral("access_type"), QStringLiteral("offline") },
        { QStringLiteral("prompt"), QStringLiteral("consent") },
    });
    QUrl url = m_config.authEndpoint;
    url.setQuery(query);
    return url;
}

QByteArray GoogleOAuth::formEncode(const QList<std::pair<QString, QString>>& form)
{
    QByteArrayList pairs;
    for (const auto& [key, value] : form)
        pairs.append(QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value));
    return pairs.join('&');
}

void GoogleOAuth::signIn(QObject* receiver, std::function<void(const Result<SignedIn, Error>&)> done)
{
    const QPointer<QObject> guard(receiver);
    if (m_config.clientID.isEmpty() || !m_config.redirectURI()) {
        if (!receiver || guard)
            done(error(Error::Kind::NotConfigured));
        return;
    }
    if (m_pending)
        finish(error(Error::Kind::Cancelled));

    auto pending = std::make_unique<Pending>();
    pending->verifier = TessraOAuth::randomUrlSafe(64);
    pending->state = TessraOAuth::randomUrlSafe(64);
    pending->receiver = receiver;
    pending->guarded = receiver != nullptr;
    pending->done = std::move(done);
    const QUrl url = authorizationUrl(TessraOAuth::challenge(pending->verifier), pending->state);
    m_pending = std::move(pending);
    m_wait.start(url, [this](const BrowserAuthorization::Outcome& outcome) { redirected(outcome); });
}

void GoogleOAuth::handleRedirect(const QUrl& url)
{
    m_wait.redirected(url);
}

void GoogleOAuth::redirected(const BrowserAuthorization::Outcome& outcome)
{
    // finish() cancels the wait of the sign-in it ends, which then finds nothing pending.
    if (!m_pending)
        return;
    if (!outcome.ok()) {
        finish(error(outcome.error() == BrowserAuthorization::Failure::CannotStart ? Error::Kind::CannotStart
                                                                                   : Error::Kind::Cancelled));
        return;
    }
    const QUrl& url = outcome.value();
    if (!url.isValid() || !url.hasQuery()) {
        finish(error(Error::Kind::NoCode));
        return;
    }
    // The state first, then the code; only the first item of each name counts.
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    const auto first = [&](const QString& name) -> std::optional<QString> {
        for (const auto& [key, value] : items)
            if (key == name)
                return value;
        return std::nullopt;
    };
    const std::optional<QString> state = first(QStringLiteral("state"));
    if (!state || *state != m_pending->state) {
        finish(error(Error::Kind::StateMismatch));
        return;
    }
    // An empty code is no code: Google would only refuse it.
    const std::optional<QString> code = first(QStringLiteral("code"));
    if (!code || code->isEmpty()) {
        finish(error(Error::Kind::NoCode));
        return;
    }
    exchange(*code);
}

void GoogleOAuth::exchange(const QString& code)
{
    QList<std::pair<QString, QString>> form {
        { QStringLiteral("client_id"), m_config.clientID },
        { QStringLiteral("code"), code },
        { QStringLiteral("code_verifier"), m_pending->verifier },
        { QStringLiteral("grant_type"), QStringLiteral("authorization_code") },
        { QStringLiteral("redirect_uri"), m_config.redirectURI().value_or(QString()) },
    };
    const Pending* const started = m_pending.get();
    m_pending->request = postToken(std::move(form), [this, started](const Result<TokenResponse, Error>& result) {
        if (m_pending.get() != started)
            return;
        if (!result.ok()) {
            finish(result.error());
            return;
        }
        readUserInfo(tokensFrom(result.value(), std::nullopt));
    });
}

void GoogleOAuth::readUserInfo(const Tokens& tokens)
{
    QNetworkRequest request(m_config.userInfoEndpoint);
    request.setRawHeader("Authorization", "Bearer " + tokens.accessToken.toUtf8());
    QNetworkReply* reply = GoogleHttp::send(m_network, request, "GET");
    m_pending->request = reply;
    const Pending* const started = m_pending.get();
    connect(reply, &QNetworkReply::finished, this, [this, reply, started, tokens] {
        reply->deleteLater();
        if (m_pending.get() != started)
            return;
        const GoogleHttp::Answer answer = GoogleHttp::answer(reply);
        if (answer.transportError) {
            finish(error(Error::Kind::Transport, *answer.transportError));
            return;
        }
        const Error unreadable = exchangeFailed(QStringLiteral("couldn't read Google account"));
        const std::optional<QJsonObject> object = StrictJson::parseObject(answer.body);
        if (!answer.status || *answer.status < 200 || *answer.status > 299 || !object) {
            finish(unreadable);
            return;
        }
        StrictJson json(*object);
        UserInfo account { json.string("sub"), json.optionalString("email") };
        if (!json.ok()) {
            finish(unreadable);
            return;
        }
        finish(SignedIn { tokens, account });
    });
}

void GoogleOAuth::refresh(
    const QString& refreshToken, QObject* receiver, std::function<void(const Result<Tokens, Error>&)> done)
{
    const QPointer<QObject> guard(receiver);
    const bool guarded = receiver != nullptr;
    if (m_config.clientID.isEmpty()) {
        done(error(Error::Kind::NotConfigured));
        return;
    }
    QList<std::pair<QString, QString>> form {
        { QStringLiteral("client_id"), m_config.clientID },
        { QStringLiteral("refresh_token"), refreshToken },
        { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
    };
    postToken(std::move(form), [this, guard, guarded, refreshToken, done](const Result<TokenResponse, Error>& result) {
        if (guarded && !guard)
            return;
        if (!result.ok())
            done(result.error());
        else
            done(tokensFrom(result.value(), refreshToken));
    });
}

QNetworkReply* GoogleOAuth::postToken(
    QList<std::pair<QString, QString>> form, std::function<void(const Result<TokenResponse, Error>&)> done)
{
    if (!m_config.clientSecret.isEmpty())
        form.append({ QStringLiteral("client_secret"), m_config.clientSecret });
    QNetworkRequest request(m_config.tokenEndpoint);
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    QNetworkReply* reply = GoogleHttp::send(m_network, request, "POST", formEncode(form));
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        const GoogleHttp::Answer answer = GoogleHttp::answer(reply);
        if (answer.transportError) {
            done(error(Error::Kind::Transport, *answer.transportError));
            return;
        }
        if (!answer.status || *answer.status < 200 || *answer.status > 299) {
            done(exchangeFailed(GoogleHttp::utf8(answer.body).value_or(QStringLiteral("unknown error"))));
            return;
        }
        const std::optional<QJsonObject> object = StrictJson::parseObject(answer.body);
        const std::optional<TokenResponse> response
            = object ? TokenResponse::fromJson(*object) : std::optional<TokenResponse>();
        if (!response) {
            done(exchangeFailed(QStringLiteral("bad token response")));
            return;
        }
        done(*response);
    });
    return reply;
}

GoogleOAuth::Tokens GoogleOAuth::tokensFrom(
    const TokenResponse& response, const std::optional<QString>& keptRefreshToken) const
{
    // The clock is read once the answer is in: the token's life starts at Google's answer.
    return { response.accessToken, response.refreshToken ? response.refreshToken : keptRefreshToken,
        m_clock.now().addSecs(response.expiresIn) };
}

void GoogleOAuth::finish(const Result<SignedIn, Error>& result)
{
    std::unique_ptr<Pending> pending = std::move(m_pending);
    // A wait still running belongs to this sign-in; its end finds no sign-in pending.
    m_wait.cancel();
    if (!pending)
        return;
    if (pending->request && pending->request->isRunning()) {
        QNetworkReply* request = pending->request;
        pending->request = nullptr;
        request->abort();
    }
    if (pending->guarded && !pending->receiver)
        return;
    if (pending->done)
        pending->done(result);
}
