// The application as the tests run it in a process of its own: the same life as the program
// (QuilletApp::run, window included), with its services on the folders of the environment the
// test gives it, and every outside server at a closed port on 127.0.0.1.
//
// What a person would see and do, for tests that cannot look at the screen: each message box
// the application shows is written to stdout as one line "dialog: <its text>", and a line
// "close" on stdin closes the dialog in front, as its window's close button would.

#include "shell/QuilletApp.h"
#include "support/FakeCalendarStore.h"
#include "support/InMemoryNotificationServer.h"
#include "support/InMemorySecretStore.h"
#include "support/RecordingCuePlayer.h"
#include "support/RecordingSettingsOpener.h"
#include "support/RecordingUrlOpener.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
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
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            m_commands.setEnabled(false);
            return;
        }
        if (QByteArray(buffer, int(count)).contains("close")) {
            if (QWidget* dialog = QApplication::activeModalWidget())
                dialog->close();
        }
    }

    QSocketNotifier m_commands;
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
        config.capture = false;
        return config;
    });
}
