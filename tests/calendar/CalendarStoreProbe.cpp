// Runs the calendar service over the desktop calendar store on the bus it is given, and prints
// what it publishes: a line when it first finds no calendars (how long that took, and the
// longest stall of the main thread meanwhile), then, once the store reports a change and the
// application became active again, the calendars it lists. With "quit-when-unreachable" it
// quits right after the first line instead. The tests run it on buses where the store is missing
// or hangs.
#include "calendar/CalendarService.h"
#include "platform/Clock.h"
#include "platform/EdsCalendarStore.h"
#include "platform/Settings.h"
#include "support/RecordingSettingsOpener.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::chrono::milliseconds limit(QCoreApplication::arguments().value(1).toInt());
    const bool quitWhenUnreachable = QCoreApplication::arguments().value(2) == QLatin1String("quit-when-unreachable");
    QTemporaryDir dir;
    Settings settings(dir.filePath(QStringLiteral("settings.ini")));
    EdsCalendarStore store(EdsCalendarStore::Limits { limit, limit, std::chrono::milliseconds(100) });
    RecordingSettingsOpener opener;

    QElapsedTimer elapsed;
    elapsed.start();
    qint64 lastTick = 0;
    qint64 longestStall = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, elapsed.elapsed() - lastTick - 5);
        lastTick = elapsed.elapsed();
    });
    tick.start(5);

    CalendarService service(store, settings, Clock::system(), opener);
    bool reported = false;
    QObject::connect(&service, &CalendarService::authorizationChanged, [&] {
        if (reported || service.authorization() != CalendarService::Authorization::NoAccounts)
            return;
        reported = true;
        std::printf("noAccounts after=%lld stall=%lld\n", elapsed.elapsed(), longestStall);
        std::fflush(stdout);
        if (quitWhenUnreachable)
            app.quit();
    });
    QObject::connect(&store, &CalendarStore::changed, [&] {
        if (reported)
            service.applicationBecameActive();
    });
    QObject::connect(&service, &CalendarService::calendarsChanged, [&] {
        QStringList titles;
        for (const CalendarService::CalendarInfo& calendar : service.calendars())
            titles.append(calendar.title);
        std::printf("%s calendars=%s\n", reported ? "after change" : "at once", qPrintable(titles.join(',')));
        std::fflush(stdout);
        app.quit();
    });
    service.start();
    QTimer::singleShot(110'000, &app, [&] { app.exit(1); });
    return app.exec();
}
