#include "platform/Log.h"
#include "shell/AppDelegate.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"

#include <QFutureWatcher>
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
