#pragma once

#include "account/AccountEndpoints.h"
#include "account/ModelCredentials.h"
#include "account/QuilletCloud.h"
#include "account/TessraOAuth.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class Clock;
class Keychain;
class QNetworkAccessManager;
class Settings;
class UrlOpener;

// Who the user is and with which credential model calls are made: the cloud account's session
// (signed in by e-mail code or link), the provider key from the provider's OAuth sign-in with
// its e-mail and credit balance, and the user's own provider key. Secrets are mirrored in the
// keychain; nothing else is stored. One instance, made at start-up and handed to whoever needs
// it; main thread only. Asynchronous operations never fail to their caller: failures end up in
// flowError or the log. Their optional completion runs when the operation is over.
class AccountService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountService)

public:
    enum class FlowKind { Idle, Sending, CodeSent, Verifying };
    Q_ENUM(FlowKind)

    // The e-mail sign-in: idle, sending the request, waiting for the code or link sent to
    // email (already trimmed and lower-cased), or checking a code or link.
    struct Flow
    {
        FlowKind kind = FlowKind::Idle;
        QString email; // CodeSent only

        static Flow idle() { return {}; }
        static Flow sending() { return { FlowKind::Sending, {} }; }
        static Flow codeSent(const QString& email) { return { FlowKind::CodeSent, email }; }
        static Flow verifying() { return { FlowKind::Verifying, {} }; }

        friend bool operator==(const Flow& a, const Flow& b)
        {
            return a.kind == b.kind && (a.kind != FlowKind::CodeSent || a.email == b.email);
        }
    };

    // The credentials a keyring refused to keep: each works for this run and is gone at the
    // next start.
    enum class Secret {
        session = 0x1, // the cloud account's e-mail sign-in
        providerSignIn = 0x2, // the provider's own sign-in
        ownKey = 0x4, // the provider key the user typed in
    };
    Q_DECLARE_FLAGS(Secrets, Secret)
    Q_FLAG(Secrets)

    using Completion = std::function<void()>;

    Q_PROPERTY(FlowKind flowKind READ flowKind NOTIFY flowChanged)
    Q_PROPERTY(QString flowEmail READ flowEmail NOTIFY flowChanged)
    Q_PROPERTY(std::optional<QString> flowError READ flowError WRITE setFlowError NOTIFY flowErrorChanged)
    Q_PROPERTY(bool tessraSigningIn READ tessraSigningIn NOTIFY tessraSigningInChanged)
    Q_PROPERTY(int resendCooldown READ resendCooldown NOTIFY resendCooldownChanged)
    Q_PROPERTY(bool needsReauth READ needsReauth NOTIFY needsReauthChanged)
    Q_PROPERTY(QString byoKey READ byoKey WRITE setByoKey NOTIFY byoKeyChanged)
    Q_PROPERTY(std::optional<QString> sessionToken READ sessionToken NOTIFY sessionTokenChanged)
    Q_PROPERTY(std::optional<QString> tessraKey READ tessraKey NOTIFY tessraKeyChanged)
    Q_PROPERTY(std::optional<QString> tessraEmail READ tessraEmail NOTIFY tessraEmailChanged)
    Q_PROPERTY(std::optional<double> tessraBalance READ tessraBalance NOTIFY tessraBalanceChanged)
    Q_PROPERTY(std::optional<QString> linkSignInQuestion READ linkSignInQuestion NOTIFY linkSignInQuestionChanged)
    Q_PROPERTY(std::optional<QString> linkSignInFailure READ linkSignInFailure NOTIFY linkSignInQuestionChanged)
    Q_PROPERTY(Secrets unkeptSecrets READ unkeptSecrets NOTIFY unkeptSecretsChanged)
    // Computed from the above; announced by changed().
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY changed)
    Q_PROPERTY(std::optional<QString> displayEmail READ displayEmail NOTIFY changed)
    Q_PROPERTY(bool hasByoKey READ hasByoKey NOTIFY changed)
    Q_PROPERTY(bool hasUnlimitedMinutes READ hasUnlimitedMinutes NOTIFY changed)
    Q_PROPERTY(bool allowanceExhausted READ allowanceExhausted NOTIFY changed)

    // Keychain account names of the mirrored secrets.
    static inline const QString kSessionTokenAccount = QStringLiteral("quillet-session-token");
    static inline const QString kByoKeyAccount = QStringLiteral("tessra-byo-key");
    static inline const QString kOAuthKeyAccount = QStringLiteral("tessra-oauth-key");
    static inline const QString kOAuthEmailAccount = QStringLiteral("tessra-oauth-email");
    static constexpr int kResendCooldownSeconds = 60;
    static constexpr int kBalanceTimeoutMs = 15'000;
    // How long after the user asked for a sign-in e-mail its link is taken without a question.
    // The server does not say how long its links last; this is about as long as such links do.
    static constexpr std::chrono::minutes kSignInLinkLifetime { 15 };

    // Loads the stored secrets (and moves a legacy own key into the keychain). The account
    // record and the balance arrive with the first refresh().
    AccountService(Keychain& keychain, Settings& settings, QuilletCloud& cloud, TessraOAuth& oauth, UrlOpener& browser,
        QNetworkAccessManager& network, const Clock& clock, const AccountEndpoints& endpoints,
        QObject* parent = nullptr);
    ~AccountService() override;

    // Published state.
    Flow flow() const { return m_flow; }
    FlowKind flowKind() const { return m_flow.kind; }
    QString flowEmail() const { return m_flow.email; }
    std::optional<QString> flowError() const { return m_flowError; }
    bool tessraSigningIn() const { return m_tessraSigningIn; }
    int resendCooldown() const { return m_resendCooldown; }
    const std::optional<QuilletCloud::AccountInfo>& account() const { return m_account; }
    bool needsReauth() const { return m_needsReauth; }
    QString byoKey() const { return m_byoKey; }
    std::optional<QString> sessionToken() const { return m_sessionToken; }
    std::optional<QString> tessraKey() const { return m_tessraKey; }
    std::optional<QString> tessraEmail() const { return m_tessraEmail; }
    std::optional<double> tessraBalance() const { return m_tessraBalance; }
    // The account a sign-in link would sign in as, while it waits for the user's word. It is
    // dropped once the account changes (a sign-in of the user's own, a sign-out): asked again
    // afterwards, it would be put to someone in another situation than the one it came in.
    std::optional<QString> linkSignInQuestion() const;
    // Why a sign-in link that would have been asked about could not be checked, in words,
    // until the user has read it; never at the same time as a question.
    std::optional<QString> linkSignInFailure() const { return m_linkFailure; }
    // Which of the credentials in force the keyring did not take (none there, or it refused).
    Secrets unkeptSecrets() const { return m_unkept; }

    // The views set these directly ("Use a different email" resets the flow).
    void setFlow(const Flow& flow);
    void setFlowError(const std::optional<QString>& error);
    // Every assignment stores the key, trimmed, in the keychain, or deletes the item when the
    // trimmed key is empty; the published value stays as typed. A key the keychain refuses is
    // in force all the same, and unkeptSecrets says so.
    void setByoKey(const QString& key);

    bool isSignedIn() const { return m_sessionToken.has_value() || m_tessraKey.has_value(); }
    std::optional<QString> displayEmail() const;
    bool hasByoKey() const { return !m_byoKey.trimmed().isEmpty(); }

    // Brings the provider balance and the account record up to date. An "unauthorized" answer
    // drops the cloud session; other failures are logged and change nothing.
    void refresh(Completion done = {});
    // Tells the server when a session is held (failures ignored), then forgets the session and
    // the provider sign-in. The own key stays.
    void signOut(Completion done = {});

    // E-mail sign-in.
    void sendSignInEmail(const QString& email, Completion done = {});
    void verifyCode(const QString& code, Completion done = {});
    // Any URL the application was asked to open; acts on "quillet://auth?token=…" only.
    //
    // Any web page or mail can hand the application such a link. It signs in at once only as
    // the answer to a sign-in e-mail the user asked for (kSignInLinkLifetime ago at most, also
    // across a restart), for the address asked for, while nobody is signed in and no recording
    // runs. Otherwise the link is checked with the server, and the account it names is put to
    // the user as linkSignInQuestion; nothing changes until answerLinkSignIn(true). A link that
    // comes while a question waits is ignored.
    void handleOpenURL(const QUrl& url);
    // The user's answer to linkSignInQuestion: yes signs in as that account; no drops the link.
    void answerLinkSignIn(bool agreed);
    // The user has read linkSignInFailure.
    void dismissLinkSignInFailure();
    // Whether a recording is under way, or its transcript and summary still to come (the
    // summary is sent with the session of its stop); none: never.
    void setRecordingCheck(std::function<bool()> isRecording);

    // Provider sign-in and credit.
    void signInWithTessra(Completion done = {});
    void refreshTessraBalance(Completion done = {});
    void topUpTessra();

    // The credential every model call uses: the own key, else the provider sign-in key, else
    // the cloud session (with the cloud base as it is configured now); nothing without any.
    std::optional<ModelCredentials> modelCredentials() const;
    bool hasUnlimitedMinutes() const;
    bool allowanceExhausted() const;
    static bool allowanceExhausted(const std::optional<QuilletCloud::AccountInfo>& account);

    // Who a summary share is sent as: the cloud session, else the provider sign-in with its
    // e-mail; nothing with neither (an own key does not count).
    std::optional<QuilletCloud::ShareAuthorization> shareAuthorization() const;

    // How often the resend countdown reads the clock; tests shorten it.
    void setCountdownTickInterval(std::chrono::milliseconds interval);
    // Shortens the balance request's whole-request limit; tests use it.
    void setBalanceDeadline(std::chrono::milliseconds deadline);

signals:
    void flowChanged();
    void flowErrorChanged();
    void tessraSigningInChanged();
    void resendCooldownChanged();
    void accountChanged();
    void needsReauthChanged();
    void byoKeyChanged();
    void sessionTokenChanged();
    void tessraKeyChanged();
    void tessraEmailChanged();
    void tessraBalanceChanged();
    void linkSignInQuestionChanged();
    void unkeptSecretsChanged();
    // After any of the above.
    void changed();

private:
    template <typename T> void assign(T& field, const T& value, void (AccountService::*signal)());

    bool storeByoKey();
    void setKept(Secret secret, bool kept);
    void migrateLegacyKey();
    void refreshAccount(Completion done);
    void verifyLinkToken(const QString& token);
    std::optional<QString> requestedEmail() const;
    bool mayChangeSessionUnasked() const;
    void askAboutLink(const QuilletCloud::VerifyResult& verified);
    void failLinkCheck(const CloudError& error);
    void dropLinkQuestion();
    void completeSignIn(const QuilletCloud::VerifyResult& result);
    void startResendCooldown();
    void stopResendCooldown();
    void tickResendCooldown();
    void clearSignedInState();

    Keychain& m_keychain;
    Settings& m_settings;
    QuilletCloud& m_cloud;
    TessraOAuth& m_oauth;
    UrlOpener& m_browser;
    QNetworkAccessManager& m_network;
    const Clock& m_clock;
    AccountEndpoints m_endpoints;

    Flow m_flow;
    std::optional<QString> m_flowError;
    bool m_tessraSigningIn = false;
    int m_resendCooldown = 0;
    std::optional<QuilletCloud::AccountInfo> m_account;
    bool m_needsReauth = false;
    QString m_byoKey;
    std::optional<QString> m_sessionToken;
    std::optional<QString> m_tessraKey;
    std::optional<QString> m_tessraEmail;
    std::optional<double> m_tessraBalance;
    // A link's session and the account it names, waiting for the user's word.
    struct LinkQuestion
    {
        QuilletCloud::VerifyResult verified;
        QuilletCloud::AccountInfo account;
    };
    std::optional<LinkQuestion> m_linkQuestion;
    std::optional<QString> m_linkFailure;
    std::function<bool()> m_isRecording;
    Secrets m_unkept;

    QTimer m_cooldownTimer;
    std::chrono::milliseconds m_balanceDeadline { kBalanceTimeoutMs };
    QDateTime m_cooldownStartedAt;
    quint64 m_tessraAttempt = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(AccountService::Secrets)
