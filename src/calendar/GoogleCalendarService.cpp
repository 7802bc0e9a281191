#include "calendar/GoogleCalendarService.h"

#include "calendar/GoogleColor.h"
#include "calendar/MeetingClassifier.h"
#include "calendar/StrictJson.h"
#include "platform/Clock.h"
#include "platform/Settings.h"
#include "system/Keychain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTimeZone>

namespace {

using Event = GoogleCalendarAPI::Event;

// An internet date-time: a "T" between date and time, an optional fraction of a second and a
// zone that must be there ("Z" or an offset). Qt's own ISO reader would take a missing zone
// for local time and a space for the "T".
std::optional<QDateTime> internetDateTime(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):(["
                                                           "0-9]{2})(?:\\.([0-9]+))?(Z|([+-])([0-9]{2}):([0-9]{2}))$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&](int group) { return match.captured(group).toInt(); };
    const int milliseconds = match.captured(7).leftJustified(3, QLatin1Char('0')).left(3).toInt();
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.captured(8) != QLatin1String("Z")) {
        if (number(10) > 23 || number(11) > 59)
            return std::nullopt;
        offsetSeconds = (number(10) * 3600 + number(11) * 60) * (match.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    return QDateTime(date, time, QTimeZone(offsetSeconds)).toUTC();
}

// A call link: any link QUrl reads strictly, whatever its scheme (the desktop is handed only the
// ones it may open). A link with user info is none, as in an invitation's text.
std::optional<QUrl> link(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty() || !url.userInfo().isEmpty())
        return std::nullopt;
    return url;
}

// The meeting link, else the first video entry point's (later ones are not tried).
std::optional<QUrl> conferenceURL(const Event& event)
{
    if (const std::optional<QUrl> hangout = link(event.hangoutLink))
        return hangout;
    if (!event.conferenceData || !event.conferenceData->entryPoints)
        return std::nullopt;
    for (const Event::EntryPoint& entryPoint : *event.conferenceData->entryPoints)
        if (entryPoint.entryPointType == QLatin1String("video"))
            return link(entryPoint.uri);
    return std::nullopt;
}

std::optional<GoogleCalendarService::ConnectedAccount> accountFrom(const QJsonValue& value)
{
    StrictJson json(value);
    GoogleCalendarService::ConnectedAccount account { json.string("sub"), json.string("email"),
        json.stringList("selectedCalendarIds") };
    return json.ok() ? std::optional(account) : std::nullopt;
}

} // namespace

// One run of fetchEvents(): the accounts as they were when it started, where it is, and what it
// has collected.
struct GoogleCalendarService::Fetch
{
    QDateTime start;
    QDateTime end;
    QList<ConnectedAccount> accounts;
    qsizetype account = 0;
    qsizetype calendar = 0;
    QString accessToken;
    QHash<QString, GoogleCalendarAPI::CalendarEntry> calendars; // of the current account, by id
    QList<CalendarService::EventInfo> events;
    QPointer<QObject> context;
    EventsCallback done;
};

GoogleCalendarService::GoogleCalendarService(GoogleOAuth& oauth, const GoogleCalendarAPI& api, Keychain& keychain,
    Settings& settings, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_oauth(oauth)
    , m_api(api)
    , m_keychain(keychain)
    , m_settings(settings)
    , m_clock(clock)
{
    QObject::connect(
        &m_oauth, &GoogleOAuth::waitingForBrowserChanged, this, &GoogleCalendarService::isWaitingForBrowserChanged);
    load();
}

GoogleCalendarService::~GoogleCalendarService() = default;

void GoogleCalendarService::load()
{
    const std::optional<QJsonArray> stored = [&]() -> std::optional<QJsonArray> {
        QJsonParseError error {};
        const QJsonDocument document
            = QJsonDocument::fromJson(m_settings.get(SettingsKeys::googleAccounts).toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isArray())
            return std::nullopt;
        return document.array();
    }();
    if (!stored)
        return;
    QList<ConnectedAccount> accounts;
    for (const QJsonValue& value : *stored) {
        const std::optional<ConnectedAccount> account = accountFrom(value);
        // One unreadable entry makes the whole list unreadable.
        if (!account)
            return;
        accounts.append(*account);
    }
    m_accounts = accounts;
}

void GoogleCalendarService::persist()
{
    QJsonArray array;
    for (const ConnectedAccount& account : std::as_const(m_accounts))
        array.append(QJsonObject { { QStringLiteral("sub"), account.sub }, { QStringLiteral("email"), account.email },
            { QStringLiteral("selectedCalendarIds"), QJsonArray::fromStringList(account.selectedCalendarIds) } });
    m_settings.set(
        SettingsKeys::googleAccounts, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
}

void GoogleCalendarService::setAccounts(const QList<ConnectedAccount>& accounts)
{
    if (accounts == m_accounts)
        return;
    m_accounts = accounts;
    emit accountsChanged();
}

void GoogleCalendarService::setCalendarsByAccount(const CalendarsByAccount& calendars)
{
    if (calendars == m_calendarsByAccount)
        return;
    m_calendarsByAccount = calendars;
    emit calendarsByAccountChanged();
}

void GoogleCalendarService::setCalendars(const QString& sub, const QList<GoogleCalendarAPI::CalendarEntry>& calendars)
{
    CalendarsByAccount all = m_calendarsByAccount;
    all.insert(sub, calendars);
    setCalendarsByAccount(all);
}

void GoogleCalendarService::setIsConnecting(bool connecting)
{
    if (connecting == m_isConnecting)
        return;
    m_isConnecting = connecting;
    emit isConnectingChanged();
}

void GoogleCalendarService::setLastError(const std::optional<QString>& error)
{
    if (error == m_lastError)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

bool GoogleCalendarService::hasAccount(const QString& sub) const
{
    return std::any_of(
        m_accounts.cbegin(), m_accounts.cend(), [&](const ConnectedAccount& account) { return account.sub == sub; });
}

void GoogleCalendarService::connect(Completion done)
{
    if (m_oauth.config().clientID.isEmpty()) {
        setLastError(GoogleOAuth::Error { GoogleOAuth::Error::Kind::NotConfigured, {} }.description());
        if (done)
            done();
        return;
    }
    const quint64 attempt = ++m_connectAttempt;
    setIsConnecting(true);
    setLastError(std::nullopt);
    m_oauth.signIn(this, [this, attempt, done](const Result<GoogleOAuth::SignedIn, GoogleOAuth::Error>& result) {
        if (!result.ok()) {
            const GoogleOAuth::Error& error = result.error();
            const bool cancelled = error.kind == GoogleOAuth::Error::Kind::Cancelled;
            connectionEnded(attempt, cancelled ? std::nullopt : std::optional(error.description()), done);
            return;
        }
        signedIn(result.value(), attempt, done);
    });
}

void GoogleCalendarService::signedIn(const GoogleOAuth::SignedIn& signedIn, quint64 attempt, const Completion& done)
{
    const QString sub = signedIn.account.sub;
    const GoogleOAuth::Tokens& tokens = signedIn.tokens;
    if (!tokens.refreshToken) {
        connectionEnded(attempt, QStringLiteral("Google didn't return a refresh token — try connecting again."), done);
        return;
    }
    storeRefreshToken(sub, *tokens.refreshToken);
    m_accessTokens.insert(sub, tokens);
    const QString email = signedIn.account.email.value_or(sub);
    m_api.calendarList(tokens.accessToken, this,
        [this, sub, email, attempt, done](
            const Result<QList<GoogleCalendarAPI::CalendarEntry>, GoogleCalendarAPI::APIError>& listed) {
            const QList<GoogleCalendarAPI::CalendarEntry> calendars
                = listed.ok() ? listed.value() : QList<GoogleCalendarAPI::CalendarEntry> {};
            setCalendars(sub, calendars);

            QList<ConnectedAccount> accounts = m_accounts;
            const auto known = std::find_if(
                accounts.begin(), accounts.end(), [&](const ConnectedAccount& account) { return account.sub == sub; });
            if (known != accounts.end()) {
                // Reconnecting keeps the account's place and its selection.
                known->email = email;
            } else {
                QStringList selection;
                const auto primary = std::find_if(calendars.cbegin(), calendars.cend(),
                    [](const GoogleCalendarAPI::CalendarEntry& entry) { return entry.primary == true; });
                if (primary != calendars.cend())
                    selection.append(primary->id);
                else if (!calendars.isEmpty())
                    selection.append(calendars.first().id);
                accounts.append({ sub, email, selection });
            }
            setAccounts(accounts);
            persist();
            emit eventsOutdated();
            connectionEnded(attempt, std::nullopt, done);
        });
}

void GoogleCalendarService::connectionEnded(
    quint64 attempt, const std::optional<QString>& error, const Completion& done)
{
    // A connection that a newer one cancelled ends quietly and leaves the state to the newer.
    if (attempt == m_connectAttempt) {
        setLastError(error);
        setIsConnecting(false);
    }
    if (done)
        done();
}

bool GoogleCalendarService::storeRefreshToken(const QString& sub, const QString& refreshToken)
{
    if (m_keychain.set(refreshToken, kRefreshTokenPrefix + sub)) {
        m_unsavedRefreshTokens.remove(sub);
        return true;
    }
    // Without it the account would stop working, silently, once its access token expires.
    m_unsavedRefreshTokens.insert(sub, refreshToken);
    return false;
}

void GoogleCalendarService::validAccessToken(
    const QString& sub, QObject* receiver, std::function<void(const TokenResult&)> done)
{
    const auto cached = m_accessTokens.constFind(sub);
    if (cached != m_accessTokens.cend() && cached->expiresAt > m_clock.now().addSecs(kTokenMarginSeconds)) {
        done(cached->accessToken);
        return;
    }
    std::optional<QString> refreshToken = m_keychain.string(kRefreshTokenPrefix + sub);
    if (!refreshToken && m_unsavedRefreshTokens.contains(sub))
        refreshToken = m_unsavedRefreshTokens.value(sub);
    if (!refreshToken) {
        done(TokenError(GoogleCalendarAPI::APIError { GoogleCalendarAPI::APIError::Kind::Unauthorized, 401, {}, {} }));
        return;
    }
    const QPointer<QObject> guard(receiver);
    const bool guarded = receiver != nullptr;
    m_oauth.refresh(*refreshToken, this,
        [this, sub, used = *refreshToken, guard, guarded, done](
            const Result<GoogleOAuth::Tokens, GoogleOAuth::Error>& result) {
            if (result.ok() && hasAccount(sub)) {
                const GoogleOAuth::Tokens& tokens = result.value();
                // An account disconnected meanwhile must not come back: no token of it is kept.
                m_accessTokens.insert(sub, tokens);
                if (tokens.refreshToken && *tokens.refreshToken != used)
                    storeRefreshToken(sub, *tokens.refreshToken);
            }
            if (guarded && !guard)
                return;
            if (result.ok())
                done(result.value().accessToken);
            else
                done(TokenError(result.error()));
        });
}

QString GoogleCalendarService::description(const TokenError& error)
{
    return std::visit([](const auto& e) { return e.description(); }, error);
}

void GoogleCalendarService::fetchEvents(
    const QDateTime& start, const QDateTime& end, QObject* context, EventsCallback done)
{
    auto fetch = std::make_shared<Fetch>();
    fetch->start = start;
    fetch->end = end;
    fetch->accounts = m_accounts;
    fetch->context = context;
    fetch->done = std::move(done);
    fetchAccount(fetch);
}

void GoogleCalendarService::fetchAccount(const std::shared_ptr<Fetch>& fetch)
{
    if (fetch->account >= fetch->accounts.size()) {
        // Answered later also when nothing had to be asked.
        QMetaObject::invokeMethod(
            this,
            [fetch] {
                if (fetch->context)
                    fetch->done(fetch->events);
            },
            Qt::QueuedConnection);
        return;
    }
    const ConnectedAccount& account = fetch->accounts.at(fetch->account);
    validAccessToken(account.sub, this, [this, fetch](const TokenResult& result) {
        if (result.ok()) {
            fetch->accessToken = result.value();
            fetch->calendar = 0;
            fetch->calendars.clear();
            const ConnectedAccount& current = fetch->accounts.at(fetch->account);
            for (const GoogleCalendarAPI::CalendarEntry& entry : m_calendarsByAccount.value(current.sub))
                fetch->calendars.insert(entry.id, entry);
            fetchCalendar(fetch);
            return;
        }
        ++fetch->account;
        fetchAccount(fetch);
    });
}

void GoogleCalendarService::fetchCalendar(const std::shared_ptr<Fetch>& fetch)
{
    const ConnectedAccount& account = fetch->accounts.at(fetch->account);
    if (fetch->calendar >= account.selectedCalendarIds.size()) {
        ++fetch->account;
        fetchAccount(fetch);
        return;
    }
    const QString calendarId = account.selectedCalendarIds.at(fetch->calendar);
    m_api.events(calendarId, fetch->accessToken, fetch->start, fetch->end, this,
        [this, fetch, calendarId](const Result<QList<Event>, GoogleCalendarAPI::APIError>& result) {
            if (result.ok()) {
                const ConnectedAccount& current = fetch->accounts.at(fetch->account);
                const auto entry = fetch->calendars.constFind(calendarId);
                const bool listed = entry != fetch->calendars.cend();
                const QString name = listed && entry->summary ? *entry->summary : current.email;
                const std::optional<QString> color = listed ? entry->backgroundColor : std::nullopt;
                const bool alwaysRecord = m_settings.get(SettingsKeys::alwaysRecordCalendars).contains(calendarId);
                for (const Event& event : result.value())
                    if (std::optional<CalendarService::EventInfo> info
                        = map(event, calendarId, name, color, alwaysRecord))
                        fetch->events.append(std::move(*info));
            }
            ++fetch->calendar;
            fetchCalendar(fetch);
        });
}

void GoogleCalendarService::setSelected(const QStringList& calendarIds, const QString& sub)
{
    QList<ConnectedAccount> accounts = m_accounts;
    const auto account = std::find_if(
        accounts.begin(), accounts.end(), [&](const ConnectedAccount& candidate) { return candidate.sub == sub; });
    if (account == accounts.end())
        return;
    account->selectedCalendarIds = calendarIds;
    setAccounts(accounts);
    persist();
    emit eventsOutdated();
}

bool GoogleCalendarService::isSelected(const QString& calendarId, const QString& sub) const
{
    for (const ConnectedAccount& account : m_accounts)
        if (account.sub == sub)
            return account.selectedCalendarIds.contains(calendarId);
    return false;
}

void GoogleCalendarService::disconnect(const ConnectedAccount& account)
{
    const QString sub = account.sub;
    m_keychain.remove(kRefreshTokenPrefix + sub);
    m_unsavedRefreshTokens.remove(sub);
    m_accessTokens.remove(sub);
    CalendarsByAccount calendars = m_calendarsByAccount;
    calendars.remove(sub);
    setCalendarsByAccount(calendars);
    QList<ConnectedAccount> accounts = m_accounts;
    accounts.removeIf([&](const ConnectedAccount& candidate) { return candidate.sub == sub; });
    setAccounts(accounts);
    persist();
    emit eventsOutdated();
}

std::optional<CalendarService::EventInfo> GoogleCalendarService::map(const Event& event, const QString& calendarId,
    const QString& calendarName, const std::optional<QString>& colorHex, bool alwaysRecord)
{
    if (event.status == QLatin1String("cancelled"))
        return std::nullopt;
    // All-day events carry only a date.
    if (!event.start || !event.start->dateTime || !event.end || !event.end->dateTime)
        return std::nullopt;
    const std::optional<QDateTime> start = internetDateTime(*event.start->dateTime);
    const std::optional<QDateTime> end = internetDateTime(*event.end->dateTime);
    if (!start || !end)
        return std::nullopt;
    const QList<Event::Attendee> attendees = event.attendees.value_or(QList<Event::Attendee> {});
    // Only the first entry that is the user counts.
    for (const Event::Attendee& attendee : attendees) {
        if (attendee.self == true) {
            if (attendee.responseStatus == QLatin1String("declined"))
                return std::nullopt;
            break;
        }
    }

    CalendarService::EventInfo info;
    info.id = QStringLiteral("g:") + calendarId + QLatin1Char(':') + event.id;
    info.title = event.summary.value_or(QString());
    info.startDate = *start;
    info.endDate = *end;
    for (const Event::Attendee& attendee : attendees) {
        if (attendee.displayName && !attendee.displayName->isEmpty()) {
            info.attendees.append(*attendee.displayName);
            continue;
        }
        const QStringList pieces = attendee.email.value_or(QString()).split(QLatin1Char('@'), Qt::SkipEmptyParts);
        if (!pieces.isEmpty())
            info.attendees.append(pieces.first());
    }
    if (event.organizer)
        info.organizer = event.organizer->displayName ? event.organizer->displayName : event.organizer->email;
    info.calendarId = calendarId;
    info.calendarName = calendarName;
    info.calendarColor = googleColor(colorHex);
    info.conferenceURL = conferenceURL(event);
    info.participantCount = int(attendees.size());
    info.location = event.location;
    const Classification classification
        = MeetingClassifier::classify(info.conferenceURL.has_value(), info.participantCount, alwaysRecord, info.title);
    info.kind = classification.kind;
    info.highConfidence = classification.highConfidence;
    return info;
}
