#pragma once

#include "platform/Scheduler.h"

#include <QWidget>
#include <array>
#include <chrono>
#include <functional>

class AccountService;
struct OnboardingServices;
class DesktopSettingsOpener;
class MicrophonePermission;
class PillButton;
class PlainButton;
class QLineEdit;
class Settings;
class StepLayout;
class SystemAudioRecorder;
class ToneLabel;
class UrlOpener;

namespace OnboardingParts {
class Dots;
class Stage;
} // namespace OnboardingParts

// The first-run guide, the content of the onboarding window: a welcome, the microphone, the
// computer's own audio, sign-in (or the user's own provider key), the appearance, and a
// closing step, one at a time, sliding in from the trailing edge. It asks for the microphone
// and watches the answer once a second while shown, checks that the computer's sound can be
// captured, and writes "appTheme" and "onboardingCompleted" (never false). Only "Start using
// Quillet" calls onComplete; whoever made the window closes it then. Closed, it takes the
// account's sign-in error with it when a sign-in tried here caused it.
class OnboardingView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OnboardingView)

public:
    enum class Step { welcome, microphone, systemAudio, signIn, theme, ready };
    Q_ENUM(Step)
    static constexpr int kStepCount = 6;

    struct Timing
    {
        std::chrono::milliseconds poll { 1000 }; // the microphone status is read this often
        std::chrono::milliseconds beat { 600 }; // the pause before moving on by itself
        std::chrono::milliseconds transition { 300 }; // one step sliding into the next
    };

    // Takes the account, the settings, the microphone permission, the application's one
    // system-audio recorder (also the recording's: a capture already running is left alone),
    // the browser, the archive folder and the desktop's settings from the services.
    OnboardingView(const OnboardingServices& services, std::function<void()> onComplete,
        Scheduler& scheduler = Scheduler::system(), QWidget* parent = nullptr);
    ~OnboardingView() override;

    Step step() const { return m_step; }
    // True from the view being shown until it is hidden or closed.
    bool isPolling() const { return m_polling; }
    void setTiming(const Timing& timing) { m_timing = timing; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    StepLayout* makeWelcome();
    StepLayout* makeMicrophone();
    StepLayout* makeSystemAudio();
    StepLayout* makeSignIn();
    StepLayout* makeTheme();
    StepLayout* makeReady();
    void updateFaces();
    // The key in the field is the one in use, and no keyring could keep it.
    bool ownKeyToldUnkept() const;

    void go(Step to);
    // The first control of a step the keyboard reaches, or null.
    static QWidget* firstStop(QWidget& step);
    void advance();
    void back();
    void advanceAfterBeat();

    void startPolling();
    void stopPolling();
    void schedulePoll(quint64 run);
    void pollMicrophone();
    void requestMicrophone();
    void probeSystemAudio();
    void accountChanged();

    AccountService& m_account;
    Settings& m_settings;
    MicrophonePermission& m_microphonePermission;
    SystemAudioRecorder& m_systemAudio;
    UrlOpener& m_urlOpener;
    const QString m_archiveRoot;
    DesktopSettingsOpener& m_desktopSettings;
    Scheduler& m_scheduler;
    std::function<void()> m_onComplete;
    Timing m_timing;

    Step m_step = Step::welcome;
    bool m_micGranted = false;
    bool m_micDenied = false;
    bool m_systemAudioDone = false;
    bool m_systemAudioFailed = false;
    bool m_focusWaitsOnBack = false; // put there by an answer, for the step that comes
    bool m_showByoKey = false;
    bool m_signedIn = false;
    bool m_polling = false;
    bool m_attemptedHere = false; // a sign-in tried here has not failed yet
    bool m_errorIsFromHere = false; // the account's sign-in error is that of a sign-in tried here
    quint64 m_pollRun = 0;

    OnboardingParts::Dots* m_dots = nullptr;
    OnboardingParts::Stage* m_stage = nullptr;
    std::array<StepLayout*, kStepCount> m_steps {};
    PlainButton* m_backButton = nullptr;
    PlainButton* m_skipButton = nullptr;
    PillButton* m_startButton = nullptr;
    PlainButton* m_ownKeyLink = nullptr;

    QWidget* m_micGrantedFace = nullptr;
    QWidget* m_micDeniedFace = nullptr;
    PillButton* m_micAllowButton = nullptr;

    QWidget* m_audioReadyFace = nullptr;
    QWidget* m_audioAskFace = nullptr;
    ToneLabel* m_audioFailure = nullptr;

    QWidget* m_signedInFace = nullptr;
    ToneLabel* m_signedInLabel = nullptr;
    QWidget* m_ownKeyFace = nullptr;
    QLineEdit* m_ownKeyField = nullptr;
    ToneLabel* m_ownKeyUnkept = nullptr;
    PillButton* m_useKeyButton = nullptr;
    QWidget* m_cardFace = nullptr;
};
