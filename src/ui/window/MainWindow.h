#pragma once

#include "ui/window/MainContentView.h"
#include "ui/window/SignInQuestion.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

class AccountService;
class AppNotices;
class QAction;
class QScreen;
class RecordingActions;
struct WindowServices;

// The main window, made once at launch and never destroyed: the toolbar (Home, Quick note,
// Settings), the menu commands (the recording's among them, the same actions as the tray's),
// and the content. Closing it keeps Quillet running: with a
// status tray the window hides, without one it is minimised, so that its taskbar entry stays
// the way back. Each time it is shown anew (the first show, and every show after a close, not
// the restore of a window the user minimised) it reports shownAnew(), on which the shell runs
// the housekeeping and the show's tasks.
//
// A sign-in link that waits for the user's word (AccountService::linkSignInQuestion) brings the
// window back and asks over it; one that could not be checked (linkSignInFailure) says so there.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    struct Options
    {
        MainContentView::Options content;
        // Whether the desktop shows a status tray, asked at each close; null asks Qt.
        std::function<bool()> trayAvailable;
    };

    // The first size, and the smallest the window takes, each bounded by the screen. Every page
    // is usable at the minimum: what does not fit scrolls or gives way inside the page, and no
    // page's or panel's own minimum ever resizes the window.
    static constexpr QSize kDefaultSize { 1120, 740 };
    static constexpr QSize kMinimumSize { 720, 420 };

    // The room a window has on the screen (null: the primary one): its available area, less
    // a title bar, which is not known before the window manager frames the window.
    static QSize availableRoom(const QScreen* screen);

    explicit MainWindow(const WindowServices& services, QWidget* parent = nullptr);
    MainWindow(const WindowServices& services, const Options& options, QWidget* parent = nullptr);

    MainContentView& content() const { return *m_content; }

    // Shows or restores the window, raises and activates it.
    void bringBack();

    QAction* homeAction() const { return m_home; }
    QAction* quickNoteAction() const { return m_quickNote; }
    QAction* settingsAction() const { return m_settings; }
    // The menu commands "Settings…", "Quit Quillet" and "Welcome to Quillet".
    QAction* settingsCommand() const { return m_settingsCommand; }
    QAction* quitCommand() const { return m_quitCommand; }
    QAction* welcomeCommand() const { return m_welcomeCommand; }
    // The question about a sign-in link, or the notice that one could not be checked, while up.
    SignInQuestion* signInQuestion() const { return m_signInQuestion; }

signals:
    // The window was shown anew.
    void shownAnew();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildToolBar();
    void buildMenus();
    void noteShown();
    void followLinkQuestion();

    AppNotices& m_notices;
    RecordingActions& m_recordingActions;
    AccountService& m_account;
    QPointer<SignInQuestion> m_signInQuestion;
    std::function<bool()> m_trayAvailable;
    MainContentView* m_content;
    // Set until the next show: at launch, and by each close.
    bool m_showWorkDue = true;

    QAction* m_home = nullptr;
    QAction* m_quickNote = nullptr;
    QAction* m_settings = nullptr;
    QAction* m_settingsCommand = nullptr;
    QAction* m_quitCommand = nullptr;
    QAction* m_welcomeCommand = nullptr;
};
