#include "CalendarFixture.h"
#include "calendar/CalendarService.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/calendar/EdsCalendarStore.h"
#include "support/FakeCalendarStore.h"
#include "support/FakeClock.h"
#include "support/FakeGoogleEventSource.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace std::chrono_literals;
using Authorization = CalendarService::Authorization;
using EventInfo = CalendarService::EventInfo;
using CalendarFixture::berlin;

namespace {

EventInfo googleEvent(const QString& id, const QDateTime& start, EventKind kind = EventKind::Meeting)
{
    EventInfo event;
    event.id = id;
    event.title = id;
    event.startDate = start;
    event.endDate = start.addSecs(1800);
    event.kind = kind;
    return event;
}

QStringList idsOf(const QList<EventInfo>& events)
{
    QStringList ids;
    for (const EventInfo& event : events)
        ids.append(event.id);
    return ids;
}

// The service over the in-memory store, a settings file of its own and a stand-in Google.
struct Rig
{
    QTemporaryDir dir;
    Settings settings { dir.filePath("settings.ini") };
    FakeClock clock { CalendarFixture::kNow.toUTC() };
    FakeCalendarStore store;
    FakeGoogleEventSource google;
    QStringList journal;
    std::unique_ptr<CalendarService> service;

    Rig()
    {
        store.setJournal(&journal);
        google.setJournal(&journal);
        store.addCalendar("personal", "Personal");
        store.addEvent("personal", "standup", "Standup", berlin(3, 25, 11)).attendees
            = { {}, {}, {} }; // three people: a meeting
        store.addCalendar("feed", "Holidays", "On The Web", false);
        store.addEvent("feed", "parade", "Parade", berlin(3, 26, 12)).attendees = { {}, {}, {} };
    }

    CalendarService& start(std::chrono::milliseconds interval = CalendarService::kResyncInterval)
    {
        service = std::make_unique<CalendarService>(store, settings, clock, &google, nullptr, interval);
        service->start();
        return *service;
    }

    // Runs a resync and waits for its publication.
    QStringList resynced()
    {
        QSignalSpy published(service.get(), &CalendarService::eventsChanged);
        service->resync();
        return published.wait(5000) ? idsOf(service->events()) : QStringList { "<no publication>" };
    }
};

} // namespace

class TestCalendarService final : public QObject
{
    Q_OBJECT

private slots:
    void requestAccess_data()
    {
        QTest::addColumn<CalendarStore::Access>("access");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<Authorization>("before");
        QTest::addColumn<Authorization>("after");
        QTest::addColumn<int>("requests");
        using Access = CalendarStore::Access;
        QTest::newRow("not asked, granted")
            << Access::NotDetermined << true << QString() << Authorization::NotRequested << Authorization::Granted << 1;
        // A request that does not go through may be made again.
        QTest::newRow("not asked, not granted") << Access::NotDetermined << false << QString()
                                                << Authorization::NotRequested << Authorization::NotRequested << 1;
        QTest::newRow("not asked, request fails") << Access::NotDetermined << false << "Bus is gone"
                                                  << Authorization::NotRequested << Authorization::NotRequested << 1;
        QTest::newRow("granted") << Access::FullAccess << true << QString() << Authorization::Granted
                                 << Authorization::Granted << 0;
    }
    void requestAccess()
    {
        QFETCH(CalendarStore::Access, access);
        QFETCH(bool, granted);
        QFETCH(QString, failure);
        QFETCH(Authorization, before);
        QFETCH(Authorization, after);
        QFETCH(int, requests);
        Rig rig;
        rig.store.setAccess(access);
        rig.store.answerRequestsWith({ granted, failure.isNull() ? std::nullopt : std::optional(failure) });
        rig.google.answerAllWith({ googleEvent("g:work:1", berlin(3, 25, 9)) });
        LogCapture log;
        CalendarService& service = rig.start();
        QCOMPARE(service.authorization(), before);
        // Without access the Google events are published alone.
        const QStringList atStart = before == Authorization::Granted ? QStringList { "g:work:1", "personal/standup" }
                                                                     : QStringList { "g:work:1" };
        QTRY_COMPARE(idsOf(service.events()), atStart);

        QSignalSpy answered(&service, &CalendarService::authorizationChanged);
        service.requestAccess();
        QCOMPARE(rig.store.accessRequests(), requests);
        if (requests && after != before)
            QVERIFY(answered.wait(5000));
        else if (requests)
            QTRY_COMPARE(rig.store.answeredRequests(), requests);
        QCOMPARE(service.authorization(), after);
        QCOMPARE(log.contains("[Quillet] Calendar access request failed: " + failure), !failure.isNull());
        if (before != after && after == Authorization::Granted)
            QTRY_COMPARE(idsOf(service.events()), QStringList({ "g:work:1", "personal/standup" }));
    }

    // A store without calendars is "no accounts" until the application becomes active again;
    // the Google events are still published meanwhile.
    void noAccountsUntilActivation()
    {
        Rig rig;
        rig.store.removeCalendar("personal");
        rig.store.removeCalendar("feed");
        rig.google.answerAllWith({ googleEvent("g:work:1", berlin(3, 25, 9)) });
        CalendarService& service = rig.start();
        QTRY_COMPARE(service.authorization(), Authorization::NoAccounts);
        QTRY_COMPARE(idsOf(service.events()), QStringList { "g:work:1" });

        rig.store.addCalendar("personal", "Personal");
        const int reads = rig.store.calendarReads();
        QSignalSpy published(&service, &CalendarService::eventsChanged);
        rig.store.signalChange();
        QCOMPARE(published.count(), 1);
        QCOMPARE(rig.store.calendarReads(), reads);
        QCOMPARE(service.authorization(), Authorization::NoAccounts);

        service.applicationBecameActive();
        QTRY_COMPARE(service.authorization(), Authorization::Granted);
        QTRY_COMPARE(idsOf(service.events()), QStringList({ "g:work:1", "personal/standup" }));
    }

    // Start-up, then the application becoming active, then the timer; the events reads that
    // follow each resync come later and are left out.
    void activationAndTimerOrder()
    {
        Rig rig;
        CalendarService& service = rig.start(20ms);
        service.applicationBecameActive();
        QTRY_VERIFY(rig.journal.count("google") >= 3);
        rig.journal.removeAll("events");
        QCOMPARE(rig.journal.mid(0, 8),
            QStringList({ "access", "calendars", "google", "access", "calendars", "google", "calendars", "google" }));
    }

    // An explicit choice is kept as a boolean; an unreadable map counts as empty, and an empty
    // map brings every calendar's default back. Hidden calendars are not read at all.
    void visibilityChoices()
    {
        Rig rig;
        CalendarService& service = rig.start();
        QTRY_COMPARE(idsOf(service.events()), QStringList { "personal/standup" });
        QCOMPARE(rig.store.lastReadCalendarIds(), QStringList { "personal" });

        service.setVisible(true, "feed");
        QTRY_COMPARE(idsOf(service.events()), QStringList({ "personal/standup", "feed/parade" }));
        service.setVisible(false, "personal");
        QTRY_COMPARE(rig.store.lastReadCalendarIds(), QStringList { "feed" });
        rig.settings.sync();
        Settings reopened(rig.settings.filePath());
        QCOMPARE(reopened.get(SettingsKeys::calendarVisibility),
            CalendarVisibilityMap({ { "feed", true }, { "personal", false } }));

        rig.settings.setValue(SettingsKeys::calendarVisibility.key(), QStringLiteral("feed=true"));
        QVERIFY(!service.isVisible("feed") && service.isVisible("personal") && service.isVisible("unknown"));
        rig.settings.set(SettingsKeys::calendarVisibility, {});
        QCOMPARE(rig.resynced(), QStringList { "personal/standup" });
    }

    void alwaysRecordVersionRisesOnEveryCall()
    {
        Rig rig;
        rig.google.answerAllWith({});
        rig.store.addEvent("personal", "dentist", "Dentist", berlin(3, 27, 8));
        CalendarService& service = rig.start();
        QTRY_COMPARE(idsOf(service.skippedEvents()), QStringList { "personal/dentist" });
        QSignalSpy version(&service, &CalendarService::alwaysRecordVersionChanged);
        rig.journal.clear();
        service.setAlwaysRecord(false, "personal");
        QCOMPARE(version.count(), 1);
        QCOMPARE(service.alwaysRecordVersion(), 1);
        QCOMPARE(rig.journal, QStringList({ "calendars", "google" }));

        service.setAlwaysRecord(true, "personal");
        QTRY_COMPARE(idsOf(service.events()), QStringList({ "personal/standup", "personal/dentist" }));
        QCOMPARE(service.events().last().kind, EventKind::Session);
        QCOMPARE(rig.settings.get(SettingsKeys::alwaysRecordCalendars), QStringList { "personal" });
    }

    // Desktop events first at equal starts; the skipped ones are published apart, every time,
    // after the listed ones, and are never found by id.
    void publishesMergedAndSplit()
    {
        Rig rig;
        rig.store.addEvent("personal", "dentist", "Dentist", berlin(3, 25, 11));
        rig.google.answerAllWith({ googleEvent("g:work:1", berlin(3, 25, 11)),
            googleEvent("g:work:2", berlin(3, 25, 10), EventKind::Skip) });
        CalendarService& service = rig.start();
        QTRY_COMPARE(idsOf(service.events()), QStringList({ "personal/standup", "g:work:1" }));
        QCOMPARE(idsOf(service.skippedEvents()), QStringList({ "g:work:2", "personal/dentist" }));
        QVERIFY(service.eventWithId("g:work:1"));
        QVERIFY(!service.eventWithId("personal/dentist"));

        QStringList order;
        connect(&service, &CalendarService::eventsChanged, this, [&] { order.append("events"); });
        connect(&service, &CalendarService::skippedEventsChanged, this, [&] { order.append("skipped"); });
        rig.resynced();
        QTRY_COMPARE(order, QStringList({ "events", "skipped" }));
    }

    // By account, then title, comparing code points (not UTF-16 units, not the locale's order).
    void sortsCalendarsByCodePoint()
    {
        Rig rig;
        for (const char* title : { "\U0001F4C5 Plans", "\uFF26ull width", "alpha", "Zeta" })
            rig.store.addCalendar(title, title);
        rig.store.addCalendar("a-feed", "Feed", "On The Web");
        CalendarService& service = rig.start();
        QTRY_COMPARE(service.calendars().size(), 7);
        QStringList titles;
        for (const CalendarService::CalendarInfo& calendar : service.calendars())
            titles.append(calendar.title);
        QCOMPARE(titles,
            QStringList({ "Feed", "Holidays", "Personal", "Zeta", "alpha", "\uFF26ull width", "\U0001F4C5 Plans" }));
    }

    void onlyTheLatestResyncPublishes()
    {
        Rig rig;
        rig.store.holdAnswers();
        CalendarService& service = rig.start();
        QSignalSpy published(&service, &CalendarService::eventsChanged);
        service.resync();
        rig.store.release();
        QTRY_COMPARE(published.count(), 1);
        QCOMPARE(rig.journal.count("events"), 1);
    }

    // A big week is turned into records over several turns of the event loop: it is published
    // once, whole and in order, and a resync started halfway replaces it unpublished.
    void publishesABigWeekOnce()
    {
        Rig rig;
        QStringList ids;
        const auto fill = [&](const QString& title) {
            rig.store.clearEvents();
            ids.clear();
            for (int i = 0; i < 1000; ++i) {
                const QString uid = QStringLiteral("e%1").arg(i, 4, 10, QLatin1Char('0'));
                rig.store.addEvent("personal", uid, title, berlin(3, 26, 8).addSecs(i * 60)).attendees = { {}, {}, {} };
                ids.append("personal/" + uid);
            }
        };
        fill("Before");
        CalendarService& service = rig.start();
        QTRY_COMPARE(idsOf(service.events()), ids);

        QStringList firstTitles;
        connect(&service, &CalendarService::eventsChanged, this,
            [&] { firstTitles.append(service.events().first().title + " " + service.events().last().title); });
        rig.store.holdAnswers();
        service.resync();
        rig.store.release();
        // Runs after the first slice of the answer on its way, before the second.
        QTimer::singleShot(0, this, [&] {
            fill("After");
            service.resync();
        });
        QTRY_VERIFY(!firstTitles.isEmpty());
        QCOMPARE(firstTitles.first(), "After After");
        QCOMPARE(idsOf(service.events()), ids);
    }

    // A Google fetch that started before the latest one (an account since removed) and answers
    // after it never shows its events.
    void anOlderGoogleFetchIsDropped()
    {
        Rig rig;
        CalendarService& service = rig.start();
        service.refreshGoogle();
        QCOMPARE(rig.google.fetches.size(), 2);
        QSignalSpy published(&service, &CalendarService::eventsChanged);
        rig.google.answer(1, { googleEvent("g:kept:1", berlin(3, 26, 9)) });
        QTRY_COMPARE(idsOf(service.events()), QStringList({ "personal/standup", "g:kept:1" }));
        rig.google.answer(0, { googleEvent("g:removed:1", berlin(3, 26, 9)) });
        QCOMPARE(rig.resynced(), QStringList({ "personal/standup", "g:kept:1" }));
    }

    // The whole road over the real store: the fixture's week as the rest of the system sees it.
    void publishesTheWeekFromEds()
    {
        QVERIFY2(qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS"), "run through scripts/with-private-bus");
        QString error;
        QVERIFY2(CalendarFixture::run(CalendarFixture::setupScript(), &error), qPrintable(error));
        QTemporaryDir dir;
        Settings settings(dir.filePath("settings.ini"));
        FakeClock clock(CalendarFixture::kNow.toUTC());
        EdsCalendarStore store(CalendarFixture::kPatientLimits);
        CalendarService service(store, settings, clock);
        service.start();
        QTRY_VERIFY_WITH_TIMEOUT(!service.events().isEmpty(), 120'000);

        QStringList calendars;
        for (const CalendarService::CalendarInfo& calendar : service.calendars())
            calendars.append(calendar.sourceTitle + "/" + calendar.title);
        QCOMPARE(calendars,
            QStringList({ "Contacts/Birthdays & Anniversaries", "On The Web/Holidays", "On This Computer/Personal",
                "On This Computer/Side project", "On This Computer/Work", "Other/Loose ends" }));

        const QColor work("#3465a4");
        const auto meeting = [&](const QString& uid, const QString& title, const QDateTime& start, int minutes,
                                 bool confident, const QStringList& attendees = {}, int count = 0) {
            EventInfo event { "quillet-work/" + uid, title, start, start.addSecs(minutes * 60), attendees, std::nullopt,
                "quillet-work", "Work", work, std::nullopt, count, std::nullopt, EventKind::Meeting, confident };
            return event;
        };
        EventInfo review
            = meeting("review", "Design review", berlin(3, 25, 11), 60, true, { "Alice Nguyen", "bob.tran", "Me" }, 5);
        review.organizer = "Alice Nguyen";
        review.location = "Board Room";
        EventInfo vendor = meeting("vendor", "Vendor check-in", berlin(3, 26, 11), 30, true, { "Eve", "me" }, 2);
        vendor.conferenceURL = QUrl("https://us02web.zoom.us/j/8123?pwd=Zx");
        const QDateTime utc(QDate(2026, 3, 26), QTime(15, 0), Qt::UTC);
        const QList<EventInfo> expected {
            meeting("late", "Late call", berlin(3, 24, 23), 120, false),
            meeting("standup/20260325T083000Z", "Standup", berlin(3, 25, 9, 30), 15, false),
            review,
            meeting("partner", "Partner call", berlin(3, 25, 15), 30, true, { "Carol", "me", "me.alias" }, 3),
            vendor,
            meeting("nyc", "NY sync", berlin(3, 26, 14), 30, false),
            meeting("utc", "UTC interview", utc, 60, false),
            meeting("tokyo", "Tokyo pitch", berlin(3, 27, 10), 60, false),
            meeting("floating", "Floating demo", berlin(3, 27, 16), 60, false),
            meeting("standup/20260330T073000Z", "Standup (moved)", berlin(3, 31, 14), 15, false),
            meeting("retro", "Retro call", berlin(3, 31, 23, 30), 30, false),
        };
        QList<EventInfo> events = service.events();
        events.removeIf([](const EventInfo& event) { return event.calendarId != "quillet-work"; });
        QCOMPARE(idsOf(events), idsOf(expected));
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(events[i] == expected[i], qPrintable(expected[i].id));
        QCOMPARE(idsOf(service.skippedEvents()), QStringList { "quillet-work/dentist" });
        QCOMPARE(service.skippedEvents().first().kind, EventKind::Skip);

        // Another program edits, adds and deletes; a hidden calendar is not read.
        QVERIFY(idsOf(service.events()).contains("quillet-side/side"));
        service.setVisible(false, "quillet-side");
        QVERIFY2(CalendarFixture::run(
                     CalendarFixture::put("quillet-work",
                         CalendarFixture::event("utc", "UTC interview, moved", ":20260326T170000Z", ":20260326T180000Z")
                             + CalendarFixture::event("kickoff", "Kickoff", ":20260330T080000Z", ":20260330T090000Z"))
                         + CalendarFixture::command({ "remove", "quillet-work", "dentist" }),
                     &error),
            qPrintable(error));
        // The helper's edits may reach the service in more than one change.
        QTRY_VERIFY_WITH_TIMEOUT(idsOf(service.events()).contains("quillet-work/kickoff"), 60'000);
        QTRY_VERIFY_WITH_TIMEOUT(service.skippedEvents().isEmpty(), 60'000);
        QTRY_COMPARE_WITH_TIMEOUT(service.eventWithId("quillet-work/utc")->title, "UTC interview, moved", 60'000);
        QVERIFY(!idsOf(service.events()).contains("quillet-side/side"));

        // The ids stay what they were for a service made anew (a restart).
        EdsCalendarStore secondStore(CalendarFixture::kPatientLimits);
        CalendarService restarted(secondStore, settings, clock);
        restarted.start();
        QTRY_COMPARE_WITH_TIMEOUT(idsOf(restarted.events()), idsOf(service.events()), 120'000);
    }
};

int main(int argc, char* argv[])
{
    // The fixture's week crosses Central Europe's change to summer time.
    ZoneAndLocale::useTimeZone("Europe/Berlin");
    TestSupport::isolateHome();
    QCoreApplication app(argc, argv);
    TestCalendarService tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "TestCalendarService.moc"
