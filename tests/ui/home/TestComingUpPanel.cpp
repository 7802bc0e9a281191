#include "calendar/MeetingFactory.h"
#include "library/ComingUpText.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/Log.h"
#include "storage/Meeting.h"
#include "support/CalendarRig.h"
#include "support/DesktopOpenerStandIn.h"
#include "support/FakeClock.h"
#include "support/RecordingUrlOpener.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "support/ZoneAndLocale.h"
#include "ui/home/ComingUpPanel.h"
#include "ui/home/ComingUpParts.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <memory>

using EventInfo = CalendarService::EventInfo;
using Access = CalendarStore::Access;
using Card = ComingUpPanel::Card;

Q_DECLARE_METATYPE(QList<CalendarService::EventInfo>)

namespace {

// Wednesday 9 December 2026, 10:10 (the tests run in UTC).
const QDateTime kNow(QDate(2026, 12, 9), QTime(10, 10), Qt::UTC);

EventInfo eventAt(const QString& id, qint64 secondsFromNow, int minutes = 30, bool confident = true,
    std::optional<QUrl> link = std::nullopt)
{
    return CalendarRig::event(id, QStringLiteral("Event ") + id, kNow.addSecs(secondsFromNow), minutes,
        EventKind::Meeting, confident, 3, std::move(link));
}

EventInfo skipped(const QString& id, qint64 secondsFromNow, int minutes = 30)
{
    return CalendarRig::event(
        id, QStringLiteral("Lunch"), kNow.addSecs(secondsFromNow), minutes, EventKind::Skip, false, 0);
}

struct Opened
{
    Meeting* meeting;
    bool record;
};

// The panel over a real calendar service and a real store.
struct Fixture
{
    explicit Fixture(Access access = Access::FullAccess, bool withCalendar = true, QString clientId = {},
        const Clock* clock = nullptr, UrlOpener* opener = nullptr)
        : calendar(access, withCalendar, kNow)
    {
        HomeServices services { store.context(), clock ? *clock : calendar.clock, calendar.service,
            opener ? *opener : browser, &MeetingFactory::noteForEvent, [this] { ++googleConnects; },
            std::move(clientId) };
        panel = std::make_unique<ComingUpPanel>(services, [this](Meeting* meeting, bool record) {
            opened.append({ meeting, record });
        });
        panel->resize(600, 800);
    }

    QStringList rowIds() const
    {
        QStringList ids;
        for (const EventInfo& event : panel->dayList()->events())
            ids.append(event.id);
        return ids;
    }

    void clickRow(const QString& id)
    {
        ComingUp::DayList* days = panel->dayList();
        QTest::mouseClick(days, Qt::LeftButton, {}, days->rowRect(id).center());
    }

    TempStore store;
    CalendarRig calendar;
    RecordingUrlOpener browser;
    int googleConnects = 0;
    QList<Opened> opened;
    std::unique_ptr<ComingUpPanel> panel;
};

} // namespace

class TestComingUpPanel final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZoneAndLocale::useUtcAndEnglish(); }

    void accessDecidesCardOrList_data()
    {
        QTest::addColumn<Access>("access");
        QTest::addColumn<bool>("withCalendar");
        QTest::addColumn<QString>("clientId");
        QTest::addColumn<QList<EventInfo>>("google");
        QTest::addColumn<Card>("card");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("hidden");

        const QString connect
            = QStringLiteral("See your week's meetings here \u2014 and record any of them in one click.");
        const QList<EventInfo> none;
        QTest::newRow("not requested") << Access::NotDetermined << true << QString() << none << Card::connect << connect
                                       << QStringLiteral("Connect your calendar") << QString();
        QTest::newRow("not requested, Google set up")
            << Access::NotDetermined << true << QStringLiteral("client") << none << Card::connect << connect
            << QStringLiteral("Connect your calendar") << QString();
        QTest::newRow("not requested, with Google events")
            << Access::NotDetermined << true << QString() << QList<EventInfo> { eventAt("a", 3600) } << Card::none
            << QString() << QString() << QString();
        QTest::newRow("no accounts") << Access::FullAccess << false << QString() << none << Card::noAccounts
                                     << QStringLiteral("No calendar accounts on this computer \u2014 or connect Google "
                                                       "below.")
                                     << QString() << QString();
        QTest::newRow("granted, nothing this week")
            << Access::FullAccess << true << QString() << none << Card::none << QString() << QString() << QString();
        QTest::newRow("granted, only skipped events")
            << Access::FullAccess << true << QString()
            << QList<EventInfo> { skipped("s1", 600), skipped("s2", 7200), skipped("over", -7200) } << Card::none
            << QString() << QString() << QStringLiteral("2 tasks & personal hidden");
    }

    void accessDecidesCardOrList()
    {
        QFETCH(Access, access);
        QFETCH(bool, withCalendar);
        QFETCH(QString, clientId);
        QFETCH(QList<EventInfo>, google);
        QFETCH(Card, card);
        QFETCH(QString, message);
        QFETCH(QString, button);
        QFETCH(QString, hidden);
        Fixture f(access, withCalendar, clientId);
        QVERIFY(f.calendar.start(google));

        QCOMPARE(f.panel->card(), card);
        QCOMPARE(f.panel->cardMessage(), message);
        QCOMPARE(f.panel->cardButton() ? f.panel->cardButton()->text() : QString(), button);
        QCOMPARE(f.panel->googleButton() != nullptr, card != Card::none && !clientId.isEmpty());
        QCOMPARE(f.panel->hiddenCountText(), hidden);
        if (card == Card::none)
            QCOMPARE(f.panel->showsNothingThisWeek(), google.isEmpty() || hidden.size() > 0);

        if (f.panel->cardButton()) {
            f.panel->cardButton()->click();
            QCoreApplication::sendPostedEvents();
            QCOMPARE(f.calendar.store.accessRequests(), 1);
        }
        if (f.panel->googleButton()) {
            f.panel->googleButton()->click();
            QCOMPARE(f.googleConnects, 1);
        }
    }

    void grantingAccessTurnsTheCardIntoTheList()
    {
        Fixture f(Access::NotDetermined);
        QVERIFY(f.calendar.start({ eventAt("a", 7200) }));
        QCOMPARE(f.panel->card(), Card::none); // Google's events are listed without desktop access
        QVERIFY(f.calendar.publishGoogle({}));
        QCOMPARE(f.panel->card(), Card::connect);
        f.panel->cardButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return f.panel->card() == Card::none; }, kPatientWaitMs));
        QVERIFY(f.panel->showsNothingThisWeek());
    }

    // A request that cannot reach the desktop's calendars says so on the card, and the card
    // asks again; a request that goes through takes the words away with the card.
    void unreachableCalendarsAreTold()
    {
        Fixture f(Access::NotDetermined);
        QVERIFY(f.calendar.start());
        f.calendar.store.answerRequestsWith({ false, QStringLiteral("The calendar service did not answer.") });
        f.panel->show();
        f.panel->cardButton()->click();
        const QString told
            = QStringLiteral("Quillet couldn't reach your computer's calendars: The calendar service did not answer.");
        QTRY_VERIFY(ViewProbe::label(*f.panel, told));
        QCOMPARE(f.panel->card(), Card::connect);
        f.calendar.store.answerRequestsWith({ true, std::nullopt });
        f.panel->cardButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return f.panel->card() == Card::none; }, kPatientWaitMs));
        QVERIFY(!ViewProbe::label(*f.panel, told));
    }

    void heroChoice_data()
    {
        QTest::addColumn<QList<EventInfo>>("events");
        QTest::addColumn<QString>("hero");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("rows");

        QTest::newRow("900 s away") << QList<EventInfo> { eventAt("a", 900) } << "a"
                                    << "Starts in 15 min" << QStringList();
        QTest::newRow("901 s away") << QList<EventInfo> { eventAt("a", 901) } << ""
                                    << "" << QStringList { "a" };
        QTest::newRow("899 s away") << QList<EventInfo> { eventAt("a", 899) } << "a"
                                    << "Starts in 14 min" << QStringList();
        QTest::newRow("150 s away") << QList<EventInfo> { eventAt("a", 150) } << "a"
                                    << "Starts in 2 min" << QStringList();
        QTest::newRow("90 s away") << QList<EventInfo> { eventAt("a", 90) } << "a"
                                   << "Starts in 1 min" << QStringList();
        QTest::newRow("running") << QList<EventInfo> { eventAt("a", -600) } << "a"
                                 << "Live now" << QStringList();
        QTest::newRow("unsure and running") << QList<EventInfo> { eventAt("a", -600, 30, false) } << ""
                                            << "" << QStringList { "a" };
        QTest::newRow("unsure and soon") << QList<EventInfo> { eventAt("a", 300, 30, false), eventAt("b", 600) } << "b"
                                         << "Starts in 10 min" << QStringList { "a" };
        QTest::newRow("two running") << QList<EventInfo> { eventAt("a", -1200, 60), eventAt("b", -600) } << "a"
                                     << "Live now" << QStringList { "b" };
        QTest::newRow("running beats soon") << QList<EventInfo> { eventAt("a", -600), eventAt("b", 300) } << "a"
                                            << "Live now" << QStringList { "b" };
        QTest::newRow("over") << QList<EventInfo> { eventAt("a", -3600) } << ""
                              << "" << QStringList();
    }

    void heroChoice()
    {
        QFETCH(QList<EventInfo>, events);
        QFETCH(QString, hero);
        QFETCH(QString, status);
        QFETCH(QStringList, rows);
        Fixture f;
        QVERIFY(f.calendar.start(events));
        ComingUp::HeroCard* card = f.panel->hero();
        QCOMPARE(card ? card->shownEvent().id : QString(), hero);
        if (card) {
            QCOMPARE(card->status(), status.toUpper());
            QCOMPARE(card->isLive(), status == QLatin1String("Live now"));
        }
        QCOMPARE(f.rowIds(), rows);
        if (!rows.isEmpty())
            QCOMPARE(f.panel->groupTitles(), QStringList { "Later today" });
    }

    void dayGroups()
    {
        Fixture f;
        const QDateTime yesterdayEvening(QDate(2026, 12, 8), QTime(22, 0), Qt::UTC);
        QVERIFY(f.calendar.start({
            CalendarRig::event("night", "Night shift", yesterdayEvening, 16 * 60, EventKind::Meeting, false),
            eventAt("today", 3600),
            eventAt("friday-late", 2 * 86400 + 3600),
            eventAt("friday-early", 2 * 86400),
            eventAt("tomorrow", 86400),
        }));
        QCOMPARE(
            f.panel->groupTitles(), (QStringList { "Tuesday, Dec 8", "Later today", "Tomorrow", "Friday, Dec 11" }));
        QCOMPARE(f.rowIds(), (QStringList { "night", "today", "tomorrow", "friday-early", "friday-late" }));
        QCOMPARE(f.panel->dayList()->timeOf(QStringLiteral("night")), QStringLiteral("10:00 PM"));
    }

    void dayHeadingsFollowTheLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("sunday");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << "Sunday, Dec 13";
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << "Sonntag, 13. Dez.";
        QTest::newRow("vi_VN") << QLocale(QLocale::Vietnamese, QLocale::Vietnam) << "Chủ Nhật, 13 thg 12";
    }

    // A later day's heading reads in the locale's own order, not the English one in its words.
    void dayHeadingsFollowTheLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, sunday);
        const ZoneAndLocale::LocaleScope scope(locale);
        Fixture f;
        QVERIFY(f.calendar.start({ eventAt("tomorrow", 86400), eventAt("sunday", 4 * 86400) }));
        QCOMPARE(f.panel->groupTitles().value(1), sunday);
    }

    void heroTexts_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("people");
        QTest::addColumn<EventKind>("kind");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("shownTitle");
        QTest::addColumn<QString>("shownPeople");
        QTest::addColumn<QString>("badge");
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("join");

        QTest::newRow("Google Meet") << "Sync" << 1 << EventKind::Meeting << "https://meet.google.com/abc-defg-hij"
                                     << "Sync"
                                     << "1 people"
                                     << "MEETING"
                                     << "Google Meet" << true;
        QTest::newRow("empty title") << "" << 0 << EventKind::OneOnOne << ""
                                     << "Untitled event"
                                     << ""
                                     << "1:1"
                                     << "" << false;
        QTest::newRow("spaces kept") << "  " << 12 << EventKind::Webinar << "https://us02web.zoom.us/j/1"
                                     << "  "
                                     << "12 people"
                                     << "WEBINAR"
                                     << "Zoom" << true;
        QTest::newRow("markup") << "<b>x</b>" << 2 << EventKind::Session << "msteams:/l/meetup-join/1"
                                << "<b>x</b>"
                                << "2 people"
                                << "CLASS"
                                << "" << true;
    }

    void heroTexts()
    {
        QFETCH(QString, title);
        QFETCH(int, people);
        QFETCH(EventKind, kind);
        QFETCH(QString, link);
        QFETCH(QString, shownTitle);
        QFETCH(QString, shownPeople);
        QFETCH(QString, badge);
        QFETCH(QString, call);
        QFETCH(bool, join);
        Fixture f;
        QVERIFY(f.calendar.start({ CalendarRig::event("a", title, kNow.addSecs(-600), 30, kind, true, people,
            link.isEmpty() ? std::nullopt : std::optional<QUrl>(QUrl(link))) }));
        ComingUp::HeroCard* hero = f.panel->hero();
        QVERIFY(hero);
        QCOMPARE(hero->title(), shownTitle);
        QCOMPARE(hero->people(), shownPeople);
        QCOMPARE(hero->badge(), badge);
        QCOMPARE(hero->call(), call);
        QCOMPARE(hero->joinButton() != nullptr, join);
        QCOMPARE(hero->range(), QStringLiteral("\u00B7 10:00\u201310:30 AM"));
    }

    void timeRange_data()
    {
        QTest::addColumn<QTime>("start");
        QTest::addColumn<QTime>("end");
        QTest::addColumn<QString>("range");
        QTest::newRow("morning") << QTime(9, 0) << QTime(9, 30) << "9:00\u20139:30 AM";
        QTest::newRow("noon") << QTime(12, 30) << QTime(13, 15) << "12:30\u20131:15 PM";
        QTest::newRow("afternoon") << QTime(13, 30) << QTime(14, 5) << "1:30\u20132:05 PM";
        QTest::newRow("midnight") << QTime(0, 5) << QTime(0, 50) << "12:05\u201312:50 AM";
    }

    void timeRange()
    {
        QFETCH(QTime, start);
        QFETCH(QTime, end);
        QFETCH(QString, range);
        const QDate day(2026, 12, 9);
        QCOMPARE(ComingUpText::timeRange(QDateTime(day, start, Qt::UTC), QDateTime(day, end, Qt::UTC)), range);
    }

    void callNames_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("name");
        QTest::newRow("Google Meet") << "https://meet.google.com/abc"
                                     << "Google Meet";
        QTest::newRow("Zoom, upper case") << "https://US02WEB.ZOOM.US/j/1"
                                          << "Zoom";
        QTest::newRow("Zoom app") << "zoommtg://zoom.us/join?confno=1"
                                  << "Zoom";
        QTest::newRow("Teams") << "https://teams.microsoft.com/l/meetup-join/x"
                               << "Teams";
        QTest::newRow("Webex") << "https://acme.webex.com/meet/x"
                               << "Webex";
        QTest::newRow("other host") << "https://whereby.com/room"
                                    << "Video call";
        QTest::newRow("no host") << "msteams:/l/meetup-join/x"
                                 << "";
        QTest::newRow("no link") << ""
                                 << "";
    }

    void callNames()
    {
        QFETCH(QString, link);
        QFETCH(QString, name);
        const auto call = ComingUpText::callName(link.isEmpty() ? std::nullopt : std::optional<QUrl>(QUrl(link)));
        QCOMPARE(call.value_or(QString()), name);
    }

    void hiddenCount_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0 << "";
        QTest::newRow("one") << 1 << "1 task & personal hidden";
        QTest::newRow("two") << 2 << "2 tasks & personal hidden";
        QTest::newRow("many") << 12 << "12 tasks & personal hidden";
    }

    void hiddenCount()
    {
        QFETCH(int, count);
        QFETCH(QString, text);
        QCOMPARE(ComingUpText::hiddenCount(count).value_or(QString()), text);
    }

    // The minute tick alone, with no new publication, brings the hero in when the event comes
    // within fifteen minutes. The panel's clock stands still a moment before 10:15 until
    // everything is published and shown, then moves to the minute itself.
    void minuteTickMakesTheHero()
    {
        const QDateTime before(QDate(2026, 12, 9), QTime(10, 14, 59, 900), Qt::UTC);
        const QDateTime minute(QDate(2026, 12, 9), QTime(10, 15), Qt::UTC);
        FakeClock clock(before);
        Fixture f(Access::FullAccess, true, {}, &clock);
        QVERIFY(
            f.calendar.start({ CalendarRig::event("a", "Review", QDateTime(before.date(), QTime(10, 30), Qt::UTC)) }));
        QVERIFY(!f.panel->hero());
        QVERIFY(!f.panel->isTicking());

        QSignalSpy publications(&f.calendar.service, &CalendarService::eventsChanged);
        f.panel->show();
        QVERIFY(f.panel->isTicking());
        QVERIFY(!f.panel->hero()); // 900.1 s away

        clock.set(minute);
        QTRY_VERIFY_WITH_TIMEOUT(f.panel->hero(), 30'000);
        // Exactly 15 minutes away.
        QCOMPARE(f.panel->hero()->status(), QStringLiteral("STARTS IN 15 MIN"));
        QCOMPARE(publications.count(), 0);

        f.panel->hide();
        QVERIFY(!f.panel->isTicking());
    }

    void recordNowAndRowsOpenTheEventsMeeting()
    {
        Fixture f;
        QVERIFY(f.calendar.start({ eventAt("hero", -60), eventAt("row", 3 * 3600) }));
        f.panel->hero()->recordButton()->click();
        f.panel->hero()->recordButton()->click();
        QCOMPARE(f.store->meetingCount(), 1);
        QCOMPARE(f.opened.size(), 2);
        QVERIFY(f.opened[0].record && f.opened[1].record);
        QCOMPARE(f.opened[0].meeting, f.opened[1].meeting);
        QCOMPARE(f.opened[0].meeting->calendarEventId(), std::optional<QString>(QStringLiteral("hero")));

        f.panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.clickRow(QStringLiteral("row"));
        QCOMPARE(f.opened.size(), 3);
        QVERIFY(!f.opened[2].record);
        QCOMPARE(f.opened[2].meeting->calendarEventId(), std::optional<QString>(QStringLiteral("row")));
        QCOMPARE(f.store->meetingCount(), 2);
    }

    void joinOpensTheCallLink()
    {
        Fixture f;
        QVERIFY(f.calendar.start({ eventAt("a", -60, 30, true, QUrl(QStringLiteral("https://meet.google.com/abc"))) }));
        f.panel->hero()->joinButton()->click();
        QCOMPARE(f.browser.opened, QList<QUrl> { QUrl(QStringLiteral("https://meet.google.com/abc")) });
        QVERIFY(f.opened.isEmpty());
        QCOMPARE(f.store->meetingCount(), 0);
    }

    // A call link is written by whoever sends the invitation. Whatever reached the event, the
    // desktop is handed only web links and the call apps' own (a call service's scheme on that
    // service's host, where its app takes the call): one of Quillet's own scheme would come
    // back to our URL router and sign the user in, others run files or mount shares. "Join"
    // then says in words why nothing opened, as it does when the desktop fails to open it.
    void joinHandsTheDesktopOnlyCallLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("desktopStatus");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("alert"); // null: none
        const QString refused
            = QStringLiteral("Quillet opens only web links and call apps\u2019 own links, so it did not "
                             "open this call\u2019s \u201C%1:\u201D link. Open the call from your "
                             "calendar instead.");
        const auto refusal = [&](const char* scheme) { return refused.arg(QLatin1String(scheme)); };
        const QString notOpened = QStringLiteral(
            "The desktop could not open this call\u2019s link. Open the call from your calendar instead.");
        const auto row = [](const char* name, const char* link, int status, const char* scheme, const QString& alert) {
            QTest::newRow(name) << QString::fromLatin1(link) << status << (scheme != nullptr) << alert;
        };
        row("sign-in link", "quillet://auth?token=x", 0, "quillet", refusal("quillet"));
        row("upper-case scheme", "QUILLET://auth?token=x", 0, "quillet", refusal("quillet"));
        row("provider callback", "quillet://callback?code=x", 0, "quillet", refusal("quillet"));
        row("file on a call host", "file://zoom.us/etc/passwd?token=x", 0, "file", refusal("file"));
        row("share on a call host", "smb://us02web.zoom.us/share?token=x", 0, "smb", refusal("smb"));
        row("script on a call host", "javascript://zoom.us/%0Aalert(1)?token=x", 0, "javascript",
            refusal("javascript"));
        row("data on a call host", "data://zoom.us/text/html,token=x", 0, "data", refusal("data"));
        row("one service's app on another's host", "zoommtg://teams.microsoft.com/join?confno=1&token=x", 0, "zoommtg",
            refusal("zoommtg"));
        row("Zoom app", "zoommtg://zoom.us/join?action=join&confno=1&token=x", 0, nullptr, QString());
        row("Teams app", "msteams://teams.microsoft.com/l/meetup-join/19%3ameeting_x%40thread.v2/0?token=x", 0, nullptr,
            QString());
        row("web link", "https://meet.google.com/abc", 0, nullptr, QString());
        row("call app", "facetime:+15551234567", 0, nullptr, QString());
        row("the desktop fails", "https://meet.google.com/abc?token=x", 4, nullptr, notOpened);
    }

    void joinHandsTheDesktopOnlyCallLinks()
    {
        QFETCH(QString, link);
        QFETCH(int, desktopStatus);
        QFETCH(bool, refused);
        QFETCH(QString, alert);
        const QUrl url(link);
        DesktopOpenerStandIn desktop(desktopStatus);
        DesktopUrlOpener opener;
        LogCapture log;
        Fixture f(Access::FullAccess, true, {}, nullptr, &opener);
        QVERIFY(f.calendar.start({ eventAt("a", -60, 30, true, url) }));
        f.panel->hero()->joinButton()->click();

        if (refused)
            QVERIFY(desktop.runs().isEmpty());
        else
            QTRY_COMPARE(desktop.runs(), QStringList { "xdg-open " + url.toString(QUrl::FullyEncoded) });
        if (alert.isNull()) {
            QVERIFY(!f.panel->joinAlert());
        } else {
            QTRY_VERIFY(f.panel->joinAlert());
            QCOMPARE(f.panel->joinAlert()->text(), alert);
            QVERIFY(f.panel->joinAlert()->isVisible());
        }
        for (const QString& line : log.lines())
            QVERIFY2(!line.contains(QLatin1String("token")), qPrintable(line));
        QVERIFY(f.opened.isEmpty());
    }
};

QUILLET_WIDGET_TEST_MAIN(TestComingUpPanel)
#include "TestComingUpPanel.moc"
