#include "calendar/GoogleCalendarAPI.h"

#include "account/UrlPath.h"
#include "calendar/GoogleHttp.h"
#include "calendar/StrictJson.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSet>
#include <QUrlQuery>

namespace {

using APIError = GoogleCalendarAPI::APIError;
using Event = GoogleCalendarAPI::Event;

APIError malformed()
{
    return APIError {};
}

std::optional<Event::DateTime> dateTimeFrom(const QJsonValue& value)
{
    StrictJson json(value);
    Event::DateTime time { json.optionalString("dateTime"), json.optionalString("date") };
    return json.ok() ? std::optional(time) : std::nullopt;
}

std::optional<Event::Attendee> attendeeFrom(const QJsonValue& value)
{
    StrictJson json(value);
    Event::Attendee attendee { json.optionalString("email"), json.optionalString("displayName"),
        json.optionalBool("organizer"), json.optionalBool("self"), json.optionalString("responseStatus") };
    return json.ok() ? std::optional(attendee) : std::nullopt;
}

std::optional<Event::Organizer> organizerFrom(const QJsonValue& value)
{
    StrictJson json(value);
    Event::Organizer organizer { json.optionalString("email"), json.optionalString("displayName"),
        json.optionalBool("self") };
    return json.ok() ? std::optional(organizer) : std::nullopt;
}

std::optional<Event::EntryPoint> entryPointFrom(const QJsonValue& value)
{
    StrictJson json(value);
    Event::EntryPoint entryPoint { json.optionalString("entryPointType"), json.optionalString("uri") };
    return json.ok() ? std::optional(entryPoint) : std::nullopt;
}

std::optional<Event::ConferenceData> conferenceDataFrom(const QJsonValue& value)
{
    StrictJson json(value);
    Event::ConferenceData data { json.optionalList<Event::EntryPoint>("entryPoints", entryPointFrom) };
    return json.ok() ? std::optional(data) : std::nullopt;
}

// The query as sent: QUrlQuery leaves "+" as it is, which many servers read as a space.
void setQuery(QUrl& url, const QUrlQuery& query)
{
    url.setQuery(query.query(QUrl::FullyEncoded).replace(QLatin1Char('+'), QLatin1String("%2B")), QUrl::StrictMode);
}

// One page of a list: its items and the token of the next page, if any.
template <typename Item> struct Page
{
    QList<Item> items;
    std::optional<QString> nextPageToken;

    static std::optional<Page> fromJson(const QJsonValue& value)
    {
        StrictJson json(value);
        Page page { json.list<Item>("items", Item::fromJson), json.optionalString("nextPageToken") };
        return json.ok() ? std::optional(page) : std::nullopt;
    }
};

} // namespace

std::optional<GoogleCalendarAPI::CalendarEntry> GoogleCalendarAPI::CalendarEntry::fromJson(const QJsonValue& value)
{
    StrictJson json(value);
    CalendarEntry entry { json.string("id"), json.optionalString("summary"), json.optionalBool("primary"),
        json.optionalString("backgroundColor"), json.optionalString("accessRole") };
    return json.ok() ? std::optional(entry) : std::nullopt;
}

std::optional<GoogleCalendarAPI::Event> GoogleCalendarAPI::Event::fromJson(const QJsonValue& value)
{
    StrictJson json(value);
    Event event;
    event.id = json.string("id");
    event.status = json.optionalString("status");
    event.summary = json.optionalString("summary");
    event.location = json.optionalString("location");
    event.start = json.optionalRecord<DateTime>("start", dateTimeFrom);
    event.end = json.optionalRecord<DateTime>("end", dateTimeFrom);
    event.attendees = json.optionalList<Attendee>("attendees", attendeeFrom);
    event.organizer = json.optionalRecord<Organizer>("organizer", organizerFrom);
    event.hangoutLink = json.optionalString("hangoutLink");
    event.conferenceData = json.optionalRecord<ConferenceData>("conferenceData", conferenceDataFrom);
    return json.ok() ? std::optional(event) : std::nullopt;
}

QString GoogleCalendarAPI::APIError::description() const
{
    switch (kind) {
    case Kind::Http:
        return QStringLiteral("Google Calendar error (%1).").arg(status);
    case Kind::Unauthorized:
        return QStringLiteral("Google access expired — reconnect the account.");
    case Kind::Malformed:
        break;
    case Kind::Transport:
        return transportError;
    }
    return QStringLiteral("Unexpected response from Google Calendar.");
}

// One list call: the pages read so far and the page tokens already sent.
template <typename Item> struct GoogleCalendarAPI::Paging
{
    QNetworkAccessManager* network = nullptr;
    std::function<QUrl(const std::optional<QString>&)> page;
    QString accessToken;
    QPointer<QObject> receiver;
    bool guarded = false;
    Completion<QList<Item>> done;
    QList<Item> items;
    std::optional<QString> pageToken;
    QSet<QString> sentTokens;
};

GoogleCalendarAPI::GoogleCalendarAPI(QNetworkAccessManager& network, QUrl base)
    : m_network(network)
    , m_base(std::move(base))
{ }

void GoogleCalendarAPI::calendarList(
    const QString& accessToken, QObject* receiver, Completion<QList<CalendarEntry>> done) const
{
    const QUrl address = appendingPath(m_base, QStringLiteral("users/me/calendarList"));
    fetchPages<CalendarEntry>(
        [address](const std::optional<QString>& pageToken) {
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("maxResults"), QString::number(kPageSize));
            query.addQueryItem(QStringLiteral("showHidden"), QStringLiteral("false"));
            if (pageToken)
                query.addQueryItem(QStringLiteral("pageToken"), *pageToken);
            QUrl url = address;
            setQuery(url, query);
            return url;
        },
        accessToken, receiver, std::move(done));
}

void GoogleCalendarAPI::events(const QString& calendarId, const QString& accessToken, const QDateTime& timeMin,
    const QDateTime& timeMax, QObject* receiver, Completion<QList<Event>> done) const
{
    // The server wants the id itself in the path ("#" and all): it is given as plain text and
    // encoded once, here.
    const QUrl address = appendingPath(
        m_base, QStringLiteral("calendars/") + calendarId + QStringLiteral("/events"), QUrl::DecodedMode);
    // In UTC with "Z" and whole seconds.
    const QString from = timeMin.toUTC().toString(Qt::ISODate);
    const QString to = timeMax.toUTC().toString(Qt::ISODate);
    fetchPages<Event>(
        [address, from, to](const std::optional<QString>& pageToken) {
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("timeMin"), from);
            query.addQueryItem(QStringLiteral("timeMax"), to);
            query.addQueryItem(QStringLiteral("singleEvents"), QStringLiteral("true"));
            query.addQueryItem(QStringLiteral("orderBy"), QStringLiteral("startTime"));
            query.addQueryItem(QStringLiteral("maxResults"), QString::number(kPageSize));
            if (pageToken)
                query.addQueryItem(QStringLiteral("pageToken"), *pageToken);
            QUrl url = address;
            setQuery(url, query);
            return url;
        },
        accessToken, receiver, std::move(done));
}

template <typename Item>
void GoogleCalendarAPI::fetchPages(std::function<QUrl(const std::optional<QString>&)> page, const QString& accessToken,
    QObject* receiver, Completion<QList<Item>> done) const
{
    auto paging = std::make_shared<Paging<Item>>();
    paging->network = &m_network;
    paging->page = std::move(page);
    paging->accessToken = accessToken;
    paging->receiver = receiver;
    paging->guarded = receiver != nullptr;
    paging->done = std::move(done);
    fetchPage(paging);
}

template <typename Item> void GoogleCalendarAPI::fetchPage(std::shared_ptr<Paging<Item>> paging)
{
    QNetworkRequest request(paging->page(paging->pageToken));
    request.setRawHeader("Authorization", "Bearer " + paging->accessToken.toUtf8());
    QNetworkReply* reply = GoogleHttp::send(*paging->network, request, "GET");
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, paging] {
        reply->deleteLater();
        if (paging->guarded && !paging->receiver)
            return;
        const auto fail = [&](const APIError& error) { paging->done(error); };
        const GoogleHttp::Answer answer = GoogleHttp::answer(reply);
        if (answer.transportError)
            return fail(APIError { APIError::Kind::Transport, 0, {}, *answer.transportError });
        if (!answer.status)
            return fail(malformed());
        if (*answer.status == 401)
            return fail(APIError { APIError::Kind::Unauthorized, 401, {}, {} });
        if (*answer.status < 200 || *answer.status > 299)
            return fail(APIError {
                APIError::Kind::Http, *answer.status, GoogleHttp::utf8(answer.body).value_or(QString()), {} });
        const std::optional<QJsonObject> object = StrictJson::parseObject(answer.body);
        const std::optional<Page<Item>> page = object ? Page<Item>::fromJson(*object) : std::nullopt;
        if (!page)
            return fail(malformed());
        paging->items.append(page->items);
        if (!page->nextPageToken) {
            paging->done(std::move(paging->items));
            return;
        }
        // A server that hands back a token this call already sent would page for ever.
        if (paging->pageToken)
            paging->sentTokens.insert(*paging->pageToken);
        if (paging->sentTokens.contains(*page->nextPageToken))
            return fail(malformed());
        paging->pageToken = page->nextPageToken;
        fetchPage(paging);
    });
}
