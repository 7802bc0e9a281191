#include "calendar/CalendarFixture.h"
#include "shell/AppDelegate.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/ArchiveFolder.h"
#include "support/FakeNotificationDaemon.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"

#include <QDBusConnection>
#include <QMessageBox>

using namespace std::chrono_literals;
using CalendarFixture::berlin;

namespace {

const QString kCalendar = QStringLiteral("quillet-work");
const QString kEventId = QStringLiteral("quillet-work/sync");
const QUrl kCallLink(QStringLiteral("https://us02web.zoom.us/j/8123?pwd=Zx"));

// The event as another calendar program writes it: two attendees, its organiser and a call link.
QString syncEvent(const QString& title, const QDateTime& start)
{
    const auto stamp = [](const QDateTime& time) { return time.toUTC().toString(QStringLiteral("yyyyMMddThhmmssZ")); };
    return CalendarFixture::put(kCalendar,
        CalendarFixture::event(QStringLiteral("sync"), title, QLatin1Char(':') + stamp(start),
            QLatin1Char(':') + stamp(start.addSecs(1800)),
            QStringLiteral("ORGANIZER;CN=Alice Nguyen:mailto:alice@example.com\n"
                           "ATTENDEE;CN=Alice Nguyen;PARTSTAT=ACCEPTED:mailto:alice@example.com\n"
                           "ATTENDEE;CN=Bob Tran:mailto:bob.tran@example.com\n"
                           "DESCRIPTION:<p>Join: <a href=\"https://us02web.zoom.us/j/8123?pwd=Zx\">Zoom</a></p>\n")));
}

QList<Meeting*> calendarMeetings(ModelContext& context)
{
    return context.fetchMeetings(
        { [](const Meeting& meeting) { return meeting.calendarEventId() == kEventId; }, MeetingSort::DateDescending });
}

} // namespace

// A reminder's "Open & record" from the calendar store to a recording, through the application as
// it runs: the desktop's calendar store and a notification daemon on this program's own bus, the
// real window offscreen, and a session that records from the test sound server.
class TestOpenAndRecord final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS"), "run through scripts/with-private-bus");
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void reminderOpensRecordsAndFollowsTheCalendar()
    {
        FakeNotificationDaemon daemon;
        QVERIFY(daemon.joinBus());
        AppRig rig {
            { .capture = true, .desktopCalendar = true, .desktopNotifications = true, .notificationRecheck = 10ms }
        };
        rig.clock.set(CalendarFixture::kNow.toUTC());
        const QDateTime start = CalendarFixture::kNow.addSecs(300);
        QString error;
        QVERIFY2(CalendarFixture::run(
                     CalendarFixture::command({ "calendar", kCalendar, "Work", "local-stub", "local", "#3465a4" })
                         + syncEvent(QStringLiteral("Roadmap sync"), start),
                     &error),
            qPrintable(error));
        rig->account().setByoKey(QStringLiteral("tq-own-key"));
        rig->settings().set(SettingsKeys::onboardingCompleted, true);

        rig->launch();
        AppDelegate delegate(*rig);
        delegate.applicationDidFinishLaunching();
        MainContentView& content = delegate.mainWindow().content();
        QTRY_VERIFY_WITH_TIMEOUT(rig->calendar().eventWithId(kEventId).has_value(), 15'000);
        QVERIFY(calendarMeetings(rig->store()).isEmpty());

        // The reminder shows a minute before the start.
        QTRY_COMPARE(rig->notifications().pendingRequests().size(), 1);
        QVERIFY(daemon.calls.isEmpty());
        rig.clock.set(start.addSecs(-60));
        QTRY_COMPARE(daemon.calls.size(), 1);
        QCOMPARE(daemon.calls[0].summary(), QStringLiteral("Roadmap sync"));

        // "Open & record": the event's meeting is made, selected and recorded; the call opens.
        delegate.mainWindow().hide();
        emit daemon.ActionInvoked(daemon.idAt(0), QStringLiteral("QUILLET_OPEN_RECORD"));
        QTRY_VERIFY(rig->session().isRecording());
        QVERIFY(delegate.mainWindow().isVisible());
        QList<Meeting*> meetings = calendarMeetings(rig->store());
        QCOMPARE(meetings.size(), 1);
        Meeting* meeting = meetings.first();
        QCOMPARE(rig->session().meeting(), meeting);
        QCOMPARE(content.selection(), SidebarItem::meeting(meeting));
        QCOMPARE(meeting->source(), QStringLiteral("calendar"));
        QCOMPARE(meeting->title(), QStringLiteral("Roadmap sync"));
        QCOMPARE(meeting->attendeeNames(), (QStringList { "Alice Nguyen", "Bob Tran" }));
        QCOMPARE(meeting->organizer(), std::optional<QString>(QStringLiteral("Alice Nguyen")));
        QCOMPARE(rig.browser.opened, QList<QUrl> { kCallLink });

        // Again: the same meeting, already recording; nothing is asked, made or opened.
        content.setSelection(SidebarItem::home());
        emit daemon.ActionInvoked(daemon.idAt(0), QStringLiteral("QUILLET_OPEN_RECORD"));
        QTRY_COMPARE(content.selection(), SidebarItem::meeting(meeting));
        QVERIFY(!content.switchDialog());
        QCOMPARE(calendarMeetings(rig->store()).size(), 1);
        QCOMPARE(rig.browser.opened.size(), 1);
        QCOMPARE(rig->session().meeting(), meeting);

        // Another program renames the event: the meeting follows at the next publication, and
        // so does its archive file.
        QVERIFY(ArchiveFolder::drain(rig->archiver()));
        QVERIFY2(CalendarFixture::run(syncEvent(QStringLiteral("Roadmap review"), start), &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(meeting->title(), QStringLiteral("Roadmap review"), 15'000);
        QTRY_VERIFY(ArchiveFolder::drain(rig->archiver())
            && ArchiveFolder::markdownFiles(rig->archiver()).keys().join('\n').contains("roadmap-review"));
        const QStringList files = ArchiveFolder::markdownFiles(rig->archiver()).keys();
        QVERIFY2(!files.join('\n').contains("roadmap-sync"), qPrintable(files.join(", ")));

        rig->session().stopRecording();
    }
};

int main(int argc, char* argv[])
{
    ZoneAndLocale::useTimeZone("Europe/Berlin");
    TestSupport::isolateHome();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestOpenAndRecord tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "TestOpenAndRecord.moc"
