#include "calendar/CalendarFixture.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/GoogleSignIn.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "ui/design/Availability.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/Quillet.h"
#include "ui/design/Spinner.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/ToneLabel.h"
#include "ui/settings/CalendarRow.h"
#include "ui/settings/CalendarSettingsSection.h"
#include "ui/settings/GoogleCalendarSettings.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QLayout>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrlQuery>

using namespace std::chrono_literals;
using Access = CalendarStore::Access;
using Account = GoogleCalendarService::ConnectedAccount;
using CalendarInfo = CalendarService::CalendarInfo;
using Reply = FakeHttpServer::Reply;
using Authorization = CalendarService::Authorization;

namespace {

struct Section
{
    std::unique_ptr<AppRig> rig;
    std::unique_ptr<CalendarSettingsSection> view;

    explicit Section(AppRig::Options options = {})
        : rig(std::make_unique<AppRig>(options))
    { }

    CalendarSettingsSection& open()
    {
        view = std::make_unique<CalendarSettingsSection>((*rig)->settingsServices());
        view->resize(560, 600);
        view->show();
        return *view;
    }

    // The shown row (desktop or Google) whose box has the title, as a screen reader reads it;
    // null when there is none.
    QList<CalendarRow*> rowsTitled(const QString& title) const
    {
        QList<CalendarRow*> found;
        for (CalendarRow* row : view->rows() + view->google()->rows())
            if (row->isVisibleTo(view.get())
                && QAccessible::queryAccessibleInterface(row->checkBox())->text(QAccessible::Name) == title)
                found.append(row);
        return found;
    }
    CalendarRow* row(const QString& title) const
    {
        const QList<CalendarRow*> found = rowsTitled(title);
        return found.size() == 1 ? found.first() : nullptr;
    }
    QStringList texts() const { return ViewProbe::texts(*view); }
    // The section's small capitals, top to bottom.
    QStringList headers() const
    {
        view->layout()->activate();
        QList<EditorialLabel*> labels;
        for (EditorialLabel* label : view->findChildren<EditorialLabel*>())
            if (label->isVisibleTo(view.get()))
                labels.append(label);
        std::sort(labels.begin(), labels.end(), [this](const QWidget* a, const QWidget* b) {
            return a->mapTo(view.get(), QPoint()).y() < b->mapTo(view.get(), QPoint()).y();
        });
        QStringList texts;
        for (const EditorialLabel* label : labels)
            texts.append(label->text());
        return texts;
    }
};

CalendarInfo calendar(const QString& source, const QString& title)
{
    return { title, title, source, Qt::blue, true };
}

QString titles(const QList<CalendarSettingsSection::Group>& groups)
{
    QStringList parts;
    for (const auto& group : groups) {
        QStringList members;
        for (const CalendarInfo& info : group.calendars)
            members.append(info.title);
        parts.append(group.source + ": " + members.join(","));
    }
    return parts.join(" | ");
}

} // namespace

class TestCalendarSettings final : public QObject
{
    Q_OBJECT

private slots:
    void groups_data()
    {
        QTest::addColumn<QList<CalendarInfo>>("calendars");
        QTest::addColumn<QString>("groups");
        QTest::newRow("accounts by code point, case-sensitive")
            << QList { calendar("iCloud", "Home"), calendar("On My Mac", "Work"), calendar("Other", "Loose") }
            << "On My Mac: Work | Other: Loose | iCloud: Home";
        QTest::newRow("one title, one group, the service's order kept") << QList { calendar("Exchange", "b"),
            calendar("Exchange", "a"), calendar("Alpha", "c"), calendar("Exchange", "d") }
                                                                        << "Alpha: c | Exchange: b,a,d";
        QTest::newRow("beyond the first plane: code points, not UTF-16 units")
            << QList { calendar("\U0001F600 fun", "x"), calendar("\uFF21cme", "y") }
            << "\uFF21cme: y | \U0001F600 fun: x";
        QTest::newRow("canonical composition decides") << QList { calendar("e\u0301z", "decomposed"),
            calendar("\u00e9a", "composed") } << "\u00e9a: composed | e\u0301z: decomposed";
    }
    void groups()
    {
        QFETCH(QList<CalendarInfo>, calendars);
        QFETCH(QString, groups);
        QCOMPARE(titles(CalendarSettingsSection::groupedCalendars(calendars)), groups);
    }

    // Boxes show the stored choice or the calendar's default; the reset empties the map and
    // leaves the always-record list alone.
    void visibilityAndReset()
    {
        Section section;
        AppRig& rig = *section.rig;
        rig.calendars.addCalendar("birthdays", "Birthdays", "Contacts", false);
        rig.calendars.addCalendar("feed", "Holidays", "On The Web", false);
        rig.calendars.addCalendar("work", "Work");
        rig->settings().set(SettingsKeys::alwaysRecordCalendars, QStringList { "work" });
        rig->calendar().start();
        QTRY_COMPARE(rig->calendar().calendars().size(), 3);
        section.open();
        QCOMPARE(section.headers(),
            (QStringList { "DESKTOP CALENDAR", "CONTACTS", "ON THE WEB", "ON THIS COMPUTER", "GOOGLE CALENDAR" }));
        QCOMPARE(section.row("Birthdays")->checkBox()->isChecked(), false);
        QCOMPARE(section.row("Holidays")->checkBox()->isChecked(), false);
        QCOMPARE(section.row("Work")->checkBox()->isChecked(), true);

        QTest::mouseClick(section.row("Birthdays")->checkBox(), Qt::LeftButton);
        QCOMPARE(
            rig->settings().get(SettingsKeys::calendarVisibility), (CalendarVisibilityMap { { "birthdays", true } }));
        QTRY_COMPARE(section.row("Birthdays")->checkBox()->isChecked(), true);
        // Off, then on again: an explicit true stays.
        QTest::mouseClick(section.row("Work")->checkBox(), Qt::LeftButton);
        QTest::mouseClick(section.row("Work")->checkBox(), Qt::LeftButton);
        QCOMPARE(rig->settings().get(SettingsKeys::calendarVisibility).value("work"), true);

        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Reset to defaults")));
        QVERIFY(rig->settings().contains(SettingsKeys::calendarVisibility));
        QCOMPARE(rig->settings().get(SettingsKeys::calendarVisibility), CalendarVisibilityMap {});
        QTRY_COMPARE(section.row("Birthdays")->checkBox()->isChecked(), false);
        QCOMPARE(section.row("Work")->checkBox()->isChecked(), true);
        QCOMPARE(rig->settings().get(SettingsKeys::alwaysRecordCalendars), QStringList { "work" });
        QVERIFY(rig.restart().settings().contains(SettingsKeys::calendarVisibility));
    }

    // The mark follows the stored list whatever the box says; a click asks for the opposite.
    // A Google calendar under two accounts shows one state, and either button changes it.
    void alwaysRecord()
    {
        Section section;
        AppRig& rig = *section.rig;
        rig.calendars.addCalendar("work", "Work");
        rig->settings().set(SettingsKeys::calendarVisibility, CalendarVisibilityMap { { "work", false } });
        rig->settings().set(SettingsKeys::alwaysRecordCalendars, QStringList { "work", "team@group" });
        GoogleSignIn::seed(rig, { { "sub-a", "a@x.com", {} }, { "sub-b", "b@x.com", {} } }, {});
        rig->calendar().start();
        QTRY_COMPARE(rig->calendar().calendars().size(), 1);
        const QList<GoogleCalendarAPI::CalendarEntry> shared { { "team@group", "Team", std::nullopt, "#33b679",
            std::nullopt } };
        rig->google().setCalendarsByAccount({ { "sub-a", shared }, { "sub-b", shared } });
        section.open();

        CalendarRow* work = section.row("Work");
        QCOMPARE(work->checkBox()->isChecked(), false);
        QVERIFY(work->showsAlwaysRecord());
        QCOMPARE(work->recordButton()->toolTip(), QStringLiteral("Always record this calendar"));
        // A screen reader reads the symbol as a named check box in the mark's state.
        QUILLET_VERIFY_ALL_NAMED(*section.view);
        QAccessibleInterface* mark = QAccessible::queryAccessibleInterface(work->recordButton());
        // Named by its row: the marks of two rows read apart.
        QCOMPARE(mark->text(QAccessible::Name), QStringLiteral("Always record Work"));
        QCOMPARE(AccessibleTree::name(AccessibleTree::of(section.rowsTitled("Team").value(0)->recordButton())),
            QStringLiteral("Always record Team"));
        QCOMPARE(mark->role(), QAccessible::CheckBox);
        QVERIFY(mark->state().checked);
        QTest::mouseClick(work->recordButton(), Qt::LeftButton);
        QVERIFY(!work->showsAlwaysRecord());
        QVERIFY(!mark->state().checked);
        QCOMPARE(rig->settings().get(SettingsKeys::alwaysRecordCalendars), QStringList { "team@group" });

        QList<CalendarRow*> team = section.rowsTitled("Team");
        QCOMPARE(team.size(), 2);
        QVERIFY(team[0]->showsAlwaysRecord() && team[1]->showsAlwaysRecord());
        QTest::mouseClick(team[1]->recordButton(), Qt::LeftButton);
        QVERIFY(!team[0]->showsAlwaysRecord() && !team[1]->showsAlwaysRecord());
        QTest::mouseClick(team[0]->recordButton(), Qt::LeftButton);
        QVERIFY(team[0]->showsAlwaysRecord() && team[1]->showsAlwaysRecord());
        QCOMPARE(rig->settings().get(SettingsKeys::alwaysRecordCalendars), QStringList { "team@group" });

        // Not a list of strings: every mark off, and a click writes a fresh list.
        rig->settings().setValue(SettingsKeys::alwaysRecordCalendars.key(), 42);
        QTRY_VERIFY(!section.row("Work")->showsAlwaysRecord());
        QTest::mouseClick(section.row("Work")->recordButton(), Qt::LeftButton);
        QCOMPARE(rig->settings().get(SettingsKeys::alwaysRecordCalendars), QStringList { "work" });
    }

    // Each access state's face; the Google half is there in all of them.
    void accessStates_data()
    {
        QTest::addColumn<Access>("access");
        QTest::addColumn<bool>("withCalendars");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("button");
        QTest::newRow("not requested") << Access::NotDetermined << true
                                       << "See your upcoming meetings in Quillet — online accounts, local calendars, "
                                          "anything your computer already knows."
                                       << "Connect your calendar";
        QTest::newRow("no accounts") << Access::FullAccess << false
                                     << "No calendar accounts on this computer. Add accounts in Settings > Online "
                                        "Accounts."
                                     << "";
    }
    void accessStates()
    {
        QFETCH(Access, access);
        QFETCH(bool, withCalendars);
        QFETCH(QString, text);
        QFETCH(QString, button);
        Section section;
        AppRig& rig = *section.rig;
        rig.calendars.setAccess(access);
        rig.calendars.answerRequestsWith({ true, std::nullopt });
        if (withCalendars)
            rig.calendars.addCalendar("work", "Work");
        rig->calendar().start();
        QTRY_VERIFY(rig->calendar().authorization() != Authorization::NotRequested || access == Access::NotDetermined);
        section.open();
        QTRY_VERIFY(ViewProbe::label(*section.view, text));
        QVERIFY(ViewProbe::label(*section.view, QStringLiteral("GOOGLE CALENDAR")));
        QVERIFY(!ViewProbe::button(*section.view, QStringLiteral("Reset to defaults")));
        if (button.isEmpty())
            return;
        QVERIFY(ViewProbe::click(*section.view, button));
        QTRY_VERIFY(section.row("Work"));
        QVERIFY(!ViewProbe::label(*section.view, text));
    }

    // "Connect your calendar" that cannot reach the store says why, under the button.
    void unreachableStoreIsTold()
    {
        Section section;
        AppRig& rig = *section.rig;
        rig.calendars.setAccess(Access::NotDetermined);
        rig.calendars.answerRequestsWith({ false, QStringLiteral("Timeout was reached") });
        rig->calendar().start();
        section.open();
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Connect your calendar")));
        const QString told = QStringLiteral("Quillet couldn't reach your computer's calendars: Timeout was reached");
        QTRY_VERIFY(ViewProbe::label(*section.view, told));
        QVERIFY(ViewProbe::button(*section.view, QStringLiteral("Connect your calendar")));
    }

    // The Google half against the fake Google server.
    void googleAccounts()
    {
        Section section;
        AppRig& rig = *section.rig;
        GoogleSignIn::serveSignIn(rig, R"({"access_token":"at-1","expires_in":3599,"refresh_token":"rt-1"})",
            R"({"sub":"sub-1","email":"a@x.com"})");
        rig.google.on("GET", "/calendar/v3/users/me/calendarList",
            Reply::json(200,
                R"({"items":[{"id":"a@x.com","summary":"Ann","backgroundColor":"#33b679","primary":true},)"
                R"({"id":"team@group"}]})"));
        section.open();
        QVERIFY(section.texts().contains("Connect a Google account to pull its calendars into Quillet — pick exactly "
                                         "which ones to show."));
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Connect Google Calendar")));
        QTRY_VERIFY(section.row("Ann"));
        QVERIFY(section.row("team@group"));
        QVERIFY(ViewProbe::button(*section.view, QStringLiteral("Add another account")));
        QVERIFY(ViewProbe::label(*section.view, QStringLiteral("a@x.com")));

        // Ticking appends; unticking removes every occurrence and keeps the others' order.
        const QStringList primary = rig->google().accounts().first().selectedCalendarIds;
        QTest::mouseClick(section.row("team@group")->checkBox(), Qt::LeftButton);
        QCOMPARE(rig->google().accounts().first().selectedCalendarIds, primary + QStringList { "team@group" });
        rig->google().setSelected({ "team@group", "x", "team@group", "y" }, "sub-1");
        QTRY_VERIFY(section.row("team@group")->checkBox()->isChecked());
        QTest::mouseClick(section.row("team@group")->checkBox(), Qt::LeftButton);
        QCOMPARE(rig->google().accounts().first().selectedCalendarIds, (QStringList { "x", "y" }));

        // After a restart the lists are gone: "Choose calendars…" fetches with the bearer.
        section.view.reset();
        rig.restart();
        section.open();
        QVERIFY(!section.row("Ann"));
        rig.google.on("POST", "/token", Reply::json(200, R"({"access_token":"at-2","expires_in":3599})"));
        rig.google.clearRequests();
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Choose calendars…")));
        QTRY_VERIFY(section.row("Ann"));
        const QList<FakeHttpServer::Request> requests = rig.google.requests();
        QCOMPARE(requests.last().path, "/calendar/v3/users/me/calendarList");
        QCOMPARE(requests.last().header("Authorization"), "Bearer at-2");

        // Disconnect asks nothing.
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Disconnect")));
        QTRY_VERIFY(rig->google().accounts().isEmpty());
        QTRY_VERIFY(ViewProbe::button(*section.view, QStringLiteral("Connect Google Calendar")));
        QVERIFY(!section.row("Ann"));
    }

    // Nothing tells that the browser's sign-in page was left: while it is out the button stops
    // the wait. Once Google's answer is back the exchange is not the user's to cancel.
    void googleSignInWaitsForTheBrowser()
    {
        Section section;
        AppRig& rig = *section.rig;
        rig.browser.follow = false;
        section.open();
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Connect Google Calendar")));
        QAbstractButton* cancel = ViewProbe::button(*section.view, QStringLiteral("Cancel"));
        QVERIFY(cancel && cancel->isEnabled());
        QVERIFY(rig->google().isConnecting());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QAbstractButton* connect = ViewProbe::button(*section.view, QStringLiteral("Connect Google Calendar"));
        QVERIFY(connect && connect->isEnabled());
        QVERIFY(!rig->google().isConnecting());
        QCOMPARE(rig->google().lastError(), std::nullopt);
        QCOMPARE(rig.browser.opened.size(), 1);

        // The page of the called-off sign-in sends its answer after all: nothing comes of it.
        const QUrl page = rig.browser.opened.last();
        rig.browser.handOver(QUrl(GoogleSignIn::kScheme + QStringLiteral(":/oauth2redirect?code=c&state=")
            + GoogleSignIn::itemValue(QUrlQuery(page).queryItems(), QStringLiteral("state"))));
        QCoreApplication::processEvents();
        QVERIFY(rig.google.requestsTo("POST", "/token").isEmpty());

        // Back from the browser, the code is being exchanged: the button waits.
        GoogleSignIn::serveSignIn(rig, R"({"access_token":"at-1","expires_in":3599,"refresh_token":"rt-1"})",
            R"({"sub":"sub-1","email":"a@x.com"})");
        rig.google.hold("POST", "/token");
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Connect Google Calendar")));
        QTRY_VERIFY_WITH_TIMEOUT(rig.google.requestsTo("POST", "/token").size() == 1, 20000);
        QVERIFY(!ViewProbe::button(*section.view, QStringLiteral("Cancel")));
        // It keeps the focus the click gave it and only stops answering.
        QVERIFY(
            !Availability::isAvailable(*ViewProbe::button(*section.view, QStringLiteral("Connect Google Calendar"))));
        rig.google.release("POST", "/token");
        QTRY_VERIFY_WITH_TIMEOUT(!rig->google().accounts().isEmpty(), 20000);
        QVERIFY(ViewProbe::button(*section.view, QStringLiteral("Add another account"))->isEnabled());
    }

    // A refused token, or a calendar list answered 401, leaves the button and no error.
    void chooseCalendarsFailsSilently_data()
    {
        QTest::addColumn<int>("tokenStatus");
        QTest::addColumn<int>("requests");
        QTest::newRow("token refused") << 400 << 1;
        QTest::newRow("calendar list 401") << 200 << 2;
    }
    void chooseCalendarsFailsSilently()
    {
        QFETCH(int, tokenStatus);
        QFETCH(int, requests);
        Section section;
        AppRig& rig = *section.rig;
        GoogleSignIn::seed(rig, { { "sub-1", "a@x.com", {} } }, { { "sub-1", "rt-1" } });
        rig.google.on("POST", "/token",
            tokenStatus == 200 ? Reply::json(200, R"({"access_token":"at-1","expires_in":3599})")
                               : Reply::json(tokenStatus, R"({"error":"invalid_grant"})"));
        rig.google.on("GET", "/calendar/v3/users/me/calendarList", Reply::json(401, R"({"error":{"code":401}})"));
        section.open();
        QSignalSpy answered(&rig->network(), &QNetworkAccessManager::finished);
        QVERIFY(ViewProbe::click(*section.view, QStringLiteral("Choose calendars…")));
        QTRY_COMPARE(answered.size(), requests);
        QCoreApplication::processEvents();
        QVERIFY(ViewProbe::button(*section.view, QStringLiteral("Choose calendars…")));
        QCOMPARE(rig->google().lastError(), std::nullopt);
        QVERIFY(rig->google().calendarsByAccount().isEmpty());
    }

    void notConfigured()
    {
        Section section({ .googleClientId = QString() });
        section.open();
        QVERIFY(ViewProbe::label(*section.view, QStringLiteral("Google sign-in isn’t configured in this build yet.")));
        QPushButton* connect = section.view->google()->connectButton();
        QVERIFY(connect->isEnabled());
        QTest::mouseClick(connect, Qt::LeftButton);
        const std::optional<QString> error = (*section.rig)->google().lastError();
        QVERIFY(error);
        auto* shown = qobject_cast<ToneLabel*>(ViewProbe::label(*section.view, *error));
        QVERIFY(shown);
        QCOMPARE(shown->tone(), Quillet::Tone::accent);
    }

    void connectingShowsTheSpinner()
    {
        Section section;
        section.open();
        QVERIFY(!section.view->google()->spinner()->isVisibleTo(section.view.get()));
        QTest::mouseClick(section.view->google()->connectButton(), Qt::LeftButton);
        QVERIFY((*section.rig)->google().isConnecting());
        QVERIFY(section.view->google()->spinner()->isVisibleTo(section.view.get()));
        QCOMPARE(section.view->google()->connectButton()->text(), QStringLiteral("Cancel"));
    }

    // Over the desktop's own calendar store on this program's bus.
    void realStore()
    {
        if (!qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS"))
            QSKIP("needs a calendar store of its own (scripts/with-private-bus)");
        QString error;
        QVERIFY2(CalendarFixture::run(
                     CalendarFixture::put(QStringLiteral("system-calendar"),
                         CalendarFixture::event("p1", "Personal sync", ":20260314T100000Z", ":20260314T103000Z")),
                     &error),
            qPrintable(error));
        Section section({ .desktopCalendar = true });
        AppRig& rig = *section.rig;
        rig->calendar().start();
        QTRY_VERIFY_WITH_TIMEOUT(!rig->calendar().events().isEmpty(), 15'000);
        section.open();
        QCOMPARE(section.row("Personal")->checkBox()->isChecked(), true);
        QCOMPARE(section.row("Birthdays & Anniversaries")->checkBox()->isChecked(), false);
        const QStringList headers = section.headers();
        QVERIFY(headers.indexOf("CONTACTS") >= 0);
        QVERIFY(headers.indexOf("CONTACTS") < headers.indexOf("ON THIS COMPUTER"));

        QTest::mouseClick(section.row("Personal")->checkBox(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig->calendar().events().isEmpty(), 15'000);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestCalendarSettings)
#include "TestCalendarSettings.moc"
