// The application as the tests run it in a process of its own: the same life as the program
// (QuilletApp::run, window included), with its services on the folders of the environment the
// test gives it, and every outside server at a closed port on 127.0.0.1. Capture stays off
// unless QUILLET_TEST_CAPTURE is set (recordings then run on the environment's sound server);
// QUILLET_TEST_PROVIDER_KEY puts a provider key in the keyring, so that recordings may start.
//
// What a person would see and do, for tests that cannot look at the screen: each message box
// the application shows is written to stdout as one line "dialog: <its text>". Lines on stdin
// are commands, run in the order they come; the lines of one write run in one turn of the event
// loop, with nothing of the application's own in between:
//   close            closes the dialog in front, as its window's close button would
//   press <label>    clicks the button of the dialog in front that reads <label>
//   record           starts a recording into a new meeting, as the toolbar's quick note does
//   notes <text>     opens the newest meeting in the main window and types <text> at the end
//                    of its notes, key by key; then writes "typed"
//   quit             "Quit Quillet" (Ctrl+Q) in the main window's menu
//   raise <number>   sends the process that signal
//   commit-data      the session manager's request to save before a logout, as Qt hands it
//                    on; then writes "committed" and stops the event loop for good (a session
//                    manager that ends a client may kill it next)
//   click <label>    clicks the shown button that reads <label> in the first-run guide's
//                    window; then writes "clicked <label>", or "no button <label>" while
//                    there is none to click (a step still sliding in)
//   appearance       writes "appearance window=#rrggbb menubar=#rrggbb onboarding=#rrggbb":
//                    the window colour of the main window, its menu bar and the first-run
//                    guide's window ("none" while it is not shown)

#include "account/AccountService.h"
#include "app/RecordingController.h"
#include "shell/QuilletApp.h"
#include "storage/MeetingListModel.h"
#include "support/FakeCalendarStore.h"
#include "support/InMemoryNotificationServer.h"
#include "support/InMemorySecretStore.h"
#include "support/RecordingCuePlayer.h"
#include "support/RecordingSettingsOpener.h"
#include "support/RecordingUrlOpener.h"
#include "support/ViewProbe.h"
#include "system/Keychain.h"
#include "ui/window/MainContentView.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/NotesEditor.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

class DialogProbe final : public QObject
{
public:
    explicit DialogProbe(QObject* parent)
        : QObject(parent)
        , m_commands(STDIN_FILENO, QSocketNotifier::Read, this)
    {
        connect(&m_commands, &QSocketNotifier::activated, this, &DialogProbe::readCommand);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                const QString text = box->text().replace(u'\n', u' ');
                std::printf("dialog: %s\n", qPrintable(text));
                std::fflush(stdout);
            }
        }
        return false;
    }

private:
    void readCommand()
    {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            m_commands.setEnabled(false);
            return;
        }
        m_pending.append(buffer, int(count));
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            run(line);
        }
    }

    void run(const QString& line)
    {
        const QString command = line.section(u' ', 0, 0);
        const QString argument = line.section(u' ', 1);
        if (command == QLatin1String("close")) {
            if (QWidget* dialog = QApplication::activeModalWidget())
                dialog->close();
        } else if (command == QLatin1String("press")) {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
                    if (button->text() == argument)
                        button->click();
            }
        } else if (command == QLatin1String("record")) {
            if (MainWindow* window = mainWindow())
                window->quickNoteAction()->trigger();
        } else if (command == QLatin1String("notes")) {
            typeNotes(argument);
        } else if (command == QLatin1String("quit")) {
            if (MainWindow* window = mainWindow())
                window->quitCommand()->trigger();
        } else if (command == QLatin1String("raise")) {
            ::raise(argument.toInt());
        } else if (command == QLatin1String("click")) {
            QWidget* guide = onboardingWindow();
            const bool clicked = guide && ViewProbe::click(*guide, argument);
            say(qPrintable((clicked ? QStringLiteral("clicked ") : QStringLiteral("no button ")) + argument));
        } else if (command == QLatin1String("appearance")) {
            reportAppearance();
        } else if (command == QLatin1String("commit-data")) {
            auto* manager = qApp->findChild<QSessionManager*>();
            if (manager)
                emit qApp->commitDataRequest(*manager);
            say(manager ? "committed" : "no session manager");
            for (;;)
                ::pause();
        }
    }

    static MainWindow* mainWindow()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<MainWindow*>(widget))
                return window;
        return nullptr;
    }

    static QWidget* onboardingWindow()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->windowTitle() == QLatin1String("Welcome to Quillet"))
                return widget;
        return nullptr;
    }

    static void reportAppearance()
    {
        const auto colour = [](const QWidget* widget) {
            return widget ? widget->palette().color(QPalette::Window).name() : QStringLiteral("none");
        };
        MainWindow* window = mainWindow();
        const QString line
            = QStringLiteral("appearance window=%1 menubar=%2 onboarding=%3")
                  .arg(colour(window), colour(window ? window->menuBar() : nullptr), colour(onboardingWindow()));
        say(qPrintable(line));
    }

    static void typeNotes(const QString& text)
    {
        MainWindow* window = mainWindow();
        Meeting* newest = nullptr;
        if (window) {
            for (const MeetingListModel* meetings : window->findChildren<MeetingListModel*>())
                if (meetings->rowCount() > 0 && !newest)
                    newest = meetings->meetingAt(0);
        }
        if (!newest) {
            say("no meeting to type into");
            return;
        }
        window->content().setSelection(SidebarItem::meeting(newest));
        // The page may come a turn later; the typing itself then runs without a break.
        NotesEditor* notes = nullptr;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                for (NotesEditor* editor : window->content().findChildren<NotesEditor*>())
                    if (editor->isVisible())
                        notes = editor;
                return notes != nullptr;
            },
            30000));
        if (!notes) {
            say("no notes field");
            return;
        }
        notes->setFocus();
        notes->moveCursor(QTextCursor::End);
        QTest::keyClicks(notes, text);
        say("typed");
    }

    static void say(const char* line)
    {
        std::printf("%s\n", line);
        std::fflush(stdout);
    }

    QSocketNotifier m_commands;
    QByteArray m_pending;
};

void installDialogProbe()
{
    QCoreApplication::instance()->installEventFilter(new DialogProbe(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installDialogProbe)

int main(int argc, char* argv[])
{
    InMemorySecretStore secrets;
    RecordingUrlOpener browser;
    RecordingCuePlayer cues;
    std::unique_ptr<InMemoryNotificationServer> notifications;
    // The desktop's calendar store stays out of the shared test bus: an empty one in memory.
    std::unique_ptr<FakeCalendarStore> calendars;
    RecordingSettingsOpener desktopSettings;
    return QuilletApp::run(argc, argv, [&] {
        notifications = std::make_unique<InMemoryNotificationServer>();
        calendars = std::make_unique<FakeCalendarStore>();
        const QUrl closed(QStringLiteral("http://127.0.0.1:9"));
        AppServices::Config config;
        config.endpoints = { closed, closed, closed };
        config.updateSite = closed;
        config.google = { QString(), QString(), closed, closed, closed, closed };
        config.secretStore = &secrets;
        config.urlOpener = &browser;
        config.cuePlayer = &cues;
        config.notificationServer = notifications.get();
        config.calendarStore = calendars.get();
        config.desktopSettings = &desktopSettings;
        config.capture = qEnvironmentVariableIsSet("QUILLET_TEST_CAPTURE");
        const QByteArray providerKey = qgetenv("QUILLET_TEST_PROVIDER_KEY");
        if (!providerKey.isEmpty())
            secrets.write(Keychain::kService, AccountService::kByoKeyAccount, providerKey);
        return config;
    });
}
