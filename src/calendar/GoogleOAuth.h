#pragma once

#include "account/BrowserAuthorization.h"
#include "format/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

class Clock;
class QNetworkAccessManager;
class QNetworkReply;
class UrlOpener;

// Connects a Google account for read-only calendar access: Google's OAuth 2.0 flow for installed
// applications with PKCE (S256). The consent page opens in the user's browser; Google sends the
// browser to the redirect URI of the application's own scheme, which the URL router hands to
// handleRedirect(). The code is then exchanged for tokens and the account's OpenID user
// information (its stable subject id and e-mail) is read. Later, refresh() turns a refresh token
// into a fresh access token. Stores nothing. Main thread only.
class GoogleOAuth final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GoogleOAuth)

public:
    // The client the application was built with and Google's addresses; tests point them at a
    // local server. With an empty client id Google is not set up and nothing is ever sent.
    struct Config
    {
        QString clientID;
        QString clientSecret; // empty: no "client_secret" is sent
        QUrl authEndpoint;
        QUrl tokenEndpoint;
        QUrl userInfoEndpoint;
        QUrl calendarBase; // the Calendar API, with its trailing slash

        // Google's prefix followed by the first non-empty piece of the client id split at ".";
        // nothing when there is no such piece.
        std::optional<QString> redirectScheme() const;
        // The scheme followed by ":/oauth2redirect".
        std::optional<QString> redirectURI() const;

        static Config builtIn();
    };

    static inline const QString kRedirectSchemePrefix = QStringLiteral("com.googleusercontent.apps.");
    static inline const QStringList kScopes { QStringLiteral("https://www.googleapis.com/auth/calendar.readonly"),
        QStringLiteral("openid"), QStringLiteral("email") };
    static constexpr std::chrono::seconds kRequestTimeout { 20 };

    struct Tokens
    {
        QString accessToken;
        std::optional<QString> refreshToken;
        QDateTime expiresAt;

        friend bool operator==(const Tokens&, const Tokens&) = default;
    };

    struct UserInfo
    {
        QString sub;
        std::optional<QString> email;
    };

    struct SignedIn
    {
        Tokens tokens;
        UserInfo account;
    };

    // Why a sign-in or refresh failed; description() is what the user is shown.
    struct Error
    {
        enum class Kind {
            TokenExchangeFailed, // text: what follows "Google token exchange failed: "
            NotConfigured,
            CannotStart,
            Cancelled,
            NoCode,
            StateMismatch,
            Transport, // the request got no answer; text: the network's own description
        };
        Kind kind = Kind::Cancelled;
        QString text;

        QString description() const;
    };

    GoogleOAuth(QNetworkAccessManager& network, UrlOpener& browser, const Clock& clock, Config config,
        QObject* parent = nullptr);
    ~GoogleOAuth() override;

    const Config& config() const { return m_config; }

    // Signs an account in. done runs exactly once (not at all when receiver is destroyed
    // first); with NotConfigured before anything opens when the client id gives no redirect
    // URI. A sign-in still running ends as cancelled first.
    void signIn(QObject* receiver, std::function<void(const Result<SignedIn, Error>&)> done);
    // A fresh access token; the refresh token passed in is kept when the answer has none.
    void refresh(
        const QString& refreshToken, QObject* receiver, std::function<void(const Result<Tokens, Error>&)> done);

    // The browser's redirect back to the redirect URI; ignored unless a sign-in waits for it.
    void handleRedirect(const QUrl& url);
    // A sign-in has its page open in the browser and waits for the redirect.
    bool isWaitingForBrowser() const { return m_wait.isWaiting(); }
    // Ends the sign-in that waits for the browser as cancelled; one already exchanging its code
    // goes on.
    void cancelBrowserWait() { m_wait.cancel(); }

    // How often the ten-minute limit of a sign-in is checked; tests shorten it.
    void setLimitCheckInterval(std::chrono::milliseconds interval);

signals:
    void waitingForBrowserChanged();

public:
    // The consent page's address: the query items in the order Google documents them.
    QUrl authorizationUrl(const QString& challenge, const QString& state) const;
    // A form body: every byte outside ASCII letters, digits and "-._~" percent-encoded.
    static QByteArray formEncode(const QList<std::pair<QString, QString>>& form);

private:
    struct Pending;
    struct TokenResponse;

    void redirected(const BrowserAuthorization::Outcome& outcome);
    void exchange(const QString& code);
    void readUserInfo(const Tokens& tokens);
    QNetworkReply* postToken(
        QList<std::pair<QString, QString>> form, std::function<void(const Result<TokenResponse, Error>&)> done);
    Tokens tokensFrom(const TokenResponse& response, const std::optional<QString>& keptRefreshToken) const;
    void finish(const Result<SignedIn, Error>& result);

    QNetworkAccessManager& m_network;
    const Clock& m_clock;
    const Config m_config;
    BrowserAuthorization m_wait;
    std::unique_ptr<Pending> m_pending;
};
