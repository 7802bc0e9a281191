#pragma once

#include "calendar/CalendarService.h"
#include "calendar/GoogleCalendarAPI.h"
#include "calendar/GoogleEventSource.h"
#include "calendar/GoogleOAuth.h"
#include "format/Result.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class Clock;
class Keychain;
class Settings;

// The user's connected Google accounts: which are connected, which of their calendars are
// chosen, the calendar lists, the access tokens in use (in memory only) and the refresh tokens
// (in the keychain). It connects and disconnects accounts and is the calendar service's Google
// event source: the events of every chosen calendar, mapped and classified. When accounts or
// their chosen calendars change it asks for the events to be fetched again
// (eventsOutdated()), without knowing who listens. One instance; main thread only.
class GoogleCalendarService final : public QObject, public GoogleEventSource
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GoogleCalendarService)

public:
    struct ConnectedAccount
    {
        QString sub; // Google's stable account id
        QString email; // or the sub when Google gave none
        QStringList selectedCalendarIds; // in the order last set

        friend bool operator==(const ConnectedAccount&, const ConnectedAccount&) = default;
    };

    using CalendarsByAccount = QMap<QString, QList<GoogleCalendarAPI::CalendarEntry>>;
    // Why no access token could be had: no refresh token, or the refresh failed.
    using TokenError = std::variant<GoogleCalendarAPI::APIError, GoogleOAuth::Error>;
    using TokenResult = Result<QString, TokenError>;
    using Completion = std::function<void()>;

    Q_PROPERTY(QList<GoogleCalendarService::ConnectedAccount> accounts READ accounts NOTIFY accountsChanged)
    Q_PROPERTY(GoogleCalendarService::CalendarsByAccount calendarsByAccount READ calendarsByAccount WRITE
            setCalendarsByAccount NOTIFY calendarsByAccountChanged)
    Q_PROPERTY(bool isConnecting READ isConnecting NOTIFY isConnectingChanged)
    Q_PROPERTY(bool isWaitingForBrowser READ isWaitingForBrowser NOTIFY isWaitingForBrowserChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)

    static inline const QString kRefreshTokenPrefix = QStringLiteral("google-refresh-");
    // An access token with this long or less to live counts as expired.
    static constexpr int kTokenMarginSeconds = 60;

    // Loads the accounts stored under "googleAccounts"; unreadable data means none.
    GoogleCalendarService(GoogleOAuth& oauth, const GoogleCalendarAPI& api, Keychain& keychain, Settings& settings,
        const Clock& clock, QObject* parent = nullptr);
    ~GoogleCalendarService() override;

    QList<ConnectedAccount> accounts() const { return m_accounts; }
    CalendarsByAccount calendarsByAccount() const { return m_calendarsByAccount; }
    // The settings page stores a freshly listed calendar list here.
    void setCalendarsByAccount(const CalendarsByAccount& calendars);
    bool isConnecting() const { return m_isConnecting; }
    std::optional<QString> lastError() const { return m_lastError; }

    // Connects an account through the browser sign-in. Failures end up in lastError (a
    // cancelled sign-in sets none); done runs when this connection is over. A connection
    // started meanwhile cancels this one's sign-in and alone clears isConnecting.
    void connect(Completion done = {});
    // The connection's sign-in page is open in the browser and nothing has come back yet.
    bool isWaitingForBrowser() const { return m_oauth.isWaitingForBrowser(); }
    // Gives up a connection that waits for the browser, as the user closing the page would if
    // anything told; it ends as cancelled, with no error.
    void cancelConnect() { m_oauth.cancelBrowserWait(); }

    // An access token of the account good for more than another minute: the cached one, else
    // a refreshed one (cached then). done runs once, unless receiver is destroyed first.
    void validAccessToken(const QString& sub, QObject* receiver, std::function<void(const TokenResult&)> done);

    // GoogleEventSource: accounts in order, each one's chosen calendars in the order chosen,
    // each calendar's events in Google's order. An account or calendar that cannot be read is
    // left out.
    void fetchEvents(const QDateTime& start, const QDateTime& end, QObject* context, EventsCallback done) override;

    // The first account with that sub gets the new selection; stored, and the events fetched again.
    void setSelected(const QStringList& calendarIds, const QString& sub);
    bool isSelected(const QString& calendarId, const QString& sub) const;
    // Forgets the account (its refresh token, tokens and calendars); nothing is revoked at Google.
    void disconnect(const ConnectedAccount& account);

    // One Google event as the rest of the system sees it, or nothing for an event that is not
    // shown: cancelled, all-day, with an unreadable time, or declined by the user.
    static std::optional<CalendarService::EventInfo> map(const GoogleCalendarAPI::Event& event,
        const QString& calendarId, const QString& calendarName, const std::optional<QString>& colorHex,
        bool alwaysRecord);

    static QString description(const TokenError& error);

signals:
    void accountsChanged();
    void calendarsByAccountChanged();
    void isConnectingChanged();
    void isWaitingForBrowserChanged();
    void lastErrorChanged();
    // The events shown are no longer those of the accounts and calendars chosen.
    void eventsOutdated();

private:
    struct Fetch;

    void load();
    void persist();
    void setAccounts(const QList<ConnectedAccount>& accounts);
    void setCalendars(const QString& sub, const QList<GoogleCalendarAPI::CalendarEntry>& calendars);
    void setIsConnecting(bool connecting);
    void setLastError(const std::optional<QString>& error);
    void signedIn(const GoogleOAuth::SignedIn& signedIn, quint64 attempt, const Completion& done);
    void connectionEnded(quint64 attempt, const std::optional<QString>& error, const Completion& done);
    bool storeRefreshToken(const QString& sub, const QString& refreshToken);
    bool hasAccount(const QString& sub) const;
    void fetchAccount(const std::shared_ptr<Fetch>& fetch);
    void fetchCalendar(const std::shared_ptr<Fetch>& fetch);

    GoogleOAuth& m_oauth;
    const GoogleCalendarAPI& m_api;
    Keychain& m_keychain;
    Settings& m_settings;
    const Clock& m_clock;

    QList<ConnectedAccount> m_accounts;
    CalendarsByAccount m_calendarsByAccount;
    bool m_isConnecting = false;
    std::optional<QString> m_lastError;
    QHash<QString, GoogleOAuth::Tokens> m_accessTokens;
    // Refresh tokens the keychain refused, kept for the rest of this run so that the account
    // keeps working until Quillet quits. Never written anywhere.
    QHash<QString, QString> m_unsavedRefreshTokens;
    // Each connect() takes a number; only the latest may end the connecting state.
    quint64 m_connectAttempt = 0;
};
