#pragma once

#include "account/BrowserAuthorization.h"
#include "format/Result.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Clock;
class QNetworkAccessManager;
class QNetworkReply;
class UrlOpener;

// Signs the user in with the API provider: OAuth 2.0 authorization code with PKCE (S256), no
// client secret. The provider's page opens in the user's browser; the browser hands the
// redirect "quillet://callback?code=…&state=…" to the application, whose URL router passes it
// to handleCallback(). The code is then exchanged for a provider API key, the account's e-mail
// and its credit balance.
//
// The wait for the redirect is BrowserAuthorization's: a sign-in whose browser tab is simply
// closed ends as cancelled after ten minutes, and as soon as another sign-in starts.
class TessraOAuth final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TessraOAuth)

public:
    struct Session
    {
        QString key;
        QString email;
        std::optional<double> balance;
    };

    // Why a sign-in ended without a session; description() is what the user is shown.
    struct AuthError
    {
        enum class Kind {
            Server,
            Cancelled,
            StateMismatch,
            MissingCode,
            NoBrowser, // no web browser could be opened for the provider's page
            Unreachable, // the token request got no answer
        };
        Kind kind = Kind::Cancelled;
        int status = 0;
        // Server: the reply body or "Malformed token response"; Unreachable: the network's
        // reason. Never shown.
        QString message;

        QString description() const;
    };

    using Outcome = Result<Session, AuthError>;
    using Completion = std::function<void(const Outcome&)>;

    static inline const QString kClientId = QStringLiteral("quillet");
    static inline const QString kRedirectUri = QStringLiteral("quillet://callback");
    static inline const QString kScope = QStringLiteral("openid email");
    // The code exchange's longest silence, and by default its longest whole run.
    static constexpr std::chrono::seconds kExchangeTimeout { 60 };

    TessraOAuth(QNetworkAccessManager& network, UrlOpener& browser, const Clock& clock, QUrl webOrigin,
        QObject* parent = nullptr);
    ~TessraOAuth() override;

    // Starts a sign-in; done runs once with its outcome (not at all when receiver is destroyed
    // first). A sign-in still waiting is completed as cancelled first.
    void signIn(QObject* receiver, Completion done);

    // The redirect back from the provider. Ignored unless a sign-in waits for it.
    void handleCallback(const QUrl& url);

    // Ends a waiting sign-in as cancelled (what closing the sign-in window means).
    void cancel();

    // How often the ten-minute limit is checked against the clock; tests shorten it.
    void setLimitCheckInterval(std::chrono::milliseconds interval);
    // Shortens the whole-exchange limit; tests use it.
    void setExchangeDeadline(std::chrono::milliseconds deadline);

    // byteCount bytes from the system's secure random source, Base64URL without padding.
    static QString randomUrlSafe(int byteCount);
    // The S256 code challenge of a verifier: Base64URL of its SHA-256, without padding.
    static QString challenge(const QString& verifier);

    QUrl authorizationUrl(const QString& challenge, const QString& state) const;
    static QByteArray tokenRequestBody(const QString& code, const QString& verifier);
    // Reads the token endpoint's answer (status 200 and a key, or the Server error).
    static Outcome sessionFromTokenReply(int status, const QByteArray& body);

private:
    struct Pending;

    void redirected(const BrowserAuthorization::Outcome& outcome);
    void exchange(const QString& code);
    void finish(Outcome outcome);

    QNetworkAccessManager& m_network;
    QUrl m_webOrigin;
    BrowserAuthorization m_wait;
    std::chrono::milliseconds m_exchangeDeadline { kExchangeTimeout };
    std::unique_ptr<Pending> m_pending;
};
