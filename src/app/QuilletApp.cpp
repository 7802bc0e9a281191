#include "app/QuilletApp.h"

#include "app/AppDelegate.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "platform/UrlRouter.h"
#include "ui/ThemeController.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace QuilletApp {

namespace {

// Writes to stderr, once, when the home page has first been painted, with the reading of the
// monotonic clock, so that a benchmark can time a start from exec. Installed only when
// QUILLET_REPORT_FIRST_PAINT is set.
class FirstPaintReporter final : public QObject
{
public:
    // The page itself paints nothing; what it holds does.
    static bool onHomePage(QObject* object)
    {
        for (; object; object = object->parent()) {
            if (object->inherits("HomeView"))
                return true;
        }
        return false;
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && onHomePage(watched)) {
            qApp->removeEventFilter(this);
            // Queued: the line is written once the whole window has been painted and shown.
            QMetaObject::invokeMethod(
                this,
                [] {
                    timespec now {};
                    clock_gettime(CLOCK_MONOTONIC, &now);
                    std::fprintf(stderr, "First paint of the home page at %lld us\n",
                        static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
                    std::fflush(stderr);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

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
        // Nothing works without the store; stop before any window shows.
        Log::write(QStringLiteral("Failed to open Quillet store: ") + error);
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
    FirstPaintReporter firstPaint;
    if (qEnvironmentVariableIsSet("QUILLET_REPORT_FIRST_PAINT"))
        app.installEventFilter(&firstPaint);
    services->launch();
    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();

    if (launchUrl)
        QTimer::singleShot(0, &delegate, [&] { services->router().route(*launchUrl); });

    return QApplication::exec();
}

} // namespace QuilletApp
