#pragma once

#include "ui/window/MainWindow.h"
#include "ui/window/MenuBarView.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

class AppServices;
class QSystemTrayIcon;
class QuitProblemBox;

// The application's windows and their launch: the launch steps that precede any window, the
// one main window (made here, never destroyed), the tray item with its menu, the onboarding
// window, the tasks that run each time the main window is shown anew, and the question a quit
// asks when its save fails (the quit itself is AppQuit's). Main thread only.
class AppDelegate final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    struct Options
    {
        MainWindow::Options window;
        MenuBarView::Options menu;
    };

    explicit AppDelegate(AppServices& services, QObject* parent = nullptr);
    AppDelegate(AppServices& services, const Options& options, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch steps, in order: the "soundEnabled" default, the launch log line, the
    // calendar's two launch calls, the onboarding's notice and, while the onboarding was never
    // completed, its window; then the main window and the tray item show.
    void applicationDidFinishLaunching();

    // Brings the main window back (shown or restored, raised, activated).
    void openMainWindow();
    // A new onboarding window, centred and in front; its completion closes it.
    void showOnboarding();

    MainWindow& mainWindow() const { return *m_mainWindow; }
    MenuBarView& menuBar() const { return *m_menuBar; }
    QSystemTrayIcon& trayIcon() const { return *m_trayIcon; }
    // The onboarding window shown last, while it is open.
    QWidget* onboardingWindow() const { return m_onboardingWindow; }
    // What a quit held by a failed save asks; null until one was held.
    QuitProblemBox* quitProblemBox() const { return m_quitProblem.get(); }

private:
    void updateTrayIcon();
    void followQuit();
    void finishOnboarding(const QPointer<QWidget>& window);

    AppServices& m_services;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<MenuBarView> m_menuBar;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<QuitProblemBox> m_quitProblem;
    QPointer<QWidget> m_onboardingWindow;
    // Every onboarding window still open ("Welcome to Quillet" may open a second one).
    QList<QPointer<QWidget>> m_onboardingWindows;
};
