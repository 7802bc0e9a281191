#include "calendar/GoogleCalendarAPI.h"
#include "support/FakeHttpServer.h"
#include "support/TestMain.h"

#include <QNetworkAccessManager>
#include <QTimeZone>

using Reply = FakeHttpServer::Reply;
using APIError = GoogleCalendarAPI::APIError;
using Event = GoogleCalendarAPI::Event;
using CalendarEntry = GoogleCalendarAPI::CalendarEntry;

namespace {

const QByteArray kEventsPath = "/calendar/v3/calendars/primary/events";

// Pages answered by the "pageToken" the request carries (none: the first page).
FakeHttpServer::Handler pages(const QMap<QString, QByteArray>& byToken)
{
    return [byToken](const FakeHttpServer::Request& request) {
        QString token;
        for (const auto& [name, value] : request.queryItems())
            if (name == QLatin1String("pageToken"))
                token = value;
        return byToken.contains(token) ? Reply::json(200, byToken.value(token)) : Reply::json(404, "");
    };
}

QStringList names(const FakeHttpServer::Request& request)
{
    QStringList list;
    for (const auto& item : request.queryItems())
        list.append(item.first + QLatin1Char('=') + item.second);
    return list;
}

} // namespace

class TestGoogleCalendarAPI final : public QObject
{
    Q_OBJECT

    FakeHttpServer m_google;
    QNetworkAccessManager m_network;
    GoogleCalendarAPI m_api { m_network, m_google.url(QStringLiteral("/calendar/v3/")) };

    // The events of the calendar, once the call has ended.
    Result<QList<Event>, APIError> eventsOf(const QString& calendarId, const QDateTime& from, const QDateTime& to)
    {
        std::optional<Result<QList<Event>, APIError>> result;
        m_api.events(calendarId, QStringLiteral("at-1"), from, to, this, [&](const auto& r) { result = r; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 15000))
            qFatal("no answer");
        return *result;
    }

private slots:
    void init() { m_google.clearRequests(); }

    // Every page in order, from requests of which only the later ones carry "pageToken"; the
    // window goes out in UTC with "Z" and whole seconds, the calendar id is encoded once.
    void eventsOfEveryPage()
    {
        const QString id = QStringLiteral("en.usa#holiday@group.v.calendar.google.com");
        const QByteArray path = "/calendar/v3/calendars/en.usa#holiday@group.v.calendar.google.com/events";
        m_google.on("GET", path,
            pages({ { "", R"({"items":[{"id":"e1"},{"id":"e2"}],"nextPageToken":"p2"})" },
                { "p2", R"({"items":[{"id":"e3","summary":null}],"nextPageToken":"p 3+"})" },
                { "p 3+", R"({"items":[{"id":"e4","start":{"date":"2026-03-16"}}]})" } }));
        const QTimeZone plusTwo(2 * 3600);
        const auto result = eventsOf(id, QDateTime(QDate(2025, 1, 1), QTime(9, 30, 0, 750), plusTwo),
            QDateTime(QDate(2025, 1, 8), QTime(0, 0), plusTwo));

        QVERIFY(result.ok());
        const QList<Event> got = result.value();
        QStringList ids;
        for (const Event& event : got)
            ids.append(event.id);
        QCOMPARE(ids, QStringList({ "e1", "e2", "e3", "e4" }));
        QVERIFY(!got[2].summary);
        QVERIFY(!got[3].start->dateTime);
        QCOMPARE(got[3].start->date, std::optional(QStringLiteral("2026-03-16")));

        const auto sent = m_google.requests();
        QCOMPARE(sent.size(), 3);
        QVERIFY(
            sent[0].target.startsWith("/calendar/v3/calendars/en.usa%23holiday@group.v.calendar.google.com/events?"));
        const QStringList first { "timeMin=2025-01-01T07:30:00Z", "timeMax=2025-01-07T22:00:00Z", "singleEvents=true",
            "orderBy=startTime", "maxResults=250" };
        QCOMPARE(names(sent[0]), first);
        QCOMPARE(names(sent[1]), first + QStringList { "pageToken=p2" });
        QCOMPARE(names(sent[2]), first + QStringList { "pageToken=p 3+" });
        // A "+" in a query reads as a space to many servers.
        QVERIFY(sent[2].rawQuery().endsWith("&pageToken=p%203%2B"));
        for (const auto& request : sent) {
            QCOMPARE(request.path, path);
            QCOMPARE(request.header("Authorization"), QByteArray("Bearer at-1"));
        }
    }

    void calendarListOfEveryPage()
    {
        m_google.on("GET", "/calendar/v3/users/me/calendarList",
            // No raw string here: moc takes a "#" inside one for a directive.
            pages({ { "",
                        "{\"items\":[{\"id\":\"a\",\"primary\":true,\"backgroundColor\":\"#1a73e8\"}],"
                        "\"nextPageToken\":\"n\"}" },
                { "n", R"({"items":[{"id":"b","summary":"Team","accessRole":"reader"}]})" } }));
        std::optional<Result<QList<CalendarEntry>, APIError>> result;
        m_api.calendarList(QStringLiteral("at-1"), this, [&](const auto& r) { result = r; });
        QTRY_VERIFY(result.has_value());
        QCOMPARE(result->value(),
            (QList<CalendarEntry> { { "a", std::nullopt, true, "#1a73e8", std::nullopt },
                { "b", "Team", std::nullopt, std::nullopt, "reader" } }));
        const auto sent = m_google.requests();
        QCOMPARE(names(sent[0]), QStringList({ "maxResults=250", "showHidden=false" }));
        QCOMPARE(names(sent[1]), QStringList({ "maxResults=250", "showHidden=false", "pageToken=n" }));
    }

    void failures_data()
    {
        QTest::addColumn<QList<Reply>>("replies"); // the pages, in order
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("description"); // null: any text (the network's own)

        const auto row = [](const char* name, QList<Reply> replies, APIError::Kind kind, int status,
                             const QString& body, const QString& description) {
            QTest::newRow(name) << replies << int(kind) << status << body << description;
        };
        const QString expired = QStringLiteral("Google access expired — reconnect the account.");
        const QString unexpected = QStringLiteral("Unexpected response from Google Calendar.");
        const QByteArray forbidden = R"({"error":{"code":403,"message":"Forbidden"}})";
        row("401 with a body", { Reply::json(401, R"({"error":{"code":401}})") }, APIError::Kind::Unauthorized, 401, {},
            expired);
        row("401 without a body", { Reply::json(401, "") }, APIError::Kind::Unauthorized, 401, {}, expired);
        row("403", { Reply::json(403, forbidden) }, APIError::Kind::Http, 403, QString::fromUtf8(forbidden),
            "Google Calendar error (403).");
        row("500 not UTF-8", { Reply::json(500, "\xff\xfe") }, APIError::Kind::Http, 500, "",
            "Google Calendar error (500).");
        row("no items", { Reply::json(200, R"({"nextPageToken":null})") }, APIError::Kind::Malformed, 0, {},
            unexpected);
        row("event without id", { Reply::json(200, R"({"items":[{"id":"e1"},{"summary":"x"}]})") },
            APIError::Kind::Malformed, 0, {}, unexpected);
        row("attendee of the wrong type", { Reply::json(200, R"({"items":[{"id":"e1","attendees":[{"self":1}]}]})") },
            APIError::Kind::Malformed, 0, {}, unexpected);
        row("not JSON", { Reply::json(200, "<html>") }, APIError::Kind::Malformed, 0, {}, unexpected);
        // The pages read before a failing one are dropped with it.
        row("second page fails",
            { Reply::json(200, R"({"items":[{"id":"e1"}],"nextPageToken":"b"})"), Reply::json(403, "no") },
            APIError::Kind::Http, 403, "no", "Google Calendar error (403).");
        // A server that repeats a token would be asked for ever.
        row("page token repeated",
            { Reply::json(200, R"({"items":[{"id":"e1"}],"nextPageToken":"a"})"),
                Reply::json(200, R"({"items":[{"id":"e2"}],"nextPageToken":"b"})"),
                Reply::json(200, R"({"items":[{"id":"e3"}],"nextPageToken":"a"})") },
            APIError::Kind::Malformed, 0, {}, unexpected);
        row("dropped", { Reply::dropped() }, APIError::Kind::Transport, 0, {}, {});
    }
    void failures()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, description);

        auto served = std::make_shared<int>(0);
        m_google.on("GET", kEventsPath,
            [replies, served](const FakeHttpServer::Request&) { return replies.value((*served)++, replies.last()); });
        const QDateTime start(QDate(2026, 3, 14), QTime(0, 0), Qt::UTC);
        const auto result = eventsOf(QStringLiteral("primary"), start, start.addDays(7));
        QVERIFY(!result.ok());
        const APIError error = result.error();
        QCOMPARE(int(error.kind), kind);
        // Qt sends a GET again, once, on a connection closed without an answer.
        if (error.kind != APIError::Kind::Transport)
            QCOMPARE(m_google.requestCount(), replies.size());
        if (error.kind == APIError::Kind::Http) {
            QCOMPARE(error.status, status);
            QCOMPARE(error.body, body);
        }
        if (description.isNull())
            QVERIFY(!error.description().isEmpty());
        else
            QCOMPARE(error.description(), description);
    }
};

QUILLET_TEST_MAIN(TestGoogleCalendarAPI)
#include "TestGoogleCalendarAPI.moc"
