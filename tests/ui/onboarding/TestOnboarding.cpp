#include "platform/Log.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/FakeScheduler.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "ui/design/Quillet.h"
#include "ui/design/ThemeController.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/onboarding/StepLayout.h"
#include "ui/settings/ThemeTile.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>

using namespace std::chrono_literals;
using Reply = FakeHttpServer::Reply;
using Step = OnboardingView::Step;
using Status = MicrophonePermission::Status;

namespace {

const QStringList kTitles { "Meetings, remembered", "Your side of the conversation", "Everyone else, too", "Sign in",
    "Pick your light", "You're all set" };

// The onboarding window's content over the application's services: the real account service
// against a fake cloud server and the real keyring, the fake microphone permission, and the
// real system-audio recorder, which reaches the sound server only in the probe's tests.
struct Onboarding
{
    std::unique_ptr<AppRig> rig;
    FakeScheduler scheduler;
    int completions = 0;
    std::unique_ptr<OnboardingView> view;

    explicit Onboarding(const std::function<void(AppRig&)>& setUp = {}, bool capture = false, bool realKeyring = true)
        : rig(std::make_unique<AppRig>(AppRig::Options { .capture = capture, .realKeyring = realKeyring }))
    {
        rig->cloud.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig->cloud.on("POST", "/v1/auth/verify",
            Reply::json(200, R"({"sessionToken":"s-1","userId":"u-1","email":"ann@example.com"})"));
        rig->cloud.on("GET", "/v1/me",
            Reply::json(200,
                R"({"userId":"u-1","email":"ann@example.com","emailOptIn":false,"usage":{"minutesUsed":1,)"
                R"("quotaMinutes":300,"resetsAt":1},"config":{"quotaMinutes":300,"analyticsEnabled":false,)"
                R"("analyticsFree":false}})"));
        if (setUp) {
            setUp(*rig);
            (*rig).restart(); // the account reads the keychain when it is made
        }
        view = std::make_unique<OnboardingView>((*rig)->onboardingServices(), [this] { ++completions; }, scheduler);
        view->setTiming({ .transition = 10ms });
        view->show();
    }

    AppServices& services() { return **rig; }
    FakeMicrophonePermission& microphone() { return rig->microphonePermission; }

    // True once the step is the only one on show, in its place: every slide has ended.
    bool settled(Step step) const
    {
        return QTest::qWaitFor(
            [&] {
                QStringList shown;
                for (const StepLayout* layout : view->findChildren<StepLayout*>())
                    if (layout->isVisibleTo(view.get()))
                        shown.append(layout->x() == 0 ? layout->title() : QString());
                return shown == QStringList { kTitles[int(step)] } && view->step() == step;
            },
            30'000);
    }
    StepLayout& stepView(Step step) const { return *view->findChildren<StepLayout*>().at(int(step)); }
    bool click(const QString& text) const { return ViewProbe::click(*view, text); }

    bool reach(Step step)
    {
        if (view->step() == Step::welcome && step != Step::welcome && !click(QStringLiteral("Get started")))
            return false;
        while (view->step() < step)
            if (!click(QStringLiteral("Skip")))
                return false;
        return settled(step);
    }

    // How many progress dots are drawn in the accent colour.
    int litDots() const
    {
        const QImage dots = view->findChild<QWidget*>(QStringLiteral("progressDots"))->grab().toImage();
        int lit = 0;
        for (int dot = 0; dot < OnboardingView::kStepCount; ++dot) {
            const QColor centre = dots.pixelColor(int(dot * 13 + 3 * dots.devicePixelRatio()), dots.height() / 2);
            lit += qAbs(centre.red() - Quillet::accent().red()) < 8
                && qAbs(centre.green() - Quillet::accent().green()) < 8;
        }
        return lit;
    }
};

// The names of the radio buttons a screen reader reads as checked, in their group's order.
QStringList checkedRadios(QWidget& view)
{
    QStringList checked;
    AccessibleNames::walk(QAccessible::queryAccessibleInterface(&view), [&](QAccessibleInterface& face) {
        if (face.role() == QAccessible::RadioButton && face.state().checked)
            checked.append(face.text(QAccessible::Name));
    });
    return checked;
}

} // namespace

class TestOnboarding final : public QObject
{
    Q_OBJECT

private slots:
    void steps_data()
    {
        QTest::addColumn<Step>("step");
        QTest::addColumn<int>("back"); // the step "Back" leads to, -1: not shown
        QTest::addColumn<int>("skip"); // the step "Skip" leads to, -1: not shown
        QTest::newRow("welcome") << Step::welcome << -1 << -1;
        QTest::newRow("microphone") << Step::microphone << 0 << 2;
        QTest::newRow("system audio") << Step::systemAudio << 1 << 3;
        QTest::newRow("sign-in") << Step::signIn << 2 << 4;
        QTest::newRow("theme") << Step::theme << 3 << 5;
        QTest::newRow("ready") << Step::ready << 4 << -1;
    }
    void steps()
    {
        QFETCH(Step, step);
        QFETCH(int, back);
        QFETCH(int, skip);
        for (const auto& [button, target] : { std::pair { "Back", back }, { "Skip", skip } }) {
            Onboarding onboarding;
            AccessibleTree::EventSpy reaching;
            QVERIFY(onboarding.reach(step));
            QCOMPARE(onboarding.litDots(), int(step) + 1);
            // What a screen reader finds: every control named, the message as text, the dots
            // as the step they light.
            QUILLET_VERIFY_ALL_NAMED(*onboarding.view);
            QAccessibleInterface* dots
                = QAccessible::queryAccessibleInterface(onboarding.view->findChild<QWidget*>("progressDots"));
            QCOMPARE(dots->text(QAccessible::Name), QStringLiteral("Step %1 of 6").arg(int(step) + 1));
            QCOMPARE(dots->role(), QAccessible::StaticText);
            const QStringList texts
                = AccessibleNames::namesWithRole(onboarding.stepView(step), QAccessible::StaticText);
            QVERIFY(texts.size() >= 2); // the title, the message, then the footer's own lines
            QCOMPARE(texts.first(), kTitles[int(step)]);
            QVERIFY(!texts.at(1).isEmpty());
            if (target < 0) {
                QVERIFY(!onboarding.click(QString::fromLatin1(button)));
                continue;
            }
            // Pressed from the keyboard: the step that comes is said with its number, once,
            // and the keyboard never stops on a control of the step that goes.
            onboarding.view->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(onboarding.view.get()));
            QAbstractButton* pressed = ViewProbe::button(*onboarding.view, QString::fromLatin1(button));
            pressed->setFocus(Qt::TabFocusReason);
            if (step != Step::welcome) // what the last step said, once said
                QTRY_VERIFY(
                    reaching.announcements().join(u' ').endsWith(QStringLiteral("Step %1 of 6.").arg(int(step) + 1)));
            AccessibleTree::EventSpy events;
            QTest::keyClick(pressed, Qt::Key_Space);
            QCoreApplication::processEvents();
            // While both steps are on screen a screen reader would read both around it.
            if (onboarding.stepView(step).isVisible())
                QCOMPARE(events.announcements(), QStringList());
            QVERIFY(onboarding.settled(Step(target)));
            QCOMPARE(onboarding.litDots(), target + 1);
            // Where Skip or Back goes with the step, the keyboard lands in the new step.
            const bool landsInStep = onboarding.stepView(Step(target)).isAncestorOf(QApplication::focusWidget());
            QCOMPARE(landsInStep, (target == 0 && QLatin1String(button) == "Back") || target == 5);
            QTRY_COMPARE(events.announcements(),
                QStringList { QStringLiteral("%1. Step %2 of 6.").arg(kTitles[target]).arg(target + 1) });
            for (const AccessibleTree::EventSpy::Event& told : AccessibleTree::EventSpy::events()) {
                auto* focused = qobject_cast<QWidget*>(told.object.data());
                QVERIFY2(told.type != QAccessible::Focus || !onboarding.stepView(step).isAncestorOf(focused),
                    qPrintable(told.name));
            }
            QVERIFY(QApplication::focusWidget() && QApplication::focusWidget()->isVisible());
        }
    }

    void completion()
    {
        Onboarding onboarding;
        // The first step's button sits in the middle, like every other step's content.
        const QAbstractButton* start = ViewProbe::button(*onboarding.view, QStringLiteral("Get started"));
        QVERIFY(start);
        const int centre = start->mapTo(onboarding.view.get(), start->rect().center()).x();
        QVERIFY2(std::abs(centre - onboarding.view->width() / 2) <= 1, qPrintable(QString::number(centre)));
        QVERIFY(onboarding.click(QStringLiteral("Get started")));
        QVERIFY(onboarding.services().settings().get(SettingsKeys::onboardingCompleted));
        QVERIFY(onboarding.settled(Step::microphone));
        onboarding.services().settings().remove(SettingsKeys::onboardingCompleted);
        QVERIFY(onboarding.reach(Step::ready));
        // On a first run the archive folder is made first: the file manager has one to show.
        QVERIFY(!QFileInfo::exists(onboarding.rig->archiveRoot()));
        QVERIFY(onboarding.click(QStringLiteral("Open Archive Folder")));
        QVERIFY(QFileInfo(onboarding.rig->archiveRoot()).isDir());
        QCOMPARE(onboarding.rig->browser.opened, QList { QUrl::fromLocalFile(onboarding.rig->archiveRoot()) });
        QCOMPARE(onboarding.completions, 0);
        QVERIFY(onboarding.click(QStringLiteral("Start using Quillet")));
        QCOMPARE(onboarding.completions, 1);
        QVERIFY(onboarding.services().settings().get(SettingsKeys::onboardingCompleted));
    }

    void closingCallsNothing()
    {
        Onboarding onboarding([](AppRig& o) { o.microphonePermission.setStatus(Status::NotDetermined); });
        QVERIFY(onboarding.view->isPolling());
        onboarding.view->close();
        QVERIFY(!onboarding.view->isPolling());
        onboarding.microphone().setStatus(Status::Authorized);
        onboarding.scheduler.advance(5s);
        QVERIFY(!ViewProbe::label(onboarding.stepView(Step::microphone), QStringLiteral("Granted")));
        QCOMPARE(onboarding.completions, 0);
        QVERIFY(!onboarding.services().settings().contains(SettingsKeys::onboardingCompleted));
    }

    void microphone_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<bool>("answer"); // to "Allow microphone", when it is shown
        QTest::addColumn<QString>("face");
        QTest::addColumn<Step>("after"); // once the beat has passed
        QTest::newRow("authorised at start") << Status::Authorized << true << "Granted" << Step::microphone;
        QTest::newRow("granted when asked") << Status::NotDetermined << true << "Granted" << Step::systemAudio;
        QTest::newRow("refused when asked") << Status::NotDetermined << false << "Open Settings" << Step::microphone;
        QTest::newRow("denied at start") << Status::Denied << true << "Open Settings" << Step::microphone;
    }
    void microphone()
    {
        QFETCH(Status, status);
        QFETCH(bool, answer);
        QFETCH(QString, face);
        QFETCH(Step, after);
        Onboarding onboarding([&](AppRig& o) {
            o.microphonePermission.setStatus(status);
            o.microphonePermission.setAnswer(answer);
        });
        QVERIFY(onboarding.reach(Step::microphone));
        if (status == Status::NotDetermined) {
            QAbstractButton* allow = ViewProbe::button(*onboarding.view, QStringLiteral("Allow microphone"));
            QVERIFY(allow);
            allow->setFocus(Qt::TabFocusReason);
            QTest::keyClick(allow, Qt::Key_Space);
        }
        QTRY_VERIFY(ViewProbe::find<QWidget>(*onboarding.view, face));
        // The answer takes the keyboard from the button that goes, to the way on it shows.
        if (status == Status::NotDetermined) {
            const auto* focused = qobject_cast<QAbstractButton*>(onboarding.view->window()->focusWidget());
            QVERIFY(focused);
            QCOMPARE(focused->text(), face == QLatin1String("Granted") ? QStringLiteral("Continue") : face);
        }
        onboarding.scheduler.advance(599ms);
        QCOMPARE(onboarding.view->step(), Step::microphone);
        onboarding.scheduler.advance(1ms);
        QCOMPARE(onboarding.view->step(), after);
        // A grant that did not move the flow on leaves a way on besides "Skip".
        if (face == QLatin1String("Granted") && after == Step::microphone) {
            QVERIFY(onboarding.click(QStringLiteral("Continue")));
            QVERIFY(onboarding.settled(Step::systemAudio));
        }
        if (face == QLatin1String("Open Settings")) {
            QVERIFY(ViewProbe::label(*onboarding.view,
                QStringLiteral("No microphone found. Connect one, or turn it on in the sound settings.")));
            QVERIFY(onboarding.click(face));
            QCOMPARE(onboarding.rig->desktopSettings.opened, QList { DesktopSettingsOpener::Pane::Microphone });
        }
    }

    // The desktop's answer comes after the step shows: a missing microphone shows the way to
    // the settings, a found one goes on as a grant.
    void answerFoundLater()
    {
        Onboarding onboarding([](AppRig& o) { o.microphonePermission.setStatus(Status::NotDetermined); });
        QVERIFY(onboarding.reach(Step::microphone));
        QVERIFY(ViewProbe::button(*onboarding.view, QStringLiteral("Allow microphone")));
        onboarding.microphone().findStatus(Status::Denied);
        QVERIFY(ViewProbe::button(*onboarding.view, QStringLiteral("Open Settings")));
        QVERIFY(!ViewProbe::button(*onboarding.view, QStringLiteral("Allow microphone")));
        onboarding.microphone().findStatus(Status::Authorized);
        QVERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("Granted")));
        onboarding.scheduler.advance(600ms);
        QCOMPARE(onboarding.view->step(), Step::systemAudio);
    }

    void grantElsewhereIsSeenWithoutMoving()
    {
        Onboarding onboarding([](AppRig& o) { o.microphonePermission.setStatus(Status::Denied); });
        QVERIFY(onboarding.reach(Step::signIn));
        onboarding.microphone().setStatus(Status::Authorized);
        onboarding.scheduler.advance(1s);
        QVERIFY(ViewProbe::label(onboarding.stepView(Step::microphone), QStringLiteral("Granted")));
        onboarding.scheduler.advance(5s);
        QCOMPARE(onboarding.view->step(), Step::signIn);
    }

    // A tick that sees the grant before the answer arrives: one step on, not two.
    void grantSeenByTickAndAnswerMovesOnce()
    {
        Onboarding onboarding([](AppRig& o) { o.microphonePermission.setStatus(Status::NotDetermined); });
        QVERIFY(onboarding.reach(Step::microphone));
        QVERIFY(onboarding.click(QStringLiteral("Allow microphone")));
        QVERIFY(ViewProbe::button(*onboarding.view, QStringLiteral("Allow microphone"))); // not answered yet
        onboarding.microphone().setStatus(Status::Authorized);
        onboarding.scheduler.advance(1s);
        QVERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("Granted")));
        QTRY_COMPARE(onboarding.microphone().requestCount(), 1);
        QCoreApplication::processEvents(); // the answer
        onboarding.scheduler.advance(5s);
        QVERIFY(onboarding.settled(Step::systemAudio));
    }

    void probe()
    {
        Onboarding onboarding({}, true);
        QVERIFY(onboarding.reach(Step::systemAudio));
        const QString failure = QStringLiteral("Couldn't start system-audio capture — you can grant it later in "
                                               "Settings. Recording will use the mic only until then.");
        onboarding.services().systemAudio().setSourceOverride(QStringLiteral("no-such-source.monitor"));
        LogCapture log;
        QVERIFY(onboarding.click(QStringLiteral("Allow system audio")));
        QVERIFY(ViewProbe::label(*onboarding.view, failure));
        QVERIFY(log.containsPart(QStringLiteral("[Quillet] System-audio probe failed: ")));
        onboarding.scheduler.advance(5s);
        QCOMPARE(onboarding.view->step(), Step::systemAudio);

        onboarding.services().systemAudio().setSourceOverride({});
        QAbstractButton* allow = ViewProbe::button(*onboarding.view, QStringLiteral("Allow system audio"));
        allow->setFocus(Qt::TabFocusReason);
        QTest::keyClick(allow, Qt::Key_Space);
        QVERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("Ready")));
        QVERIFY(!ViewProbe::label(*onboarding.view, failure));
        QVERIFY(!onboarding.services().systemAudio().isRunning());
        onboarding.scheduler.advance(600ms);
        QVERIFY(onboarding.settled(Step::signIn));
        // The keyboard goes on with the flow, not left behind on "Back".
        const auto* focused = qobject_cast<QAbstractButton*>(onboarding.view->window()->focusWidget());
        QVERIFY(focused);
        QCOMPARE(focused->text(), QStringLiteral("Continue with Google"));
    }

    void probeLeavesRunningCaptureAlone()
    {
        Onboarding onboarding({}, true);
        QVERIFY(!onboarding.services().systemAudio().start());
        QVERIFY(onboarding.reach(Step::systemAudio));
        QVERIFY(onboarding.click(QStringLiteral("Allow system audio")));
        QVERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("Ready")));
        QVERIFY(onboarding.services().systemAudio().isRunning());
        onboarding.scheduler.advance(600ms);
        QCOMPARE(onboarding.view->step(), Step::signIn);
        onboarding.services().systemAudio().stop();
    }

    void signInThroughCard()
    {
        Onboarding onboarding;
        QVERIFY(onboarding.reach(Step::signIn));
        QLineEdit* email = ViewProbe::field(*onboarding.view, QStringLiteral("name@example.com"));
        email->setText(QStringLiteral("ann@example.com"));
        QTest::keyClick(email, Qt::Key_Return);
        QTRY_VERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("Check your email")));
        QLineEdit* code = ViewProbe::field(*onboarding.view, QStringLiteral("6-digit code"));
        QTest::keyClicks(code, QStringLiteral("123456"));
        QTest::keyClick(code, Qt::Key_Return);
        QTRY_VERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("ann@example.com")));
        QVERIFY(ViewProbe::button(*onboarding.view, QStringLiteral("Continue")));
        onboarding.scheduler.advance(599ms);
        QCOMPARE(onboarding.view->step(), Step::signIn);
        onboarding.scheduler.advance(1ms);
        QVERIFY(onboarding.settled(Step::theme));
    }

    // A sign-in that failed here is told here; the error goes with the onboarding and is not
    // left on the Settings page, where nobody tried anything. One tried in Settings stays there.
    void signInErrorGoesWithTheOnboarding_data()
    {
        QTest::addColumn<bool>("triedHere");
        QTest::newRow("tried here") << true;
        QTest::newRow("tried in Settings") << false;
    }
    void signInErrorGoesWithTheOnboarding()
    {
        QFETCH(bool, triedHere);
        Onboarding onboarding;
        AccountService& account = onboarding.services().account();
        QVERIFY(onboarding.reach(Step::signIn));
        onboarding.rig->browser.refuse = true;
        if (triedHere)
            QVERIFY(onboarding.click(QStringLiteral("Continue with Google")));
        else
            account.signInWithTessra(); // as the Settings page's button does
        const QString noBrowser = QStringLiteral("No web browser could be opened for the sign-in.");
        QTRY_COMPARE(account.flowError(), std::optional(noBrowser));
        QVERIFY(ViewProbe::label(*onboarding.view, noBrowser));
        onboarding.view->close();
        QCOMPARE(account.flowError(), triedHere ? std::nullopt : std::optional(noBrowser));
    }

    void alreadySignedInStays()
    {
        Onboarding onboarding(
            [](AppRig& o) { o->keychain().set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount); });
        QVERIFY(onboarding.reach(Step::signIn));
        QVERIFY(ViewProbe::label(*onboarding.view, QStringLiteral("Signed in")));
        onboarding.scheduler.advance(5s);
        QCOMPARE(onboarding.view->step(), Step::signIn);
        QVERIFY(onboarding.click(QStringLiteral("Continue")));
        QCOMPARE(onboarding.view->step(), Step::theme);
    }

    void ownKey()
    {
        Onboarding onboarding;
        QVERIFY(onboarding.reach(Step::signIn));
        QVERIFY(onboarding.click(QStringLiteral("Use my own key instead")));
        QLineEdit* field = ViewProbe::field(*onboarding.view, QStringLiteral("tq-..."));
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QTest::keyClicks(field, QStringLiteral("   "));
        QVERIFY(!ViewProbe::button(*onboarding.view, QStringLiteral("Use this key"))->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(onboarding.click(QStringLiteral("Back to sign in")));
        QVERIFY(onboarding.click(QStringLiteral("Use my own key instead")));
        QCOMPARE(field->text(), QStringLiteral("   "));

        field->setText(QStringLiteral("  tq-abc  "));
        QVERIFY(onboarding.click(QStringLiteral("Use this key")));
        QCOMPARE(onboarding.view->step(), Step::theme);
        QCOMPARE(onboarding.services().account().byoKey(), QStringLiteral("  tq-abc  "));
        QCOMPARE(onboarding.services().keychain().string(AccountService::kByoKeyAccount),
            std::optional(QStringLiteral("tq-abc")));
    }

    // A key no keyring can keep is said before the guide moves on; "Continue" goes on with it.
    void ownKeyTheKeyringRefusesIsSaid()
    {
        Onboarding onboarding({}, false, false);
        onboarding.rig->secrets.setFailure(SecretStore::Failed);
        QVERIFY(onboarding.reach(Step::signIn));
        QVERIFY(onboarding.click(QStringLiteral("Use my own key instead")));
        QTest::keyClicks(ViewProbe::field(*onboarding.view, QStringLiteral("tq-...")), QStringLiteral("tq-abc"));
        QVERIFY(onboarding.click(QStringLiteral("Use this key")));
        QCOMPARE(onboarding.view->step(), Step::signIn);
        QVERIFY(ViewProbe::label(
            *onboarding.view, QStringLiteral("No keyring could keep this key: it works until Quillet quits.")));
        QVERIFY(onboarding.click(QStringLiteral("Continue")));
        QCOMPARE(onboarding.view->step(), Step::theme);
        QCOMPARE(onboarding.services().account().byoKey(), QStringLiteral("tq-abc"));
    }

    // By the keyboard: the link to the own key puts the focus in the key field, Enter there
    // presses "Use this key", and the way back puts it on the link again.
    void ownKeyByKeyboard()
    {
        Onboarding onboarding;
        onboarding.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(onboarding.view.get()));
        QVERIFY(onboarding.reach(Step::signIn));
        QAbstractButton* link = ViewProbe::button(*onboarding.view, QStringLiteral("Use my own key instead"));
        link->setFocus(Qt::TabFocusReason);
        QTest::keyClick(link, Qt::Key_Return);
        QLineEdit* field = ViewProbe::field(*onboarding.view, QStringLiteral("tq-..."));
        QVERIFY(field);
        QTRY_COMPARE(QApplication::focusWidget(), field);
        QCOMPARE(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name), QStringLiteral("Tessra key"));

        QAbstractButton* backToSignIn = ViewProbe::button(*onboarding.view, QStringLiteral("Back to sign in"));
        backToSignIn->setFocus(Qt::TabFocusReason);
        QTest::keyClick(backToSignIn, Qt::Key_Return);
        QTRY_COMPARE(QApplication::focusWidget(), link);
        QTest::keyClick(link, Qt::Key_Return);
        QTRY_COMPARE(QApplication::focusWidget(), field);

        QTest::keyClicks(field, QStringLiteral("tq-typed"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(onboarding.view->step(), Step::theme);
        QCOMPARE(onboarding.services().account().byoKey(), QStringLiteral("tq-typed"));
    }

    void themeTiles_data()
    {
        QTest::addColumn<QString>("stored"); // null: never written
        QTest::addColumn<QString>("selected"); // null: none
        QTest::newRow("unset") << QString() << "system";
        QTest::newRow("light") << "light"
                               << "light";
        QTest::newRow("unknown") << "purple" << QString();
    }
    void themeTiles()
    {
        QFETCH(QString, stored);
        QFETCH(QString, selected);
        const QPalette startup = QApplication::palette();
        Onboarding onboarding([&](AppRig& o) {
            if (!stored.isNull())
                o->settings().set(SettingsKeys::appTheme, stored);
        });
        ThemeController theme(onboarding.services().settings());
        QVERIFY(onboarding.reach(Step::theme));
        const auto selection = [&] {
            QString value;
            for (const ThemeTile* tile : onboarding.view->findChildren<ThemeTile*>())
                if (tile->isSelected())
                    value += tile->value();
            return value;
        };
        QCOMPARE(selection(), selected);

        for (const auto& [name, value] :
            { std::pair { "Dark", "dark" }, { "Light", "light" }, { "System", "system" } }) {
            QVERIFY(onboarding.click(QString::fromLatin1(name)));
            QCOMPARE(onboarding.services().settings().get(SettingsKeys::appTheme), QString::fromLatin1(value));
            QCOMPARE(selection(), QString::fromLatin1(value));
            QCOMPARE(checkedRadios(*onboarding.view), QStringList { QString::fromLatin1(name) });
            const QPalette expected = value == QLatin1String("dark") ? ThemeController::darkPalette()
                : value == QLatin1String("light")                    ? ThemeController::lightPalette()
                                                                     : startup;
            QCOMPARE(QApplication::palette().color(QPalette::Window), expected.color(QPalette::Window));
        }
    }
};

QUILLET_WIDGET_TEST_MAIN(TestOnboarding)
#include "TestOnboarding.moc"
