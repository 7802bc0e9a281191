#include "app/QuilletApp.h"

#include "app/AppDelegate.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "platform/UrlRouter.h"
#include "ui/ThemeController.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

namespace QuilletApp {

namespace {

// Returns when the user has closed the window.
void showStoreFailure(const QString& storeFile, const QString& reason)
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Quillet"));
    box.setIcon(QMessageBox::Critical);
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("Quillet can't open its data file, so it can't start.\n\n"
                               "The file is:\n%1\n\nThe reason given: %2.\n\n"
                               "The file has been left as it is; nothing in it was changed or deleted.")
                    .arg(QDir::toNativeSeparators(storeFile), reason));
    box.setStandardButtons(QMessageBox::Close);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

} // namespace

int run(int argc, char* argv[], const std::function<AppServices::Config()>& makeConfig)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // Closing the main window leaves the application running.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet"));

    // SIGTERM and SIGINT quit through the event loop, so that everything below is destroyed
    // in order and the store is closed.
    TerminationSignals terminationSignals;
    // exit(), not quit(): quit() asks every window to close first, and the main window never
    // closes.
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, [] { QCoreApplication::exit(0); });

    // A second start hands over to the running instance and ends: its "quillet:" link (the
    // e-mail sign-in, the provider's redirect) or Google's redirect, or else a request for the
    // main window. A second process would otherwise record into the same store beside the first.
    const AppServices::Config config = makeConfig();
    const QStringList redirectSchemes = AppServices::redirectSchemes(config);
    const QStringList arguments = QApplication::arguments().mid(1);
    if (UrlRouter::handOverToRunningInstance(arguments, redirectSchemes))
        return EXIT_SUCCESS;
    const std::optional<QUrl> launchUrl = UrlRouter::urlFromArguments(arguments, redirectSchemes);

    QString error;
    const std::unique_ptr<AppServices> services = AppServices::open(config, &error);
    if (!services) {
        // Nothing works without the store. Started from the desktop's menu, a line on stderr
        // is never seen: say it in a window, and leave the file as it is for the user to save.
        Log::write(QStringLiteral("Failed to open Quillet store: ") + error);
        showStoreFailure(config.storeFile, error);
        return EXIT_FAILURE;
    }
    // Listen before the slow launch work, so a link opened meanwhile is not a second instance.
    services->router().listen();

    // The appearance applies to every window, so it comes before the first.
    ThemeController theme(services->settings());
    // The calendars are read again each time the application becomes active.
    CalendarService& calendar = services->calendar();
    QObject::connect(
        &app, &QGuiApplication::applicationStateChanged, &calendar, [&calendar](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                calendar.applicationBecameActive();
        });
    services->launch();
    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();

    if (launchUrl)
        QTimer::singleShot(0, &delegate, [&] { services->router().route(*launchUrl); });

    return QApplication::exec();
}

} // namespace QuilletApp
