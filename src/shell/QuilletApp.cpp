#include "shell/QuilletApp.h"

#include "app/AppQuit.h"
#include "calendar/CalendarService.h"
#include "platform/ExitGuard.h"
#include "platform/InstanceLock.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/TerminationSignals.h"
#include "platform/UrlRouter.h"
#include "platform/portal/DesktopAppearance.h"
#include "shell/AppDelegate.h"
#include "shell/StoreClaim.h"
#include "ui/design/AccessibleTextField.h"
#include "ui/design/ThemeController.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
    // Before any widget: a text field read before keeps Qt's own reading, which can freeze.
    AccessibleTextField::install();

    // One process per store, which it holds locked until it ends: a second would record into
    // the same store and archive beside the first. A later start hands over to the running
    // instance and ends, without opening the store: its "quillet:" link (the e-mail sign-in,
    // the provider's redirect) or Google's redirect, or else a request for the main window.
    const AppServices::Config config = makeConfig();
    const QStringList redirectSchemes = AppServices::redirectSchemes(config);
    const QStringList arguments = QApplication::arguments().mid(1);
    InstanceLock lock(config.storeFile);
    switch (StoreClaim::claim(lock, arguments, redirectSchemes, config.storeFile)) {
    case StoreClaim::Outcome::Taken:
        break;
    case StoreClaim::Outcome::HandedOver:
        return EXIT_SUCCESS;
    case StoreClaim::Outcome::Refused:
    case StoreClaim::Outcome::GaveUp:
        return EXIT_FAILURE;
    case StoreClaim::Outcome::Unavailable:
        // Opening the store beside a process that could not be told apart from this one would
        // make two writers of it.
        Log::write(QStringLiteral("Failed to open Quillet store: ") + lock.errorString());
        showStoreFailure(config.storeFile, lock.errorString());
        return EXIT_FAILURE;
    }
    const std::optional<QUrl> launchUrl = UrlRouter::urlFromArguments(arguments, redirectSchemes);

    Result<std::unique_ptr<AppServices>, StoreError> opened = AppServices::open(config);
    if (!opened.ok()) {
        // Nothing works without the store. Started from the desktop's menu, a line on stderr
        // is never seen: say it in a window, and leave the file as it is for the user to save.
        // A later start meanwhile finds the store free and says the same.
        lock.release();
        Log::write(QStringLiteral("Failed to open Quillet store: ") + opened.error().message);
        showStoreFailure(config.storeFile, opened.error().message);
        return EXIT_FAILURE;
    }
    const std::unique_ptr<AppServices> services = std::move(opened).value();

    // The quit asked for (the menus, Ctrl+Q, and SIGTERM, SIGINT, SIGHUP, SIGQUIT) saves first,
    // then ends the event loop, so that everything below is destroyed in order and the store is
    // closed. exit(), not quit(): quit() asks every window to close first, and the main window
    // never closes.
    AppQuit& quit = services->quit();
    QObject::connect(&quit, &AppQuit::finished, &app, [] { QCoreApplication::exit(0); });
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &quit, &AppQuit::request);
    // The session manager's save before a logout: what follows may be a kill.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&services] {
        Log::line("[Quillet] Saving for the session's end");
        services->saveBeforeEnd(false);
    });
    // The display going away ends the process in Qt's own exit(1), past every destructor.
    const ExitGuard exitGuard([&services] {
        Log::line("[Quillet] Saving before the process ends");
        services->saveBeforeEnd(true);
    });

    // Listen before the slow launch work, so that a later start need not wait for it. The name
    // is the store file's own, so that a start that reaches it by another path finds it too;
    // where another program already listens there, a name of this process's own.
    QString serverName = UrlRouter::storeServerName(lock.storeKey());
    bool listening = services->router().listen(serverName);
    if (!listening) {
        serverName += QLatin1Char('.') + QString::number(QCoreApplication::applicationPid());
        listening = services->router().listen(serverName);
    }
    if (listening)
        lock.publish(serverName);

    // The appearance applies to every window, so it comes before the first.
    PortalAppearance desktopAppearance;
    ThemeController theme(services->settings(), &desktopAppearance);
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
