#pragma once

#include "format/Result.h"

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QObject;

// A small read-only client of the Google Calendar API (v3): the signed-in account's calendar
// list, and the events of one calendar in a time window, every page of each. It keeps no state
// and no credentials: each call is given an access token. Records are decoded strictly (see
// StrictJson): a page with one unreadable record fails whole. Main thread only; results arrive
// there.
class GoogleCalendarAPI final
{
public:
    struct CalendarEntry
    {
        QString id;
        std::optional<QString> summary;
        std::optional<bool> primary;
        std::optional<QString> backgroundColor; // "#" and six hexadecimal digits
        std::optional<QString> accessRole;

        static std::optional<CalendarEntry> fromJson(const QJsonValue& value);
        friend bool operator==(const CalendarEntry&, const CalendarEntry&) = default;
    };

    struct Event
    {
        struct DateTime
        {
            std::optional<QString> dateTime; // a timed event's instant, with its offset
            std::optional<QString> date; // an all-day event's day
        };
        struct Attendee
        {
            std::optional<QString> email;
            std::optional<QString> displayName;
            std::optional<bool> organizer;
            std::optional<bool> self; // the signed-in user
            std::optional<QString> responseStatus;
        };
        struct Organizer
        {
            std::optional<QString> email;
            std::optional<QString> displayName;
            std::optional<bool> self;
        };
        struct EntryPoint
        {
            std::optional<QString> entryPointType;
            std::optional<QString> uri;
        };
        struct ConferenceData
        {
            std::optional<QList<EntryPoint>> entryPoints;
        };

        QString id;
        std::optional<QString> status;
        std::optional<QString> summary;
        std::optional<QString> location;
        std::optional<DateTime> start;
        std::optional<DateTime> end;
        std::optional<QList<Attendee>> attendees;
        std::optional<Organizer> organizer;
        std::optional<QString> hangoutLink;
        std::optional<ConferenceData> conferenceData;

        static std::optional<Event> fromJson(const QJsonValue& value);
    };

    struct APIError
    {
        enum class Kind {
            Http, // any status but 401 outside 200-299
            Unauthorized, // 401
            Malformed, // not an HTTP answer, an undecodable body, or a page token sent twice
            Transport, // no answer
        };
        Kind kind = Kind::Malformed;
        int status = 0; // Http
        QString body; // Http: the answer as UTF-8 text, empty when it is not
        QString transportError; // Transport: the network's own description

        QString description() const;
    };

    template <typename T> using Completion = std::function<void(const Result<T, APIError>&)>;

    static constexpr int kPageSize = 250;

    // base: the API's address, "…/calendar/v3/".
    GoogleCalendarAPI(QNetworkAccessManager& network, QUrl base);

    // done runs once, unless receiver is destroyed first.
    void calendarList(const QString& accessToken, QObject* receiver, Completion<QList<CalendarEntry>> done) const;
    void events(const QString& calendarId, const QString& accessToken, const QDateTime& timeMin,
        const QDateTime& timeMax, QObject* receiver, Completion<QList<Event>> done) const;

private:
    template <typename Item> struct Paging;

    template <typename Item>
    void fetchPages(std::function<QUrl(const std::optional<QString>&)> page, const QString& accessToken,
        QObject* receiver, Completion<QList<Item>> done) const;
    template <typename Item> static void fetchPage(std::shared_ptr<Paging<Item>> paging);

    QNetworkAccessManager& m_network;
    QUrl m_base;
};
