#include "shell/AppDelegate.h"

#include "app/AppNotices.h"
#include "app/AppQuit.h"
#include "app/AppServices.h"
#include "app/AppState.h"
#include "app/CalendarHooks.h"
#include "app/LaunchHousekeeping.h"
#include "app/OnboardingServices.h"
#include "app/RecordingController.h"
#include "app/WindowServices.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Settings.h"
#include "platform/UrlRouter.h"
#include "storage/ModelContext.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Symbols.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/window/QuitProblemBox.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

AppDelegate::AppDelegate(AppServices& services, QObject* parent)
    : AppDelegate(services, Options {}, parent)
{ }

AppDelegate::AppDelegate(AppServices& services, const Options& options, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_mainWindow(std::make_unique<MainWindow>(services.windowServices(), options.window))
    , m_menuBar(std::make_unique<MenuBarView>(
          services.appState(), services.recordings(), services.recordingActions(), services.store(), services.clock(),
          services.notices(), [this] { openMainWindow(); }, options.menu))
    , m_trayIcon(std::make_unique<QSystemTrayIcon>())
{
    // Each show's housekeeping, then its tasks.
    connect(m_mainWindow.get(), &MainWindow::shownAnew, this, [this] {
        m_services.housekeeping().run();
        m_services.runWindowTasks();
    });
    // A second start without a link asks for the window instead of running beside this one.
    connect(&services.router(), &UrlRouter::mainWindowRequested, this, &AppDelegate::openMainWindow);

    m_trayIcon->setToolTip(QStringLiteral("Quillet"));
    m_trayIcon->setContextMenu(m_menuBar->menu());
    // A click shows the same menu as the context click, the way a menu-bar item opens.
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menuBar->menu()->popup(QCursor::pos());
    });
    connect(&services.recordings(), &RecordingController::isRecordingChanged, this, &AppDelegate::updateTrayIcon);
    updateTrayIcon();

    connect(&services.notices(), &AppNotices::quitRequested, &services.quit(), &AppQuit::request);
    connect(&services.quit(), &AppQuit::heldChanged, this, &AppDelegate::followQuit);
}

AppDelegate::~AppDelegate()
{
    for (const QPointer<QWidget>& window : std::as_const(m_onboardingWindows))
        delete window.data();
}

void AppDelegate::applicationDidFinishLaunching()
{
    Settings& settings = m_services.settings();
    settings.registerDefault(SettingsKeys::soundEnabled);
    Log::line("[Quillet] App launched");
    CalendarHooks& calendar = m_services.calendarHooks();
    connect(&m_services.notifications(), &NotificationCenter::responseReceived, &calendar,
        &CalendarHooks::handleNotificationResponse);
    // A reminder's "Open & record" brings the window to the front; the recordings record.
    connect(&calendar, &CalendarHooks::mainWindowRequested, this, &AppDelegate::openMainWindow);
    calendar.activateReminders();
    connect(&m_services.notices(), &AppNotices::showOnboarding, this, &AppDelegate::showOnboarding);
    if (!settings.get(SettingsKeys::onboardingCompleted))
        showOnboarding();

    m_mainWindow->show();
    m_trayIcon->show();
    // The main window shows after the onboarding window; the first-run guide stays in front.
    if (m_onboardingWindow) {
        m_onboardingWindow->raise();
        m_onboardingWindow->activateWindow();
    }
}

void AppDelegate::openMainWindow()
{
    m_mainWindow->bringBack();
}

void AppDelegate::showOnboarding()
{
    auto* window
        = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Welcome to Quillet"));
    // A plain widget would be read as a nameless filler, not as the window it is.
    AccessibleRole::set(*window, QAccessible::Dialog);
    const QPointer<QWidget> self(window);
    auto* view = new OnboardingView(m_services.onboardingServices(), [this, self] {
        // Later: the view that calls this lives in the window being closed.
        QTimer::singleShot(0, this, [this, self] { finishOnboarding(self); });
    });
    // The window takes its content's size and cannot be resized. A screen too small for it (a
    // small one at twice the scale) gets a window as large as the screen allows, title bar
    // included, whose content scrolls: every step and its links stay within reach.
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
    scroll->setHorizontalScrollBar(new ScrollIndicator(Qt::Horizontal));
    scroll->setWidget(view);
    // setWidget() fills the view's background; the window's shows through, as without it.
    view->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = MainWindow::availableRoom(screen);
    const QSize content = view->size();
    QSize size = content.boundedTo(room);
    if (size.height() < content.height())
        size.setWidth(std::min(content.width() + scroll->verticalScrollBar()->sizeHint().width(), room.width()));
    if (size.width() < content.width())
        size.setHeight(std::min(content.height() + scroll->horizontalScrollBar()->sizeHint().height(), room.height()));
    window->setFixedSize(size);
    if (screen)
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
    m_onboardingWindows.removeAll(nullptr);
    m_onboardingWindows.append(self);
    m_onboardingWindow = window;
}

void AppDelegate::finishOnboarding(const QPointer<QWidget>& window)
{
    // Each completion closes the window of its own view, and forgets the window shown last
    // only when that is the one.
    if (m_onboardingWindow == window)
        m_onboardingWindow.clear();
    if (window)
        window->close();
}

void AppDelegate::followQuit()
{
    AppQuit& quit = m_services.quit();
    if (!quit.isHeld()) {
        if (m_quitProblem)
            m_quitProblem->hide();
        return;
    }
    if (!m_quitProblem) {
        m_quitProblem = std::make_unique<QuitProblemBox>();
        connect(m_quitProblem.get(), &QuitProblemBox::tryAgainChosen, &quit, &AppQuit::tryAgain);
        connect(m_quitProblem.get(), &QuitProblemBox::quitAnywayChosen, &quit, &AppQuit::quitAnyway);
        connect(m_quitProblem.get(), &QuitProblemBox::stayChosen, &quit, &AppQuit::stay);
    }
    m_quitProblem->ask(quit.problem(), quit.unsavedMeetings());
}

void AppDelegate::updateTrayIcon()
{
    const bool recording = m_services.recordings().isRecording();
    m_trayIcon->setIcon(Symbols::icon(recording ? QStringLiteral("record.circle") : QStringLiteral("waveform")));
}
