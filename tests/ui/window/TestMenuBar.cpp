#include "format/TimeText.h"
#include "shell/AppDelegate.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/FakeScheduler.h"
#include "support/QtWarningWatch.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"
#include "ui/design/Symbols.h"

#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>

using namespace std::chrono_literals;

namespace {

// The menu as a list: "-" for a separator, disabled items in brackets, the shortcut after a
// bar.
QStringList describe(const QMenu* menu)
{
    QStringList items;
    const QList<QAction*> actions = menu->actions();
    for (const QAction* action : actions) {
        if (action->isSeparator()) {
            items << QStringLiteral("-");
            continue;
        }
        QString item = action->text();
        if (!action->shortcut().isEmpty())
            item += QStringLiteral(" | ") + action->shortcut().toString();
        items << (action->isEnabled() ? item : QLatin1Char('[') + item + QLatin1Char(']'));
    }
    return items;
}

QAction* item(const QMenu* menu, const QString& text)
{
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions)
        if (action->text() == text || action->text().startsWith(text + u'\t'))
            return action;
    return nullptr;
}

// What opening the menu does first.
void open(QMenu* menu)
{
    emit menu->aboutToShow();
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage();
}

// The tray's menu as the application wires it, on a rig that records silence with the user's
// own key.
struct TrayRig
{
    explicit TrayRig(bool tray = true)
    {
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        rig->account().setByoKey(QStringLiteral("tq-own-key"));
        AppDelegate::Options options;
        options.menu.scheduler = &scheduler;
        options.window.trayAvailable = [tray] { return tray; };
        delegate = std::make_unique<AppDelegate>(*rig, options);
        delegate->applicationDidFinishLaunching();
    }
    ~TrayRig()
    {
        if (rig->session().isRecording())
            rig->session().stopRecording();
        delegate.reset();
    }

    QMenu* menu() { return delegate->menuBar().menu(); }

    void addFinished(const QString& title, qint64 secondsAgo)
    {
        auto* meeting = new Meeting(title, rig.clock.now().addSecs(-secondsAgo));
        meeting->setUserNotes(QStringLiteral("Notes")); // not an empty meeting for the housekeeping
        rig->store().insert(meeting);
        rig->store().save();
    }

    AppRig rig { { .capture = true } };
    FakeScheduler scheduler;
    std::unique_ptr<AppDelegate> delegate;
};

const QStringList kWindowItems { "Open Quillet | Ctrl+O", "Settings... | Ctrl+,", "-", "Quit Quillet | Ctrl+Q" };

} // namespace

class TestMenuBar final : public QObject
{
    Q_OBJECT

private slots:
    void itemsInOrder()
    {
        TrayRig t;
        open(t.menu());
        QCOMPARE(describe(t.menu()), (QStringList { "Start Recording | Ctrl+R", "-" } + kWindowItems));

        // Recent meetings appear when the menu opens again.
        t.addFinished(QStringLiteral("Design review"), 2 * 3600);
        t.addFinished(QString(), 3 * 86400);
        open(t.menu());
        QCOMPARE(describe(t.menu()),
            QStringList({ "Start Recording | Ctrl+R", "-", "[Recent]", "Design review\t2 hr. ago",
                "Untitled Meeting\t3 days ago", "-" })
                + kWindowItems);

        // Recording: the running time, Stop, and the rest as before.
        item(t.menu(), QStringLiteral("Start Recording"))->trigger();
        QVERIFY(t.rig->session().isRecording());
        QTRY_COMPARE(describe(t.menu()).mid(0, 4),
            (QStringList { "[Recording \u2014 0:00]", "-", "Stop Recording | Ctrl+S", "-" }));
        QCOMPARE(describe(t.menu()).size(), 12);
    }

    // The recent rows' dates follow the user's language, as every other date does.
    void recentDatesInTheUserLanguage()
    {
        const ZoneAndLocale::LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        TrayRig t;
        t.addFinished(QStringLiteral("Design review"), 2 * 3600);
        t.addFinished(QString(), 3 * 86400);
        open(t.menu());
        QCOMPARE(describe(t.menu()).mid(2, 3),
            (QStringList { "[Recent]", "Design review\tvor 2 Std.", "Untitled Meeting\tvor 3 Tagen" }));
    }

    // The counter follows the session and counts paused time too; Stop sets it back.
    void recordingRowCounts()
    {
        TrayRig t;
        TranscriptionSession& session = t.rig->session();
        session.startRecording(t.rig->store()); // from the window, not the menu
        QTRY_VERIFY(item(t.menu(), QStringLiteral("Recording \u2014 0:00")));
        t.scheduler.advance(1000ms);
        session.pauseRecording();
        t.scheduler.advance(1000ms);
        QVERIFY(item(t.menu(), QStringLiteral("Recording \u2014 0:02")));

        item(t.menu(), QStringLiteral("Stop Recording"))->trigger();
        QVERIFY(!session.isRecording());
        QCOMPARE(t.delegate->menuBar().elapsed(), 0.0);
        QTRY_VERIFY(item(t.menu(), QStringLiteral("Start Recording")));
        t.scheduler.advance(3000ms);
        QCOMPARE(t.delegate->menuBar().elapsed(), 0.0);
    }

    void rowsBringTheWindowBack_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("selectsSettings");
        QTest::newRow("Open Quillet") << QStringLiteral("Open Quillet") << false;
        QTest::newRow("a recent row") << QStringLiteral("Standup") << false;
        QTest::newRow("Settings...") << QStringLiteral("Settings...") << true;
    }

    void rowsBringTheWindowBack()
    {
        QFETCH(QString, choice);
        QFETCH(bool, selectsSettings);
        TrayRig t;
        Meeting* standup = new Meeting(QStringLiteral("Standup"), t.rig.clock.now().addSecs(-60));
        t.rig->store().insert(standup);
        MainWindow& window = t.delegate->mainWindow();
        window.close();
        QVERIFY(!window.isVisible());

        open(t.menu());
        QAction* action = item(t.menu(), choice);
        QVERIFY(action);
        action->trigger();
        QVERIFY(window.isVisible());
        // A row does not select its meeting.
        QCOMPARE(window.content().selection(), selectsSettings ? SidebarItem::settings() : SidebarItem::home());
    }

    // The keys the tray's menu shows start and stop a recording from the window as well, where
    // its "Recording" menu holds the same actions: also on a desktop without a tray, and with
    // no shortcut claimed twice.
    void recordingKeysWorkInTheWindow()
    {
        TrayRig t(false);
        // From here on (the offscreen tray's own complaints are over).
        QtWarningWatch warnings({ QStringLiteral("propagateSizeHints") });
        MainWindow& window = t.delegate->mainWindow();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QMenu* recording = nullptr;
        for (QAction* entry : window.menuBar()->actions())
            if (entry->text() == QLatin1String("Recording"))
                recording = entry->menu();
        QVERIFY(recording);
        QCOMPARE(describe(recording),
            QStringList(
                { "Start Recording | Ctrl+R", "[Stop Recording | Ctrl+S]", "[Pause]", "-", "Quick note | Ctrl+N" }));

        QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
        QTRY_VERIFY(t.rig->session().isRecording());
        QCOMPARE(describe(recording).mid(0, 3),
            QStringList({ "[Start Recording | Ctrl+R]", "Stop Recording | Ctrl+S", "Pause" }));
        QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(!t.rig->session().isRecording());
        const QStringList unexpected = warnings.takeUnexpected();
        QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(u'\n')));
    }

    void trayIconFollowsTheSession()
    {
        TrayRig t;
        QSystemTrayIcon& tray = t.delegate->trayIcon();
        QCOMPARE(tray.toolTip(), QStringLiteral("Quillet"));
        QCOMPARE(tray.contextMenu(), t.menu());
        const QImage idle = iconImage(tray.icon());
        QCOMPARE(idle, iconImage(Symbols::icon(QStringLiteral("waveform"))));
        t.rig->session().startRecording(t.rig->store());
        QCOMPARE(iconImage(tray.icon()), iconImage(Symbols::icon(QStringLiteral("record.circle"))));
        QVERIFY(iconImage(tray.icon()) != idle);
        t.rig->session().stopRecording();
        QCOMPARE(iconImage(tray.icon()), idle);
    }

    void relativeDate_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("text");
        const QDateTime now(QDate(2026, 6, 15), QTime(12, 0));
        QTest::newRow("now") << now << "in 0 sec.";
        QTest::newRow("one second") << now.addSecs(-1) << "1 sec. ago";
        QTest::newRow("seconds") << now.addSecs(-59) << "59 sec. ago";
        QTest::newRow("future minutes") << now.addSecs(5 * 60 + 30) << "in 5 min.";
        QTest::newRow("hours") << now.addSecs(-2 * 3600) << "2 hr. ago";
        QTest::newRow("whole hours only") << now.addSecs(-(2 * 3600 - 1)) << "1 hr. ago";
        QTest::newRow("under a day") << now.addSecs(-(24 * 3600 - 1)) << "23 hr. ago";
        QTest::newRow("one day") << now.addSecs(-36 * 3600) << "1 day ago";
        QTest::newRow("days") << now.addDays(-3) << "3 days ago";
        QTest::newRow("future day") << now.addDays(1) << "in 1 day";
        QTest::newRow("under two weeks") << now.addDays(-13) << "1 wk. ago";
        QTest::newRow("weeks") << now.addDays(-14) << "2 wk. ago";
        QTest::newRow("not quite a month") << now.addMonths(-1).addSecs(60) << "4 wk. ago";
        QTest::newRow("months") << now.addMonths(-2) << "2 mo. ago";
        QTest::newRow("year") << now.addYears(-1) << "1 yr. ago";
        QTest::newRow("future years") << now.addYears(3).addDays(20) << "in 3 yr.";
        QTest::newRow("invalid") << QDateTime() << "";
    }

    void relativeDate()
    {
        QFETCH(QDateTime, date);
        QFETCH(QString, text);
        QCOMPARE(formatRelativeDate(date, QDateTime(QDate(2026, 6, 15), QTime(12, 0))), text);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestMenuBar)
#include "TestMenuBar.moc"
