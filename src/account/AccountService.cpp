#include "account/AccountService.h"

#include "account/UrlPath.h"
#include "network/ReplyLimiter.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "system/Keychain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cmath>
#include <utility>

namespace {

// The message shown for a failed cloud call; the fallback covers an error that carries no text.
QString failureText(const CloudError& error, const QString& fallback)
{
    const QString text = error.description();
    return text.isEmpty() ? fallback : text;
}

void finished(const AccountService::Completion& done)
{
    if (done)
        done();
}

} // namespace

AccountService::AccountService(Keychain& keychain, Settings& settings, QuilletCloud& cloud, TessraOAuth& oauth,
    UrlOpener& browser, QNetworkAccessManager& network, const Clock& clock, const AccountEndpoints& endpoints,
    QObject* parent)
    : QObject(parent)
    , m_keychain(keychain)
    , m_settings(settings)
    , m_cloud(cloud)
    , m_oauth(oauth)
    , m_browser(browser)
    , m_network(network)
    , m_clock(clock)
    , m_endpoints(endpoints)
{
    m_cooldownTimer.setInterval(1000);
    connect(&m_cooldownTimer, &QTimer::timeout, this, &AccountService::tickResendCooldown);
    connect(this, &AccountService::sessionTokenChanged, this, &AccountService::dropLinkQuestion);
    connect(this, &AccountService::tessraKeyChanged, this, &AccountService::dropLinkQuestion);

    m_sessionToken = m_keychain.string(kSessionTokenAccount);
    // Before the own key is loaded, so that a migrated key is in force in this same run.
    migrateLegacyKey();
    m_byoKey = m_keychain.string(kByoKeyAccount).value_or(QString());
    // A stored key with blanks around it is written back trimmed; one of blanks only is deleted.
    // A refused write-back leaves the item as it was, which still holds the key.
    static_cast<void>(storeByoKey());
    m_tessraKey = m_keychain.string(kOAuthKeyAccount);
    m_tessraEmail = m_keychain.string(kOAuthEmailAccount);
}

AccountService::~AccountService() = default;

template <typename T> void AccountService::assign(T& field, const T& value, void (AccountService::*signal)())
{
    if (field == value)
        return;
    field = value;
    emit(this->*signal)();
    emit changed();
}

void AccountService::setFlow(const Flow& flow)
{
    // Two codeSent states for different addresses are different states.
    assign(m_flow, flow, &AccountService::flowChanged);
}

void AccountService::setFlowError(const std::optional<QString>& error)
{
    assign(m_flowError, error, &AccountService::flowErrorChanged);
}

void AccountService::setByoKey(const QString& key)
{
    assign(m_byoKey, key, &AccountService::byoKeyChanged);
    setKept(Secret::ownKey, storeByoKey());
}

bool AccountService::storeByoKey()
{
    const QString trimmed = m_byoKey.trimmed();
    if (!trimmed.isEmpty())
        return m_keychain.set(trimmed, kByoKeyAccount);
    // No key left to keep.
    m_keychain.remove(kByoKeyAccount);
    return true;
}

void AccountService::setKept(Secret secret, bool kept)
{
    Secrets unkept = m_unkept;
    unkept.setFlag(secret, !kept);
    assign(m_unkept, unkept, &AccountService::unkeptSecretsChanged);
}

void AccountService::migrateLegacyKey()
{
    const std::optional<QString> legacy = m_settings.stored(SettingsKeys::legacyTessraKey);
    if (!legacy || legacy->isEmpty())
        return;
    // When the keychain refuses the key it stays in the settings, to be moved at a later start
    // rather than lost.
    if (!m_keychain.set(*legacy, kByoKeyAccount))
        return;
    m_settings.remove(SettingsKeys::legacyTessraKey);
    m_settings.sync();
    Log::line("[Quillet] Migrated Tessra key from UserDefaults to Keychain");
}

std::optional<QString> AccountService::displayEmail() const
{
    if (m_tessraEmail)
        return m_tessraEmail;
    if (m_account)
        return m_account->email;
    return std::nullopt;
}

void AccountService::refresh(Completion done)
{
    if (!m_tessraKey) {
        refreshAccount(std::move(done));
        return;
    }
    refreshTessraBalance([this, done = std::move(done)] { refreshAccount(done); });
}

void AccountService::refreshAccount(Completion done)
{
    if (!m_sessionToken) {
        finished(done);
        return;
    }
    const QString sentToken = *m_sessionToken;
    m_cloud.me(sentToken, this, [this, sentToken, done](const Result<QuilletCloud::AccountInfo, CloudError>& result) {
        // A sign-out or a new sign-in while the call was out makes its answer stale: applying
        // it would wipe the new session or bring back the old account.
        if (m_sessionToken != sentToken) {
            finished(done);
            return;
        }
        if (result.ok()) {
            assign(m_account, std::optional(result.value()), &AccountService::accountChanged);
            assign(m_needsReauth, false, &AccountService::needsReauthChanged);
        } else if (result.error().kind == CloudError::Kind::Api
            && result.error().code == QLatin1String("unauthorized")) {
            assign(m_sessionToken, std::optional<QString>(), &AccountService::sessionTokenChanged);
            m_keychain.remove(kSessionTokenAccount);
            setKept(Secret::session, true);
            assign(m_account, std::optional<QuilletCloud::AccountInfo>(), &AccountService::accountChanged);
            assign(m_needsReauth, true, &AccountService::needsReauthChanged);
        } else {
            Log::line("[Quillet] Account refresh failed: %@", result.error().description());
        }
        finished(done);
    });
}

void AccountService::signOut(Completion done)
{
    if (!m_sessionToken) {
        clearSignedInState();
        finished(done);
        return;
    }
    m_cloud.signOut(*m_sessionToken, this, [this, done](const Result<QuilletCloud::EmptyOK, CloudError>&) {
        // Whatever the server said, the local session ends.
        clearSignedInState();
        finished(done);
    });
}

void AccountService::clearSignedInState()
{
    assign(m_sessionToken, std::optional<QString>(), &AccountService::sessionTokenChanged);
    m_keychain.remove(kSessionTokenAccount);
    assign(m_tessraKey, std::optional<QString>(), &AccountService::tessraKeyChanged);
    assign(m_tessraEmail, std::optional<QString>(), &AccountService::tessraEmailChanged);
    assign(m_tessraBalance, std::optional<double>(), &AccountService::tessraBalanceChanged);
    m_keychain.remove(kOAuthKeyAccount);
    m_keychain.remove(kOAuthEmailAccount);
    setKept(Secret::session, true);
    setKept(Secret::providerSignIn, true);
    assign(m_account, std::optional<QuilletCloud::AccountInfo>(), &AccountService::accountChanged);
    setFlow(Flow::idle());
    Log::line("[Quillet] Signed out");
}

void AccountService::sendSignInEmail(const QString& email, Completion done)
{
    const QString normalized = email.trimmed().toLower();
    setFlowError(std::nullopt);
    setFlow(Flow::sending());
    m_cloud.requestSignIn(
        normalized, this, [this, normalized, done](const Result<QuilletCloud::EmptyOK, CloudError>& result) {
            if (result.ok()) {
                setFlow(Flow::codeSent(normalized));
                startResendCooldown();
                m_settings.set(SettingsKeys::signInRequestedAt, m_clock.now().toMSecsSinceEpoch());
                m_settings.set(SettingsKeys::signInRequestedEmail, normalized);
            } else {
                setFlow(Flow::idle());
                setFlowError(failureText(result.error(), QStringLiteral("Couldn't send the email — try again")));
            }
            finished(done);
        });
}

void AccountService::verifyCode(const QString& code, Completion done)
{
    if (m_flow.kind != FlowKind::CodeSent) {
        finished(done);
        return;
    }
    const QString email = m_flow.email;
    setFlowError(std::nullopt);
    setFlow(Flow::verifying());
    m_cloud.verify(
        email, code, this, [this, email, done](const Result<QuilletCloud::VerifyResult, CloudError>& result) {
            if (result.ok()) {
                completeSignIn(result.value());
            } else {
                setFlow(Flow::codeSent(email));
                setFlowError(failureText(result.error(), QStringLiteral("That code isn't right.")));
            }
            finished(done);
        });
}

void AccountService::handleOpenURL(const QUrl& url)
{
    if (url.scheme() != QLatin1String("quillet") || url.host() != QLatin1String("auth"))
        return;
    // Read by hand: an item "token" without "=" has no value and is ignored, while "token="
    // carries the empty token on to the server.
    const QStringList items = url.query(QUrl::FullyEncoded).split(QLatin1Char('&'), Qt::SkipEmptyParts);
    for (const QString& item : items) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString name = QUrl::fromPercentEncoding(item.left(equals).toUtf8());
        if (name != QLatin1String("token"))
            continue;
        if (equals < 0)
            return;
        const QString token = QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
        // Started from the event loop, like any other reply, so the caller returns first.
        QMetaObject::invokeMethod(
            this, [this, token] { verifyLinkToken(token); }, Qt::QueuedConnection);
        return;
    }
}

void AccountService::verifyLinkToken(const QString& token)
{
    const std::optional<QString> requested = requestedEmail();
    if (!requested || !mayChangeSessionUnasked()) {
        // The token is spent by the check: one that could not be asked about is left alone.
        if (m_linkQuestion) {
            Log::line("[Quillet] Ignored a sign-in link: another one waits for an answer");
            return;
        }
        m_cloud.verify(token, this, [this](const Result<QuilletCloud::VerifyResult, CloudError>& result) {
            if (result.ok())
                askAboutLink(result.value());
            else
                failLinkCheck(result.error());
        });
        return;
    }
    // The answer to the e-mail the user asked for: taken in any state of the flow.
    const Flow before = m_flow;
    setFlowError(std::nullopt);
    setFlow(Flow::verifying());
    m_cloud.verify(token, this,
        [this, before, requested = *requested](const Result<QuilletCloud::VerifyResult, CloudError>& result) {
            if (!result.ok()) {
                setFlow(Flow::idle());
                setFlowError(failureText(result.error(), QStringLiteral("That link expired. Request a new one.")));
                return;
            }
            // Judged again now: a link for another address than the one asked for is not the
            // answer, and a sign-in or a recording may have begun during the check.
            if (result.value().email.trimmed().toLower() == requested && mayChangeSessionUnasked()) {
                completeSignIn(result.value());
                return;
            }
            if (m_flow == Flow::verifying())
                setFlow(before.kind == FlowKind::CodeSent ? before : Flow::idle());
            askAboutLink(result.value());
        });
}

std::optional<QString> AccountService::requestedEmail() const
{
    const std::optional<qint64> at = m_settings.stored(SettingsKeys::signInRequestedAt);
    const std::optional<QString> email = m_settings.stored(SettingsKeys::signInRequestedEmail);
    if (!at || !email || email->isEmpty())
        return std::nullopt;
    // A clock set back makes no request younger.
    const qint64 age = m_clock.now().toMSecsSinceEpoch() - *at;
    if (age < 0 || age > std::chrono::milliseconds(kSignInLinkLifetime).count())
        return std::nullopt;
    return email;
}

bool AccountService::mayChangeSessionUnasked() const
{
    // Signed in either way, a link would change the account the user works in; during a
    // recording, the account its summary goes to.
    return !isSignedIn() && !(m_isRecording && m_isRecording());
}

void AccountService::askAboutLink(const QuilletCloud::VerifyResult& verified)
{
    // The question names the account the server knows the new session by.
    m_cloud.me(
        verified.sessionToken, this, [this, verified](const Result<QuilletCloud::AccountInfo, CloudError>& result) {
            if (!result.ok()) {
                failLinkCheck(result.error());
                return;
            }
            if (m_linkQuestion) {
                Log::line("[Quillet] Ignored a sign-in link: another one waits for an answer");
                return;
            }
            m_linkFailure.reset();
            m_linkQuestion = LinkQuestion { verified, result.value() };
            Log::line("[Quillet] A sign-in link for %@ waits for an answer", result.value().email);
            emit linkSignInQuestionChanged();
            emit changed();
        });
}

void AccountService::failLinkCheck(const CloudError& error)
{
    const QString reason = failureText(error, QStringLiteral("That link expired. Request a new one."));
    setFlowError(reason);
    // Nobody asked for this link, so nobody waits for it in Settings: the window says it.
    if (m_linkQuestion || m_linkFailure == reason)
        return;
    m_linkFailure = reason;
    emit linkSignInQuestionChanged();
    emit changed();
}

void AccountService::dismissLinkSignInFailure()
{
    if (!std::exchange(m_linkFailure, std::nullopt))
        return;
    emit linkSignInQuestionChanged();
    emit changed();
}

void AccountService::dropLinkQuestion()
{
    if (!std::exchange(m_linkQuestion, std::nullopt))
        return;
    Log::line("[Quillet] Dropped a sign-in link that waited for an answer: the account changed");
    emit linkSignInQuestionChanged();
    emit changed();
}

std::optional<QString> AccountService::linkSignInQuestion() const
{
    if (!m_linkQuestion)
        return std::nullopt;
    return m_linkQuestion->account.email;
}

void AccountService::answerLinkSignIn(bool agreed)
{
    const std::optional<LinkQuestion> question = std::exchange(m_linkQuestion, std::nullopt);
    if (!question)
        return;
    emit linkSignInQuestionChanged();
    emit changed();
    if (!agreed) {
        Log::line("[Quillet] Sign-in link declined");
        return;
    }
    completeSignIn(question->verified);
    assign(m_account, std::optional(question->account), &AccountService::accountChanged);
}

void AccountService::setRecordingCheck(std::function<bool()> isRecording)
{
    m_isRecording = std::move(isRecording);
}

void AccountService::completeSignIn(const QuilletCloud::VerifyResult& result)
{
    assign(m_sessionToken, std::optional(result.sessionToken), &AccountService::sessionTokenChanged);
    setKept(Secret::session, m_keychain.set(result.sessionToken, kSessionTokenAccount));
    setFlow(Flow::idle());
    setFlowError(std::nullopt);
    assign(m_needsReauth, false, &AccountService::needsReauthChanged);
    stopResendCooldown();
    // The request is answered: a later link is asked about.
    m_settings.remove(SettingsKeys::signInRequestedAt);
    m_settings.remove(SettingsKeys::signInRequestedEmail);
    Log::line("[Quillet] Signed in as %@", result.email);
    QMetaObject::invokeMethod(
        this, [this] { refresh(); }, Qt::QueuedConnection);
}

void AccountService::setCountdownTickInterval(std::chrono::milliseconds interval)
{
    m_cooldownTimer.setInterval(int(interval.count()));
}

void AccountService::setBalanceDeadline(std::chrono::milliseconds deadline)
{
    m_balanceDeadline = deadline;
}

void AccountService::startResendCooldown()
{
    m_cooldownStartedAt = m_clock.now();
    assign(m_resendCooldown, int(kResendCooldownSeconds), &AccountService::resendCooldownChanged);
    m_cooldownTimer.start();
}

void AccountService::stopResendCooldown()
{
    m_cooldownTimer.stop();
    assign(m_resendCooldown, 0, &AccountService::resendCooldownChanged);
}

void AccountService::tickResendCooldown()
{
    // Counted from the clock rather than from the ticks, so late ticks do not slow it down; it
    // never counts back up when the clock is set back.
    const qint64 elapsed = std::max<qint64>(0, m_cooldownStartedAt.secsTo(m_clock.now()));
    const int left = int(std::max<qint64>(0, kResendCooldownSeconds - elapsed));
    assign(m_resendCooldown, std::min(left, m_resendCooldown), &AccountService::resendCooldownChanged);
    if (m_resendCooldown < 1)
        m_cooldownTimer.stop();
}

void AccountService::signInWithTessra(Completion done)
{
    setFlowError(std::nullopt);
    assign(m_tessraSigningIn, true, &AccountService::tessraSigningInChanged);
    const quint64 attempt = ++m_tessraAttempt;
    m_oauth.signIn(this, [this, attempt, done](const TessraOAuth::Outcome& outcome) {
        // A sign-in replaced by a newer one ends quietly and leaves the busy flag to the newer.
        if (attempt != m_tessraAttempt) {
            finished(done);
            return;
        }
        if (outcome.ok()) {
            const TessraOAuth::Session& session = outcome.value();
            assign(m_tessraKey, std::optional(session.key), &AccountService::tessraKeyChanged);
            assign(m_tessraEmail, std::optional(session.email), &AccountService::tessraEmailChanged);
            assign(m_tessraBalance, session.balance, &AccountService::tessraBalanceChanged);
            // The key is the sign-in; an e-mail that is not kept only shows as "Signed in" later.
            setKept(Secret::providerSignIn, m_keychain.set(session.key, kOAuthKeyAccount));
            m_keychain.set(session.email, kOAuthEmailAccount);
            assign(m_needsReauth, false, &AccountService::needsReauthChanged);
            Log::line("[Quillet] Signed in with Tessra as %@", session.email);
        } else if (outcome.error().kind != TessraOAuth::AuthError::Kind::Cancelled) {
            setFlowError(outcome.error().description());
        }
        assign(m_tessraSigningIn, false, &AccountService::tessraSigningInChanged);
        finished(done);
    });
}

void AccountService::refreshTessraBalance(Completion done)
{
    if (!m_tessraKey) {
        finished(done);
        return;
    }
    const QString sentKey = *m_tessraKey;
    QNetworkRequest request(appendingPath(m_endpoints.providerWeb, QStringLiteral("/v1/credits/balance")));
    request.setRawHeader("Authorization", "Bearer " + sentKey.toUtf8());
    const std::chrono::milliseconds idle(kBalanceTimeoutMs);
    QNetworkReply* reply = ReplyLimiter::send(
        m_network, request, "GET", std::nullopt, { idle, m_balanceDeadline, RequestLimits::kJsonReplyBytes });
    connect(reply, &QNetworkReply::finished, this, [this, reply, sentKey, done] {
        reply->deleteLater();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // Only a whole, readable balance for the key that is still signed in replaces the one
        // shown; a failure leaves it as it was.
        if (!ReplyLimiter::failure(reply) && status.isValid() && status.toInt() == 200 && m_tessraKey == sentKey) {
            const QJsonDocument document = QJsonDocument::fromJson(ReplyLimiter::body(reply));
            const QJsonValue balance = document.object().value(QLatin1String("balance"));
            if (document.isObject() && balance.isDouble())
                assign(m_tessraBalance, std::optional(balance.toDouble()), &AccountService::tessraBalanceChanged);
        }
        finished(done);
    });
}

void AccountService::topUpTessra()
{
    m_browser.open(appendingPath(m_endpoints.providerWeb, QStringLiteral("/billing")));
}

std::optional<ModelCredentials> AccountService::modelCredentials() const
{
    const QString ownKey = m_byoKey.trimmed();
    if (!ownKey.isEmpty())
        return ModelCredentials { m_endpoints.providerApi, ownKey, ModelCredentials::Kind::ownKey };
    if (m_tessraKey)
        return ModelCredentials { m_endpoints.providerApi, *m_tessraKey, ModelCredentials::Kind::providerSignIn };
    if (m_sessionToken)
        return ModelCredentials { m_cloud.baseUrl(), *m_sessionToken, ModelCredentials::Kind::account };
    return std::nullopt;
}

bool AccountService::hasUnlimitedMinutes() const
{
    return m_account && m_account->usage.unlimited.value_or(false);
}

bool AccountService::allowanceExhausted() const
{
    return allowanceExhausted(m_account);
}

bool AccountService::allowanceExhausted(const std::optional<QuilletCloud::AccountInfo>& account)
{
    if (!account || account->usage.unlimited.value_or(false))
        return false;
    // Comparisons with NaN are false, so an unreadable figure never blocks a recording.
    const double quota = account->usage.quotaMinutes;
    const double used = account->usage.minutesUsed;
    return quota > 0 && quota <= used;
}

std::optional<QuilletCloud::ShareAuthorization> AccountService::shareAuthorization() const
{
    if (m_sessionToken)
        return QuilletCloud::ShareAuthorization { *m_sessionToken, std::nullopt };
    if (m_tessraKey)
        return QuilletCloud::ShareAuthorization { *m_tessraKey, m_tessraEmail };
    return std::nullopt;
}
