#include "calendar/MeetingFactory.h"
#include "library/MeetingDateGroup.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "support/AccessibleTree.h"
#include "support/AccessibleNames.h"
#include "support/AppRig.h"
#include "support/CalendarRig.h"
#include "support/FakeClock.h"
#include "support/RecordingUrlOpener.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"
#include "ui/design/RecordingDot.h"
#include "ui/home/ComingUpPanel.h"
#include "ui/home/ComingUpParts.h"
#include "ui/home/FolderHeader.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCard.h"
#include "ui/home/MeetingCardList.h"
#include "ui/window/MainWindow.h"

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTimeZone>
#include <cmath>
#include <limits>
#include <tuple>

namespace {

QString describe(const QList<MeetingDateGroup>& groups)
{
    QStringList parts;
    for (const MeetingDateGroup& group : groups) {
        QStringList titles;
        for (const Meeting* meeting : group.meetings)
            titles.append(meeting->title());
        parts.append(group.title + QLatin1Char('=') + titles.join(QLatin1Char(',')));
    }
    return parts.join(QLatin1Char('|'));
}

using Fact = MeetingCard::Fact;

// 10:10 on Wednesday 9 December 2026 (the tests run in UTC).
const QDateTime kNow(QDate(2026, 12, 9), QTime(10, 10), Qt::UTC);

QAction* entry(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// A page over a real store and the real calendar service, recording what it asks of the window.
struct Page
{
    explicit Page(bool dashboard = true)
        : calendar(CalendarStore::Access::FullAccess, true, kNow)
    {
        dashboardWanted = dashboard;
    }

    Meeting* add(const QString& title, const QDateTime& date, Folder* folder = nullptr)
    {
        auto* meeting = new Meeting(title, date);
        meeting->setFolder(folder);
        store->insert(meeting);
        store->save();
        return meeting;
    }

    Folder* addFolder(const QString& name, const QString& detail = {})
    {
        auto* folder = new Folder(name, QStringLiteral("briefcase"), detail);
        store->insert(folder);
        store->save();
        return folder;
    }

    HomeView& show(Folder* folder = nullptr)
    {
        HomeServices services { store.context(), calendar.clock, calendar.service, browser,
            &MeetingFactory::noteForEvent, {}, {} };
        view = std::make_unique<HomeView>(
            folder, services,
            [this](Meeting* m) {
                journal.append({ "open", m });
            },
            [this](Meeting* m) {
                journal.append({ "record", m });
            },
            [this](Meeting* m) {
                journal.append({ "new folder", m });
            },
            [this](Meeting* m) {
                journal.append({ "delete", m });
            });
        view->resize(1120, 740);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qWarning("the page was not exposed");
        return *view;
    }

    QList<Meeting*> shown() const { return view->meetingList()->meetingsShown(); }

    TempStore store;
    CalendarRig calendar;
    RecordingUrlOpener browser;
    bool dashboardWanted = true;
    QList<std::pair<QString, Meeting*>> journal;
    std::unique_ptr<HomeView> view;
};

} // namespace

namespace MeetingCard {
char* toString(const Fact& fact)
{
    return QTest::toString(QStringLiteral("[%1|%2]").arg(fact.text, fact.symbol));
}
} // namespace MeetingCard

Q_DECLARE_METATYPE(QList<MeetingCard::Fact>)

class TestHomeView final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZoneAndLocale::useUtcAndEnglish(); }

    void groupsByCalendarDay_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QStringList>("meetings");
        QTest::addColumn<QString>("groups");

        // Berlin moved to summer time at 02:00 on 29 March 2026: a week back from that
        // morning at the same clock time is 23 hours more than 6 x 86,400 s before.
        const QDateTime plainDay(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);
        const QDateTime afterChange(QDate(2026, 3, 29), QTime(8, 0), Qt::UTC);
        const QStringList boundaries = { "today 00:00", "yesterday 23:59", "week back", "week back +1s", "tomorrow" };
        const QString boundaryGroups = QStringLiteral(
            "Today=today 00:00|Yesterday=yesterday 23:59|This Week=week back +1s,tomorrow|Earlier=week back");
        for (const QByteArray& zone : { QByteArray(), QByteArray("Europe/Berlin") }) {
            const QDateTime now = zone.isEmpty() ? plainDay : afterChange;
            const QByteArray name = zone.isEmpty() ? "UTC" : zone;
            QTest::newRow(name + ": boundaries") << zone << now << boundaries << boundaryGroups;
            QTest::newRow(name + ": only old") << zone << now << QStringList { "month back", "year back" }
                                               << QStringLiteral("Earlier=month back,year back");
            QTest::newRow(name + ": input order kept")
                << zone << now << QStringList { "today 00:00", "yesterday 23:59", "now", "year back", "two days back" }
                << QStringLiteral("Today=today 00:00,now|Yesterday=yesterday 23:59|This Week=two days back|"
                                  "Earlier=year back");
        }
    }

    void groupsByCalendarDay()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, now);
        QFETCH(QStringList, meetings);
        QFETCH(QString, groups);
        const ZoneAndLocale::ZoneScope scope(zone);

        // Wall-clock times of the zone, built from dates and times (not by shifting instants).
        const QTimeZone tz = zone.isEmpty() ? QTimeZone::utc() : QTimeZone(zone);
        const QDateTime wall = now.toTimeZone(tz);
        const QDate today = wall.date();
        const auto at = [&](QDate day, QTime time) { return QDateTime(day, time, tz); };
        const QHash<QString, QDateTime> dates = {
            { "now", now },
            { "today 00:00", at(today, QTime(0, 0)) },
            { "yesterday 23:59", at(today.addDays(-1), QTime(23, 59)) },
            { "week back", at(today.addDays(-7), wall.time()) },
            { "week back +1s", at(today.addDays(-7), wall.time()).addSecs(1) },
            { "two days back", at(today.addDays(-2), QTime(12, 0)) },
            { "tomorrow", at(today.addDays(1), QTime(9, 0)) },
            { "month back", at(today.addDays(-30), QTime(9, 0)) },
            { "year back", at(today.addDays(-365), QTime(9, 0)) },
        };
        if (!zone.isEmpty())
            QVERIFY(dates["week back"].secsTo(now) != 7 * 86400);

        QList<std::shared_ptr<Meeting>> owned;
        QList<Meeting*> list;
        for (const QString& name : meetings) {
            owned.append(std::make_shared<Meeting>(name, dates.value(name).toUTC()));
            list.append(owned.last().get());
        }
        QCOMPARE(describe(groupMeetingsByDate(list, now)), groups);
    }

    void cardFacts_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<std::optional<QString>>("summary");
        QTest::addColumn<QString>("folderIcon"); // empty: not filed
        QTest::addColumn<bool>("showFolder");
        QTest::addColumn<QList<Fact>>("facts");

        const Fact time { QStringLiteral("9:05 AM"), {} };
        const Fact summary { {}, QStringLiteral("text.alignleft") };
        const std::optional<QString> none;
        QTest::newRow("0 s") << 0.0 << none << QString() << true << QList<Fact> { time };
        QTest::newRow("59.9 s") << 59.9 << none << QString() << true << QList<Fact> { time, { "<1m", {} } };
        QTest::newRow("an hour") << 3600.0 << none << QString() << true << QList<Fact> { time, { "1h 0m", {} } };
        QTest::newRow("a day") << 86400.0 << none << QString() << true << QList<Fact> { time, { "24h 0m", {} } };
        QTest::newRow("not a number") << std::nan("") << none << QString() << true << QList<Fact> { time };
        QTest::newRow("1e30 s") << 1e30 << none << QString() << true << QList<Fact> { time };
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << none << QString() << true
                                  << QList<Fact> { time };
        QTest::newRow("empty summary") << 0.0 << std::optional<QString>(QString()) << QString() << true
                                       << QList<Fact> { time, summary };
        QTest::newRow("folder on the dashboard")
            << 90.0 << std::optional<QString>(QStringLiteral("Notes")) << QStringLiteral("briefcase") << true
            << QList<Fact> { time, { "1m", {} }, summary, { "Clients", "briefcase" } };
        QTest::newRow("folder on its page")
            << 0.0 << none << QStringLiteral("briefcase") << false << QList<Fact> { time };
        QTest::newRow("unknown folder symbol") << 0.0 << none << QStringLiteral("sparkles.rectangle") << true
                                               << QList<Fact> { time, { "Clients", "folder" } };
    }

    void cardFacts()
    {
        QFETCH(double, duration);
        QFETCH(std::optional<QString>, summary);
        QFETCH(QString, folderIcon);
        QFETCH(bool, showFolder);
        QFETCH(QList<Fact>, facts);
        Meeting meeting(QStringLiteral("Weekly"), QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC));
        meeting.setDuration(duration);
        meeting.setSummary(summary);
        Folder folder(QStringLiteral("Clients"), folderIcon, {});
        if (!folderIcon.isEmpty())
            meeting.setFolder(&folder);
        QCOMPARE(MeetingCard::facts(meeting, showFolder), facts);
        meeting.setFolder(nullptr);
    }

    void cardTitleIsShownAsTyped_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QString() << QStringLiteral("Untitled");
        QTest::newRow("spaces") << QStringLiteral("  ") << QStringLiteral("  ");
        QTest::newRow("markup") << QStringLiteral("<b>x</b>") << QStringLiteral("<b>x</b>");
    }

    void cardTitleIsShownAsTyped()
    {
        QFETCH(QString, title);
        QFETCH(QString, shown);
        Meeting meeting(title, QDateTime::currentDateTimeUtc());
        QCOMPARE(MeetingCard::title(meeting), shown);
    }

    void dashboardShowsHeadingAndGroups()
    {
        Page page;
        page.add(QStringLiteral("Old"), kNow.addDays(-30));
        page.add(QStringLiteral("Monday"), kNow.addDays(-2));
        page.add(QStringLiteral("Yesterday"), kNow.addDays(-1));
        Meeting* today = page.add(QStringLiteral("Today"), kNow.addSecs(-3600));
        HomeView& home = page.show();
        QVERIFY(home.comingUp());
        QVERIFY(!home.folderHeader());
        QVERIFY(home.showsHeading());
        QVERIFY(!home.showsEmptyState());
        QCOMPARE(home.meetingList()->groupTitles(), (QStringList { "Today", "Yesterday", "This Week", "Earlier" }));
        QCOMPARE(page.shown().first(), today);

        // A title that takes a second line makes its card taller and moves the next one down.
        MeetingCardList* list = home.meetingList();
        Meeting* next = page.shown().at(1);
        const int nextTop = list->cardRect(next).top();
        const int gap = nextTop - list->cardRect(today).bottom();
        today->setTitle(QStringLiteral("A title long enough to take a second line on a card of this page, with words "
                                       "that go on and on until the first line is full"));
        QVERIFY(list->cardRect(next).top() > nextTop);
        QCOMPARE(list->cardRect(next).top() - list->cardRect(today).bottom(), gap);

        // Live: a new meeting, a deletion, a move to another day.
        Meeting* added = page.add(QStringLiteral("Just now"), kNow);
        QCOMPARE(page.shown().first(), added);
        page.store->remove(today);
        page.store->save();
        QVERIFY(!page.shown().contains(today));
        added->setDate(kNow.addDays(-60));
        QCOMPARE(page.shown().last(), added);
        QCOMPARE(home.meetingList()->groupTitles(), (QStringList { "Yesterday", "This Week", "Earlier" }));
    }

    void emptyPages_data()
    {
        QTest::addColumn<bool>("dashboard");
        QTest::addColumn<QString>("text");
        QTest::newRow("dashboard") << true << "Choose a meeting, or press record and just talk.";
        QTest::newRow("folder") << false << "No meetings here yet \u2014 file one from its \u201C\u22EF\u201D menu.";
    }

    void emptyPages()
    {
        QFETCH(bool, dashboard);
        QFETCH(QString, text);
        Page page;
        Folder* folder = page.addFolder(QStringLiteral("Clients"));
        Meeting* elsewhere = page.add(QStringLiteral("Unfiled"), kNow);
        if (dashboard) {
            page.store->remove(elsewhere);
            page.store->save();
        }
        HomeView& home = page.show(dashboard ? nullptr : folder);
        QVERIFY(home.showsEmptyState());
        QCOMPARE(home.emptyText(), text);
        QVERIFY(!home.showsHeading());

        // The first meeting of the page replaces the empty state, at the next turn.
        page.add(QStringLiteral("First"), kNow, folder);
        QTRY_VERIFY(!home.showsEmptyState());
        QCOMPARE(home.showsHeading(), dashboard);
    }

    void folderHeader_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("meetings");
        QTest::addColumn<QString>("shownName");
        QTest::addColumn<QString>("count");
        QTest::newRow("empty") << ""
                               << "" << 0 << "Untitled"
                               << "0 MEETINGS";
        QTest::newRow("one") << "<b>Clients</b>"
                             << "Calls with customers" << 1 << "<b>Clients</b>"
                             << "1 MEETING";
        QTest::newRow("twelve") << "Team"
                                << "" << 12 << "Team"
                                << "12 MEETINGS";
    }

    void folderHeader()
    {
        QFETCH(QString, name);
        QFETCH(QString, detail);
        QFETCH(int, meetings);
        QFETCH(QString, shownName);
        QFETCH(QString, count);
        Page page;
        Folder* folder = page.addFolder(name, detail);
        for (int i = 0; i < meetings; ++i)
            page.add(QStringLiteral("Meeting %1").arg(i), kNow.addDays(-i), folder);
        page.add(QStringLiteral("Elsewhere"), kNow);
        HomeView& home = page.show(folder);
        QVERIFY(!home.comingUp());
        FolderHeader* header = home.folderHeader();
        QCOMPARE(header->nameText(), shownName);
        QCOMPARE(header->descriptionText(), detail);
        QCOMPARE(header->isDescriptionShown(), !detail.isEmpty());
        QCOMPARE(header->shownCount(), count);
        QCOMPARE(header->symbol(), QStringLiteral("briefcase"));
        QCOMPARE(page.shown().size(), meetings);
        QVERIFY(!home.showsHeading());
    }

    void refiledMeetingLeavesTheFolderPage()
    {
        Page page;
        page.store->commitChangesEachTurn();
        Folder* clients = page.addFolder(QStringLiteral("Clients"));
        page.addFolder(QStringLiteral("Team"));
        Meeting* first = page.add(QStringLiteral("First"), kNow, clients);
        Meeting* second = page.add(QStringLiteral("Second"), kNow.addDays(-1), clients);
        HomeView& home = page.show(clients);
        QCOMPARE(home.folderHeader()->shownCount(), QStringLiteral("2 MEETINGS"));

        MeetingCardList* list = home.meetingList();
        QTest::mouseClick(list, Qt::LeftButton, {}, list->actionsRect(first).center());
        QMenu* menu = home.openMenu();
        QVERIFY(menu);
        QVERIFY(page.journal.isEmpty()); // "⋯" opens the menu, not the meeting
        entry(*entry(*menu, QStringLiteral("Add to Folder"))->menu(), QStringLiteral("Team"))->trigger();
        QCOMPARE(page.shown(), QList<Meeting*> { second });
        QCOMPARE(home.folderHeader()->shownCount(), QStringLiteral("1 MEETING"));
        letTheLoopTurn(page.store.context());
        QCOMPARE(page.store.reopen().fetchFolders().last()->meetings().size(), 1);
    }

    void clickOpensTheMeeting()
    {
        Page page;
        Meeting* meeting = page.add(QStringLiteral("Design review"), kNow);
        HomeView& home = page.show();
        MeetingCardList* list = home.meetingList();
        const QRect card = list->cardRect(meeting);
        QTest::mouseClick(list, Qt::LeftButton, {}, card.topLeft() + QPoint(20, 10));
        QCOMPARE(page.journal, (QList<std::pair<QString, Meeting*>> { { "open", meeting } }));
    }

    void recordingDotFollowsTheMeeting()
    {
        Page page;
        Meeting* meeting = page.add(QStringLiteral("Standup"), kNow);
        page.add(QStringLiteral("Other"), kNow.addSecs(-60));
        HomeView& home = page.show();
        MeetingCardList* list = home.meetingList();
        QVERIFY(list->findChildren<RecordingDot*>().isEmpty());
        meeting->setIsRecording(true);
        QTRY_COMPARE(list->findChildren<RecordingDot*>().size(), 1);
        RecordingDot* dot = list->findChildren<RecordingDot*>().first();
        QVERIFY(list->cardRect(meeting).contains(dot->geometry()));
        QVERIFY(dot->isVisible());
        meeting->setIsRecording(false);
        QTRY_VERIFY(list->findChildren<RecordingDot*>().isEmpty());
    }

    void pageOverTheApplicationsServices()
    {
        // Not asked for calendar access yet: the card offers Google, whose sign-in starts in
        // the browser.
        AppRig rig;
        HomeView home(nullptr, rig->homeServices(), {}, {}, {}, {});
        ComingUpPanel* panel = home.comingUp();
        QCOMPARE(panel->card(), ComingUpPanel::Card::connect);
        QVERIFY(panel->googleButton());
        panel->googleButton()->click();
        QVERIFY(rig->google().isConnecting());
        QTRY_COMPARE(rig.browser.opened.size(), 1);
        QCOMPARE(rig.browser.opened.first().path(), QStringLiteral("/o/oauth2/v2/auth"));
    }

    // Home by the keyboard alone, in the real window: Tab reaches the coming-up rows, then the
    // cards; the arrows move a ringed current row or card within each, Enter opens it, and the
    // menu key or Shift+F10 opens a card's menu.
    void keyboardInTheWindow()
    {
        AppRig rig;
        rig.clock.set(kNow);
        rig.calendars.addCalendar("work", "Work");
        for (const auto& [uid, title, days] : { std::tuple("plan", "Planning", 1), std::tuple("sync", "Sync", 2) }) {
            StoreEvent& event = rig.calendars.addEvent("work", uid, title, kNow.addDays(days));
            for (const char* name : { "ada", "bob" })
                event.attendees.append(
                    { QString::fromLatin1(name), QUrl(QStringLiteral("mailto:%1@example.com").arg(name)) });
        }
        auto* standup = new Meeting(QStringLiteral("Standup"), kNow.addSecs(-600));
        auto* retro = new Meeting(QStringLiteral("Retro"), kNow.addDays(-3));
        rig->store().insert(standup);
        rig->store().insert(retro);
        QVERIFY(rig->store().save().ok());
        MainWindow window(rig->windowServices());
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        rig->calendar().start();
        QTRY_COMPARE(rig->calendar().events().size(), 2);
        MainContentView& content = window.content();
        auto* home = qobject_cast<HomeView*>(content.page());
        QVERIFY(home);
        ComingUp::DayList* days = home->comingUp()->dayList();
        MeetingCardList* cards = home->meetingList();
        // With its cards and the coming week, the dashboard holds no control without a name.
        QUILLET_VERIFY_ALL_NAMED(window);
        QTRY_COMPARE(days->events().size(), 2);
        const auto tabTo = [&](QWidget* target) {
            for (int presses = 0; presses < 40 && QApplication::focusWidget() != target; ++presses)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
            return QApplication::focusWidget() == target;
        };
        const auto settle = [] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        };

        QVERIFY(tabTo(days));
        QCOMPARE(days->currentEventId(), days->events().at(0).id);
        const QImage ringed = days->grab().toImage();
        QTest::keyClick(days, Qt::Key_Down);
        QCOMPARE(days->currentEventId(), days->events().at(1).id);
        QVERIFY(days->grab().toImage() != ringed);
        QTest::keyClick(days, Qt::Key_Up);
        QCOMPARE(days->grab().toImage(), ringed);

        // The next stop is the cards.
        QTest::keyClick(days, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), cards);
        QCOMPARE(cards->currentMeeting(), standup);
        QTest::keyClick(cards, Qt::Key_Down);
        QCOMPARE(cards->currentMeeting(), retro);
        QTest::keyClick(cards, Qt::Key_Down);
        QCOMPARE(cards->currentMeeting(), retro);
        QTest::keyClick(cards, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(home->openMenu());
        QVERIFY(entry(*home->openMenu(), QStringLiteral("Delete")));
        home->openMenu()->close();
        settle();
        QVERIFY(!home->openMenu());
        QTest::keyClick(cards, Qt::Key_Menu);
        QVERIFY(home->openMenu());
        home->openMenu()->close();
        settle();
        // Without a window manager, a closed menu gives the window back to nobody.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(QApplication::focusWidget(), cards);
        QTest::keyClick(cards, Qt::Key_Return);
        QCOMPARE(content.selection(), SidebarItem::meeting(retro));
        // The keyboard goes on in the page it opened.
        settle();
        QVERIFY(QApplication::focusWidget() && content.page()->isAncestorOf(QApplication::focusWidget()));

        // Enter on a coming-up row opens the event's meeting.
        content.setSelection(SidebarItem::home());
        settle();
        home = qobject_cast<HomeView*>(content.page());
        days = home->comingUp()->dayList();
        QVERIFY(tabTo(days));
        QTest::keyClick(days, Qt::Key_Enter);
        QVERIFY(content.selection().meeting());
        QCOMPARE(content.selection().meeting()->title(), QStringLiteral("Planning"));
    }

    // A screen reader in the real window: the coming-up rows and the cards are lists of their
    // day titles, as headings, and one item per event or meeting with what the row shows; the
    // keyboard's row is the accessible focus, and an item's actions open it or its menu.
    void screenReaderReadsTheLists()
    {
        AccessibleTree::EventSpy told;
        AppRig rig;
        rig.clock.set(kNow);
        rig.calendars.addCalendar("work", "Work");
        for (const auto& [uid, title, days] : { std::tuple("plan", "Planning", 1), std::tuple("sync", "Sync", 2) }) {
            StoreEvent& event = rig.calendars.addEvent("work", uid, title, kNow.addDays(days));
            for (const char* name : { "ada", "bob" })
                event.attendees.append(
                    { QString::fromLatin1(name), QUrl(QStringLiteral("mailto:%1@example.com").arg(name)) });
        }
        auto* folder = new Folder(QStringLiteral("Clients"), QStringLiteral("briefcase"), {});
        auto* standup = new Meeting(QStringLiteral("Standup"), kNow.addSecs(-600));
        standup->setDuration(1800);
        standup->setSummary(QStringLiteral("Shipped."));
        auto* retro = new Meeting(QString(), kNow.addDays(-3));
        retro->setUserNotes(QStringLiteral("Went well."));
        rig->store().insert(folder);
        rig->store().insert(standup);
        rig->store().insert(retro);
        standup->setFolder(folder);
        QVERIFY(rig->store().save().ok());
        MainWindow window(rig->windowServices());
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        rig->calendar().start();
        QTRY_COMPARE(rig->calendar().events().size(), 2);
        MainContentView& content = window.content();
        auto* home = qobject_cast<HomeView*>(content.page());
        QVERIFY(home);
        ComingUp::DayList* days = home->comingUp()->dayList();
        MeetingCardList* cards = home->meetingList();
        QTRY_COMPARE(days->events().size(), 2);

        QAccessibleInterface* coming = AccessibleTree::of(days);
        QCOMPARE(coming->role(), QAccessible::List);
        QCOMPARE(AccessibleTree::name(coming), QStringLiteral("Coming up"));
        QCOMPARE(AccessibleTree::items(coming, QAccessible::Heading).size(), 2);
        const QList<QAccessibleInterface*> events = AccessibleTree::items(coming, QAccessible::ListItem);
        QCOMPARE(AccessibleTree::names(events), (QStringList { "Planning", "Sync" }));
        QVERIFY(AccessibleTree::description(events.at(0)).startsWith(days->timeOf(days->events().at(0).id)));
        QCOMPARE(events.at(1)->rect().topLeft(), days->mapToGlobal(days->rowRect(days->events().at(1).id).topLeft()));
        QCOMPARE(coming->indexOfChild(events.at(1)), coming->childCount() - 1);
        QCOMPARE(events.at(1)->parent(), coming);

        QAccessibleInterface* list = AccessibleTree::of(cards);
        QCOMPARE(list->role(), QAccessible::List);
        QStringList read;
        for (QAccessibleInterface* item : AccessibleTree::items(list))
            read.append((item->role() == QAccessible::Heading ? "heading:" : "item:") + AccessibleTree::name(item) + "|"
                + AccessibleTree::description(item));
        QCOMPARE(read,
            (QStringList { "heading:Today|", "item:Standup|10:00 AM, 30m, Summary, Clients", "heading:This Week|",
                "item:Untitled|10:10 AM" }));

        // Tab and the arrows: the row the keyboard is on is the focus a screen reader follows.
        const auto tabTo = [&](QWidget* target) {
            for (int presses = 0; presses < 40 && QApplication::focusWidget() != target; ++presses)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
            QCoreApplication::processEvents();
            return QApplication::focusWidget() == target;
        };
        QVERIFY(tabTo(days));
        QCOMPARE(told.lastFocus(), QStringLiteral("Planning"));
        QCOMPARE(coming->focusChild(), AccessibleTree::items(coming, QAccessible::ListItem).at(0));
        QTest::keyClick(days, Qt::Key_Down);
        QCOMPARE(told.focusedRows(days).last(), QStringLiteral("Sync"));
        QVERIFY(AccessibleTree::items(coming, QAccessible::ListItem).at(1)->state().focused);
        QVERIFY(!AccessibleTree::items(coming, QAccessible::ListItem).at(0)->state().focused);
        QVERIFY(tabTo(cards));
        QCOMPARE(told.lastFocus(), QStringLiteral("Standup"));
        QTest::keyClick(cards, Qt::Key_Down);
        QCOMPARE(told.focusedRows(cards).last(), QStringLiteral("Untitled"));

        QAccessibleActionInterface* actions = AccessibleTree::items(list).at(3)->actionInterface();
        QVERIFY(actions);
        QCOMPARE(actions->actionNames(),
            (QStringList { QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::showMenuAction() }));
        actions->doAction(QAccessibleActionInterface::showMenuAction());
        QVERIFY(home->openMenu());
        home->openMenu()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(content.selection(), SidebarItem::meeting(retro));
    }

    // A row's interface holds no meeting: once the meeting goes it is invalid and reads nothing,
    // and the items a screen reader asks for again are the rows as they are.
    void accessibleCardOfARemovedMeeting()
    {
        Page page;
        Meeting* first = page.add(QStringLiteral("First"), kNow.addSecs(-60));
        page.add(QStringLiteral("Second"), kNow.addSecs(-120));
        HomeView& home = page.show();
        QAccessibleInterface* list = AccessibleTree::of(home.meetingList());
        QAccessibleInterface* card = AccessibleTree::items(list).at(1);
        QCOMPARE(AccessibleTree::name(card), QStringLiteral("First"));
        QVERIFY(card->isValid());

        page.store->remove(first);
        page.store->save();
        QVERIFY(!card->isValid());
        QCOMPARE(AccessibleTree::name(card), QString());
        QVERIFY(card->rect().isEmpty());
        QCOMPARE(list->indexOfChild(card), -1);
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list)), (QStringList { "Today", "Second" }));
        // The old interface goes with the next turn of the event loop; the new ones stay.
        QCoreApplication::processEvents();
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list)), (QStringList { "Today", "Second" }));
        QVERIFY(AccessibleTree::items(list).at(1)->isValid());
    }

    void recordNowOpensThenRecords()
    {
        Page page;
        HomeView& home = page.show();
        QVERIFY(page.calendar.start(
            { CalendarRig::event(QStringLiteral("standup"), QStringLiteral("Standup"), kNow.addSecs(300)) }));
        ComingUp::HeroCard* hero = home.comingUp()->hero();
        QVERIFY(hero);
        hero->recordButton()->click();
        QCOMPARE(page.journal.size(), 2);
        QCOMPARE(page.journal[0].first, QStringLiteral("open"));
        QCOMPARE(page.journal[1].first, QStringLiteral("record"));
        QCOMPARE(page.journal[0].second, page.journal[1].second);
        QCOMPARE(page.journal[0].second->title(), QStringLiteral("Standup"));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestHomeView)
#include "TestHomeView.moc"
