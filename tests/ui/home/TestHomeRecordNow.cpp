#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/TestMain.h"
#include "ui/home/ComingUpPanel.h"
#include "ui/home/ComingUpParts.h"
#include "ui/home/HomeView.h"
#include "ui/window/MainWindow.h"

#include <QSignalSpy>

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);

QList<Meeting*> meetingsOf(ModelContext& store, const QString& eventId)
{
    return store.fetchMeetings({ [&](const Meeting& meeting) { return meeting.calendarEventId() == eventId; } });
}

} // namespace

// The dashboard's "Record now" in the real window, over the calendar service and a session
// that records from the test sound server.
class TestHomeRecordNow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void recordNowSelectsAndRecordsTheEventsMeeting()
    {
        AppRig rig { { .capture = true } };
        rig.clock.set(kNow);
        rig->account().setByoKey(QStringLiteral("tq-own-key"));
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        rig.calendars.addCalendar("work", "Work");
        StoreEvent& event = rig.calendars.addEvent("work", "standup", "Team standup", kNow.addSecs(-120));
        for (const char* name : { "ada", "bob" })
            event.attendees.append(
                { QString::fromLatin1(name), QUrl(QStringLiteral("mailto:%1@example.com").arg(name)) });
        const QString eventId = event.id;
        QSignalSpy published(&rig->calendar(), &CalendarService::eventsChanged);
        rig->calendar().start();
        QVERIFY(published.wait(5000));

        MainWindow window(rig->windowServices());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        HomeView* home = window.findChild<HomeView*>();
        QVERIFY(home);
        QTRY_VERIFY(home->comingUp()->hero());
        QAbstractButton* record = home->comingUp()->hero()->recordButton();
        QVERIFY(record->isVisibleTo(&window));

        record->click();
        QTRY_VERIFY(rig->session().isRecording());
        const QList<Meeting*> made = meetingsOf(rig->store(), eventId);
        QCOMPARE(made.size(), 1);
        Meeting* meeting = made.first();
        QCOMPARE(rig->session().meeting(), meeting);
        QCOMPARE(meeting->title(), QStringLiteral("Team standup"));
        QCOMPARE(window.content().selection(), SidebarItem::meeting(meeting));

        // Pressed again (back on the dashboard): the same meeting, still the one recording.
        // The dashboard is made anew for each visit.
        window.content().setSelection(SidebarItem::home());
        const auto shownHero = [&]() -> ComingUp::HeroCard* {
            for (HomeView* view : window.findChildren<HomeView*>())
                if (view->isVisibleTo(&window) && view->comingUp()->hero())
                    return view->comingUp()->hero();
            return nullptr;
        };
        QTRY_VERIFY(shownHero());
        shownHero()->recordButton()->click();
        QTRY_COMPARE(window.content().selection(), SidebarItem::meeting(meeting));
        QCOMPARE(meetingsOf(rig->store(), eventId).size(), 1);
        QCOMPARE(rig->session().meeting(), meeting);
        QVERIFY(!window.content().switchDialog());

        rig->session().stopRecording();
    }
};

QUILLET_WIDGET_TEST_MAIN(TestHomeRecordNow)
#include "TestHomeRecordNow.moc"
