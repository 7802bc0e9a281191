// Runs the calendar service over the desktop calendar store on the bus it is given, and prints
// what it publishes: a line when it first finds no calendars (how long that took, and the
// longest stall of the main thread meanwhile), then, once the store reports a change and the
// application became active again, the calendars it lists. With "quit-when-unreachable" it
// quits right after the first line instead; with "replace-when-unreachable" it lets go of the
// store and the service right after the first line, prints "replaced", and goes on with fresh
// ones, asking them every second until they list calendars. The tests run it on buses where the
// store is missing or hangs.
#include "calendar/CalendarService.h"
#include "platform/Clock.h"
#include "platform/calendar/EdsCalendarStore.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::chrono::milliseconds limit(QCoreApplication::arguments().value(1).toInt());
    const QString mode = QCoreApplication::arguments().value(2);
    const bool quitWhenUnreachable = mode == QLatin1String("quit-when-unreachable");
    const bool replaceWhenUnreachable = mode == QLatin1String("replace-when-unreachable");
    QTemporaryDir dir;
    Settings settings(dir.filePath(QStringLiteral("settings.ini")));
    const EdsCalendarStore::Limits limits { limit, limit, std::chrono::milliseconds(100) };
    auto store = std::make_unique<EdsCalendarStore>(limits);

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

    std::unique_ptr<CalendarService> service;
    bool reported = false;
    QTimer ask;
    const auto printCalendars = [&] {
        QStringList titles;
        for (const CalendarService::CalendarInfo& calendar : service->calendars())
            titles.append(calendar.title);
        if (replaceWhenUnreachable && titles.isEmpty())
            return;
        std::printf("%s calendars=%s\n", reported ? "after change" : "at once", qPrintable(titles.join(',')));
        std::fflush(stdout);
        app.quit();
    };
    std::function<void()> reportUnreachable;
    const auto begin = [&] {
        service = std::make_unique<CalendarService>(*store, settings, Clock::system());
        QObject::connect(store.get(), &CalendarStore::changed, service.get(), [&] {
            if (reported)
                service->applicationBecameActive();
        });
        QObject::connect(service.get(), &CalendarService::calendarsChanged, &app, printCalendars);
        QObject::connect(service.get(), &CalendarService::authorizationChanged, &app, reportUnreachable);
        service->start();
    };
    const auto replace = [&] {
        service.reset();
        store.reset();
        std::printf("replaced\n");
        std::fflush(stdout);
        store = std::make_unique<EdsCalendarStore>(limits);
        begin();
        QObject::connect(&ask, &QTimer::timeout, service.get(), [&] { service->applicationBecameActive(); });
        ask.start(1000);
    };
    reportUnreachable = [&] {
        if (reported || service->authorization() != CalendarService::Authorization::NoAccounts)
            return;
        reported = true;
        std::printf("noAccounts after=%lld stall=%lld\n", elapsed.elapsed(), longestStall);
        std::fflush(stdout);
        if (quitWhenUnreachable)
            app.quit();
        else if (replaceWhenUnreachable)
            QTimer::singleShot(0, &app, replace);
    };
    begin();
    QTimer::singleShot(110'000, &app, [&] { app.exit(1); });
    return app.exec();
}
