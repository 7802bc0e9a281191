#include "app/QuilletApp.h"

#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "platform/UrlRouter.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>

namespace QuilletApp {

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
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, &QCoreApplication::quit);

    // A second start with a "quillet:" link (the e-mail sign-in, the provider's redirect) or
    // Google's redirect hands the link to the running instance and ends.
    const AppServices::Config config = makeConfig();
    const QStringList redirectSchemes = AppServices::redirectSchemes(config);
    const std::optional<QUrl> launchUrl
        = UrlRouter::urlFromArguments(QApplication::arguments().mid(1), redirectSchemes);
    if (launchUrl && UrlRouter::forwardToRunningInstance(*launchUrl, redirectSchemes))
        return EXIT_SUCCESS;

    QString error;
    const std::unique_ptr<AppServices> services = AppServices::open(config, &error);
    if (!services) {
        // Nothing works without the store; stop before any window shows.
        Log::write(QStringLiteral("Failed to open Quillet store: ") + error);
        return EXIT_FAILURE;
    }
    // Listen before the slow launch work, so a link opened meanwhile is not a second instance.
    services->router().listen();

    Log::line("[Quillet] App launched");

    // The calendars are read again each time the application becomes active.
    CalendarService& calendar = services->calendar();
    QObject::connect(
        &app, &QGuiApplication::applicationStateChanged, &calendar, [&calendar](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                calendar.applicationBecameActive();
        });

    MainWindow window(*services);
    window.show();

    // Launch work that needs the network or touches every meeting runs once the window is up.
    QTimer::singleShot(0, &window, [&] {
        services->launch();
        if (launchUrl)
            services->router().route(*launchUrl);
    });

    return QApplication::exec();
}

} // namespace QuilletApp
