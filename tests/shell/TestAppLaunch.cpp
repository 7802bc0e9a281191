#include "platform/Log.h"
#include "shell/AppDelegate.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "ui/design/FocusRing.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFutureWatcher>
#include <QScreen>
#include <QSignalSpy>
#include <QtConcurrent>

namespace {

// Walks an onboarding window's guide to its end as a user in a hurry would: "Get started",
// "Skip" at every step, then "Start using Quillet".
bool finishOnboarding(QWidget* window)
{
    if (!window || !ViewProbe::click(*window, QStringLiteral("Get started")))
        return false;
    return QTest::qWaitFor(
        [window] {
            return ViewProbe::click(*window, QStringLiteral("Start using Quillet"))
                || (ViewProbe::click(*window, QStringLiteral("Skip")), false);
        },
        20000);
}

Meeting* addStaleRecording(ModelContext& context)
{
    auto* meeting = new Meeting(QStringLiteral("Left open"), QDateTime::currentDateTimeUtc());
    meeting->setIsRecording(true);
    meeting->setUserNotes(QStringLiteral("Agenda"));
    context.insert(meeting);
    context.save();
    return meeting;
}

} // namespace

class TestAppLaunch final : public QObject
{
    Q_OBJECT

private slots:
    void launchStepsAndOnboarding_data()
    {
        QTest::addColumn<std::optional<bool>>("completed");
        QTest::newRow("never answered") << std::optional<bool>();
        QTest::newRow("not completed") << std::optional<bool>(false);
        QTest::newRow("completed") << std::optional<bool>(true);
    }

    void launchStepsAndOnboarding()
    {
        QFETCH(std::optional<bool>, completed);
        AppRig rig;
        if (completed)
            rig->settings().set(SettingsKeys::onboardingCompleted, *completed);
        LogCapture log;
        {
            AppDelegate delegate(*rig);
            delegate.applicationDidFinishLaunching();
            QVERIFY(log.contains(QStringLiteral("[Quillet] App launched")));
            // Registered, not written.
            QCOMPARE(rig->settings().value(QStringLiteral("soundEnabled")), QVariant(true));
            QVERIFY(!rig->settings().contains(SettingsKeys::soundEnabled));
            QVERIFY(delegate.mainWindow().isVisible());

            QWidget* onboarding = delegate.onboardingWindow();
            QCOMPARE(onboarding != nullptr, completed != true);
            if (!onboarding)
                return;
            QVERIFY(onboarding->isVisible());
            QCOMPARE(onboarding->windowTitle(), QStringLiteral("Welcome to Quillet"));
            // A screen reader meets a dialog by its title, not a nameless filler.
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(onboarding);
            QCOMPARE(face->role(), QAccessible::Dialog);
            QCOMPARE(face->text(QAccessible::Name), QStringLiteral("Welcome to Quillet"));
            QCOMPARE(onboarding->size(), QSize(440, 500)); // its content's size
            QCOMPARE(onboarding->minimumSize(), onboarding->maximumSize());
            QVERIFY(!(onboarding->windowFlags() & Qt::WindowMinimizeButtonHint));

            QVERIFY(finishOnboarding(onboarding));
            QTRY_VERIFY(!delegate.onboardingWindow());
            QVERIFY(rig->settings().get(SettingsKeys::onboardingCompleted));
        }
        // The next launch goes straight to the main window.
        AppDelegate again(rig.restart());
        again.applicationDidFinishLaunching();
        QVERIFY(!again.onboardingWindow());
    }

    // The guide by the keyboard alone: Tab reaches each step's button and link, and Enter
    // presses it, "Get started" first and "Start using Quillet" last.
    void onboardingByKeyboard()
    {
        AppRig rig;
        AppDelegate delegate(*rig);
        delegate.applicationDidFinishLaunching();
        QPointer<QWidget> window = delegate.onboardingWindow();
        QVERIFY(window);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // At once, before any Tab: "Get started" holds the focus and shows it.
        QAbstractButton* start = ViewProbe::button(*window, QStringLiteral("Get started"));
        QCOMPARE(QApplication::focusWidget(), start);
        QVERIFY(FocusRing::shows(*start));
        // Tab until the button or link with the text has the focus, then Enter.
        const auto pressByKeyboard = [&](const QString& text) {
            for (int presses = 0; presses < 20; ++presses) {
                QWidget* focused = QApplication::focusWidget();
                if (focused && focused == ViewProbe::button(*window, text)) {
                    QTest::keyClick(focused, Qt::Key_Return);
                    return true;
                }
                QTest::keyClick(focused ? focused : window.data(), Qt::Key_Tab);
            }
            return false;
        };
        QVERIFY(pressByKeyboard(QStringLiteral("Get started")));
        QTRY_VERIFY(!ViewProbe::button(*window, QStringLiteral("Get started")));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return ViewProbe::button(*window, QStringLiteral("Start using Quillet"))
                    || (pressByKeyboard(QStringLiteral("Skip")), false);
            },
            20000));
        QVERIFY(pressByKeyboard(QStringLiteral("Start using Quillet")));
        QTRY_VERIFY(!window);
        QVERIFY(rig->settings().get(SettingsKeys::onboardingCompleted));
    }

    // Also run at scale 2 on a small screen (see CMakeLists.txt), where the guide is taller
    // than the screen: the window stays on it, title bar included, and its content scrolls to
    // whatever the keyboard reaches.
    void onboardingFitsTheScreen()
    {
        AppRig rig;
        AppDelegate delegate(*rig);
        delegate.applicationDidFinishLaunching();
        QWidget* window = delegate.onboardingWindow();
        QVERIFY(window);
        const QRect available = window->screen()->availableGeometry();
        QVERIFY2(available.contains(window->frameGeometry()),
            qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                           .arg(window->frameGeometry().x())
                           .arg(window->frameGeometry().y())
                           .arg(window->frameGeometry().width())
                           .arg(window->frameGeometry().height())
                           .arg(available.width())
                           .arg(available.height())));
        QCOMPARE(window->minimumSize(), window->maximumSize());

        QVERIFY(ViewProbe::click(*window, QStringLiteral("Get started")));
        QAbstractButton* skip = nullptr;
        QTRY_VERIFY((skip = ViewProbe::button(*window, QStringLiteral("Skip"))));
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        for (int presses = 0; presses < 20 && QApplication::focusWidget() != skip; ++presses)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), skip);
        const QRect shown(skip->mapTo(window, QPoint(0, 0)), skip->size());
        QVERIFY(window->rect().contains(shown));
        QVERIFY(skip->visibleRegion().boundingRect() == skip->rect());
    }

    // "Welcome to Quillet" while the guide is open opens a second window; finishing the first
    // closes that one only, and the second stays the delegate's window.
    void eachCompletionClosesItsOwnWindow()
    {
        AppRig rig;
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        AppDelegate delegate(*rig);
        delegate.applicationDidFinishLaunching();
        delegate.mainWindow().welcomeCommand()->trigger();
        QPointer<QWidget> first = delegate.onboardingWindow();
        QVERIFY(first);
        delegate.mainWindow().welcomeCommand()->trigger();
        QPointer<QWidget> second = delegate.onboardingWindow();
        QVERIFY(second && second != first);

        QVERIFY(finishOnboarding(first));
        QTRY_VERIFY(!first);
        QVERIFY(second && second->isVisible());
        QCOMPARE(delegate.onboardingWindow(), second.data());

        QVERIFY(finishOnboarding(second));
        QTRY_VERIFY(!second);
        QVERIFY(!delegate.onboardingWindow());
    }

    // The housekeeping and the tasks run at the first show and at each show after a close,
    // whether the close hid the window (tray) or minimised it (no tray); restoring a window
    // the user minimised is not a new show.
    void housekeepingAndTasksRunAtEachShowAnew_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("closing hides (tray)") << true;
        QTest::newRow("closing minimises (no tray)") << false;
    }

    void housekeepingAndTasksRunAtEachShowAnew()
    {
        QFETCH(bool, tray);
        AppRig rig;
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        AppDelegate::Options options;
        options.window.trayAvailable = [tray] { return tray; };
        AppDelegate delegate(*rig, options);
        MainWindow& window = delegate.mainWindow();
        QSignalSpy shown(&window, &MainWindow::shownAnew);
        Meeting* stale = addStaleRecording(rig->store());
        // Set to record by itself now: the show's automatic start deals with it (capture is
        // off here, so the start fails and the meeting is only marked as fired).
        auto* due = new Meeting(QStringLiteral("Design review"), rig.clock.now());
        due->setScheduledStart(rig.clock.now());
        due->setAutoStartEnabled(true);
        rig->store().insert(due);
        rig->store().save();

        delegate.applicationDidFinishLaunching();
        QTRY_COMPARE(shown.size(), 1);
        QVERIFY(!stale->isRecording());
        QVERIFY(due->autoStartFired());
        QTRY_COMPARE(rig.site.requestsTo("GET", "/latest.json").size(), 1);

        stale = addStaleRecording(rig->store());
        window.close();
        QCOMPARE(window.isVisible(), !tray);
        QCOMPARE(window.isMinimized(), !tray);
        delegate.openMainWindow();
        QVERIFY(window.isVisible() && !window.isMinimized());
        QTRY_COMPARE(shown.size(), 2);
        QVERIFY(!stale->isRecording());
        QTRY_COMPARE(rig.site.requestsTo("GET", "/latest.json").size(), 2);

        stale = addStaleRecording(rig->store());
        window.showMinimized();
        window.showNormal();
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), 2);
        QVERIFY(stale->isRecording());
    }

    // A second start without a link, over the first's socket, brings the hidden window back.
    void secondStartBringsTheWindowBack()
    {
        AppRig rig;
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        const QString socket = rig.path(QStringLiteral("instance"));
        QVERIFY(rig->router().listen(socket));
        AppDelegate::Options options;
        options.window.trayAvailable = [] { return true; };
        AppDelegate delegate(*rig, options);
        delegate.applicationDidFinishLaunching();
        delegate.mainWindow().close();
        QVERIFY(!delegate.mainWindow().isVisible());

        // What a second process does first, off this thread so that the first can answer.
        QFutureWatcher<bool> secondStart;
        QSignalSpy done(&secondStart, &QFutureWatcher<bool>::finished);
        secondStart.setFuture(QtConcurrent::run([socket] {
            return UrlRouter::handOverToRunningInstance({}, {}, socket) == UrlRouter::HandOver::Accepted;
        }));
        QVERIFY(done.wait(10000));
        QVERIFY(secondStart.result());
        QTRY_VERIFY(delegate.mainWindow().isVisible());
    }
};

QUILLET_WIDGET_TEST_MAIN(TestAppLaunch)
#include "TestAppLaunch.moc"
