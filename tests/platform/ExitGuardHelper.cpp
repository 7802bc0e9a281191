// A process that ends through exit() in the way its argument names, with an ExitGuard that
// writes "saved" on stdout when it is called:
//   main-thread   exit() from the event loop of the thread that made the guard (Qt's X11
//                 connection does this when the display goes away)
//   other-thread  exit() from another thread
//   after-guard   exit() once the guard is gone (after the normal quit)

#include "platform/ExitGuard.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray how = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    std::optional<ExitGuard> guard;
    guard.emplace([] {
        std::printf("saved\n");
        std::fflush(stdout);
    });
    if (how == "after-guard") {
        guard.reset();
        std::exit(1);
    }
    QTimer::singleShot(0, &app, [how] {
        if (how == "other-thread")
            std::thread([] { std::exit(1); }).join();
        std::exit(1);
    });
    return QCoreApplication::exec();
}
