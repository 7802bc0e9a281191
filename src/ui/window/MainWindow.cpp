#include "ui/window/MainWindow.h"

#include "account/AccountService.h"
#include "app/AppNotices.h"
#include "app/RecordingActions.h"
#include "app/WindowServices.h"
#include "ui/design/AccessibleMenus.h"
#include "ui/design/AccessibleTextField.h"
#include "ui/design/TextFieldFocus.h"
#include "ui/design/Symbols.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QToolBar>

namespace {

// A screen reader's bridge holds each key press and hands it back once the screen reader has
// seen it, as a press sent again, while a shortcut takes its keys at once: of Alt+Home, only
// the Alt comes back, alone, which the menu bar takes for a tap of Alt and wakes up with the
// keyboard. After an Alt shortcut, the Alt handed back is not offered to the menu bar.
class AltShortcutGuard final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Shortcut:
            if (QAccessible::isActive()
                && static_cast<QShortcutEvent*>(event)->key()[0].keyboardModifiers().testFlag(Qt::AltModifier))
                m_altComesBack = true;
            return false;
        case QEvent::ShortcutOverride:
            // Handed back: not spontaneous. The menu bar arms itself on this override.
            return m_altComesBack && !event->spontaneous() && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Alt;
        case QEvent::KeyRelease:
            if (!event->spontaneous() && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Alt)
                m_altComesBack = false;
            return false;
        default:
            return false;
        }
    }

private:
    bool m_altComesBack = false;
};

} // namespace

MainWindow::MainWindow(const WindowServices& services, QWidget* parent)
    : MainWindow(services, Options {}, parent)
{ }

MainWindow::MainWindow(const WindowServices& services, const Options& options, QWidget* parent)
    : QMainWindow(parent)
    , m_notices(services.notices)
    , m_recordingActions(services.recordingActions)
    , m_account(services.account)
    , m_trayAvailable(
          options.trayAvailable ? options.trayAvailable : [] { return QSystemTrayIcon::isSystemTrayAvailable(); })
    , m_content(new MainContentView(services, options.content))
{
    AccessibleMenus::install();
    TextFieldFocus::install();
    AccessibleTextField::install();
    setWindowTitle(QStringLiteral("Quillet"));
    qApp->installEventFilter(new AltShortcutGuard(this));
    setCentralWidget(m_content);
    buildToolBar();
    buildMenus();
    // Set explicitly, the minimum is the window's own: the layout no longer raises it to the
    // content's, so a panel that opens is fitted into the window instead of growing it.
    const QSize room = availableRoom(screen());
    setMinimumSize(kMinimumSize.boundedTo(room));
    resize(kDefaultSize.boundedTo(room));
    connect(&m_account, &AccountService::linkSignInQuestionChanged, this, &MainWindow::followLinkQuestion);
    followLinkQuestion();
}

void MainWindow::followLinkQuestion()
{
    const std::optional<QString> email = m_account.linkSignInQuestion();
    const std::optional<QString> failure = m_account.linkSignInFailure();
    if (m_signInQuestion) {
        const bool stillTrue = m_signInQuestion->isFailure()
            ? failure && m_signInQuestion->informativeText() == *failure
            : email.has_value();
        if (stillTrue)
            return;
        // Gone or replaced: closed without answering for the person.
        m_signInQuestion->disconnect(this);
        m_signInQuestion->close();
        m_signInQuestion.clear();
    }
    if (!email && !failure)
        return;
    bringBack();
    auto* question = email ? new SignInQuestion(*email, this) : SignInQuestion::failure(*failure, this);
    question->setWindowModality(Qt::WindowModal);
    question->setAttribute(Qt::WA_DeleteOnClose);
    m_signInQuestion = question;
    const bool isFailure = question->isFailure();
    connect(question, &SignInQuestion::answered, this, [this, isFailure](bool agreed) {
        // Closing already: the end of the question must not close it again.
        m_signInQuestion.clear();
        if (isFailure)
            m_account.dismissLinkSignInFailure();
        else
            m_account.answerLinkSignIn(agreed);
    });
    question->open();
}

QSize MainWindow::availableRoom(const QScreen* screen)
{
    constexpr int kTitleBarAllowance = 40;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return kDefaultSize;
    const QSize available = screen->availableGeometry().size();
    return { available.width(), std::max(available.height() - kTitleBarAllowance, 0) };
}

void MainWindow::buildToolBar()
{
    auto* toolBar = addToolBar(QStringLiteral("Toolbar"));
    toolBar->setObjectName(QStringLiteral("toolbar"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->toggleViewAction()->setVisible(false);
    toolBar->setIconSize(QSize(18, 18));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    setContextMenuPolicy(Qt::NoContextMenu);

    m_home = toolBar->addAction(Symbols::icon(QStringLiteral("house")), QStringLiteral("Home"));
    m_home->setToolTip(QStringLiteral("Home \u2014 your meetings & week"));
    connect(m_home, &QAction::triggered, m_content, &MainContentView::goHome);
    // The browsers' and file managers' key for their home page. A shortcut of its own, live on
    // the home page too, where the toolbar's button is off: a key combination that reaches no
    // shortcut leaves its Alt to wake the menu bar, and the keyboard with it.
    auto* homeKey = new QShortcut(QKeySequence(QStringLiteral("Alt+Home")), this);
    connect(homeKey, &QShortcut::activated, m_content, &MainContentView::goHome);

    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar->addWidget(spacer);

    m_quickNote = m_recordingActions.quickNote();
    m_quickNote->setIcon(Symbols::icon(QStringLiteral("square.and.pencil")));
    toolBar->addAction(m_quickNote);
    // After the recording controller's own connection: the note may already be in front.
    connect(m_quickNote, &QAction::triggered, m_content, &MainContentView::focusNotesOfQuickNote);

    m_settings = toolBar->addAction(Symbols::icon(QStringLiteral("gearshape")), QStringLiteral("Settings"));
    m_settings->setToolTip(QStringLiteral("Settings (Ctrl+,)"));
    connect(m_settings, &QAction::triggered, this, [this] { m_content->setSelection(SidebarItem::settings()); });

    // A toolbar's buttons take no focus by default: here they are the only way to some pages
    // without a mouse besides their keys.
    for (QAction* action : { m_home, m_quickNote, m_settings })
        toolBar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);

    const auto followSelection
        = [this] { m_home->setEnabled(m_content->selection().kind() != SidebarItem::Kind::home); };
    connect(m_content, &MainContentView::selectionChanged, this, followSelection);
    followSelection();
}

void MainWindow::buildMenus()
{
    AppNotices& notices = m_notices;
    QMenu* app = menuBar()->addMenu(QStringLiteral("Quillet"));
    m_settingsCommand = app->addAction(QStringLiteral("Settings\u2026"), &notices, &AppNotices::postOpenSettings);
    m_settingsCommand->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    app->addSeparator();
    // The shell saves first, and says so when that fails.
    m_quitCommand = app->addAction(QStringLiteral("Quit Quillet"), &notices, &AppNotices::postQuit);
    m_quitCommand->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    // The tray's recording commands, with their keys: without a tray (a desktop that shows
    // none) this is where they are, and their keys work wherever the window has the focus.
    QMenu* recording = menuBar()->addMenu(QStringLiteral("Recording"));
    recording->addAction(m_recordingActions.start());
    recording->addAction(m_recordingActions.stop());
    recording->addAction(m_recordingActions.pauseResume());
    recording->addSeparator();
    recording->addAction(m_recordingActions.quickNote());

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    m_welcomeCommand = help->addAction(QStringLiteral("Welcome to Quillet"), &notices, &AppNotices::postShowOnboarding);
}

void MainWindow::bringBack()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Quillet keeps running, with its reminders and any recording. Without a tray there would
    // be no way back to a hidden window: the taskbar entry of a minimised one is it.
    event->ignore();
    m_showWorkDue = true;
    if (m_trayAvailable())
        hide();
    else
        showMinimized();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!isMinimized())
        noteShown();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isVisible() && !isMinimized())
        noteShown();
}

void MainWindow::noteShown()
{
    if (!std::exchange(m_showWorkDue, false))
        return;
    // On a later turn of the event loop, outside the show or state change that led here.
    QMetaObject::invokeMethod(
        this, [this] { emit shownAnew(); }, Qt::QueuedConnection);
}
