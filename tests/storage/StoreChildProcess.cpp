// A separate process for the store tests: what survives when a process is killed right after
// a save.
//
//   StoreChildProcess save FILE     saves a meeting titled "kept", then changes the title
//                                   without saving, prints "saved" and waits to be killed

#include "app/QuilletStore.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("save")) {
        QString error;
        auto context = QuilletStore::open(args.at(2), &error);
        if (!context) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
        auto* meeting = new Meeting(QStringLiteral("kept"), QDateTime::currentDateTimeUtc());
        context->insert(meeting);
        if (!context->save(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 3;
        }
        meeting->setTitle(QStringLiteral("never saved"));
        std::printf("saved\n");
        std::fflush(stdout);
        return app.exec();
    }
    return 64;
}
