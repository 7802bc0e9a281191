#include "shell/QuilletApp.h"

#include "calendar/CalendarService.h"
#include "platform/InstanceLock.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/TerminationSignals.h"
#include "platform/UrlRouter.h"
#include "platform/portal/DesktopAppearance.h"
#include "shell/AppDelegate.h"
#include "ui/design/ThemeController.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QThread>
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

    // SIGTERM and SIGINT quit through the event loop, so that everything below is destroyed
    // in order and the store is closed.
    TerminationSignals terminationSignals;
    // exit(), not quit(): quit() asks every window to close first, and the main window never
    // closes.
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, [] { QCoreApplication::exit(0); });

    // One process per store, which it holds locked until it ends: a second would record into
    // the same store and archive beside the first. A later start hands over to the running
    // instance and ends, without opening the store: its "quillet:" link (the e-mail sign-in,
    // the provider's redirect) or Google's redirect, or else a request for the main window. It
    // waits as long as the running instance takes to answer, or until it is gone.
    const AppServices::Config config = makeConfig();
    const QStringList redirectSchemes = AppServices::redirectSchemes(config);
    const QStringList arguments = QApplication::arguments().mid(1);
    InstanceLock lock(config.storeFile);
    for (bool saidSo = false;;) {
        const InstanceLock::Outcome outcome = lock.tryTake();
        if (outcome == InstanceLock::Outcome::Taken)
            break;
        if (outcome == InstanceLock::Outcome::Unavailable) {
            // Then the store cannot be opened either, which says why.
            Log::line("[Quillet] Could not lock the store: %@", lock.errorString());
            break;
        }
        // Nothing published yet: the running instance is still opening the store.
        const QString serverName = lock.publishedServerName();
        if (!serverName.isEmpty()) {
            switch (UrlRouter::handOverToRunningInstance(arguments, redirectSchemes, serverName)) {
            case UrlRouter::HandOver::Accepted:
                return EXIT_SUCCESS;
            case UrlRouter::HandOver::Refused:
                Log::line("[Quillet] The running instance refused the link");
                return EXIT_FAILURE;
            case UrlRouter::HandOver::NoAnswer:
                break;
            }
        }
        if (!saidSo) {
            Log::line("[Quillet] Waiting for the running instance");
            saidSo = true;
        }
        QThread::msleep(200);
    }
    const std::optional<QUrl> launchUrl = UrlRouter::urlFromArguments(arguments, redirectSchemes);

    Result<std::unique_ptr<AppServices>, StoreError> opened = AppServices::open(config);
    if (!opened.ok()) {
        // Nothing works without the store. Started from the desktop's menu, a line on stderr
        // is never seen: say it in a window, and leave the file as it is for the user to save.
        Log::write(QStringLiteral("Failed to open Quillet store: ") + opened.error().message);
        showStoreFailure(config.storeFile, opened.error().message);
        return EXIT_FAILURE;
    }
    const std::unique_ptr<AppServices> services = std::move(opened).value();
    // Listen before the slow launch work, so that a later start need not wait for it. Where
    // another program already listens (one on another store), a name of this process's own.
    QString serverName = UrlRouter::defaultServerName();
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
