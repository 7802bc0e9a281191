// A separate process for the store and archive tests: what survives when a process is killed
// in the middle of its work.
//
//   StoreChildProcess save FILE     saves a meeting titled "kept", then changes the title
//                                   without saving, prints "saved" and waits to be killed
//   StoreChildProcess delete FILE   deletes every meeting of the store and saves, without
//                                   touching the archive, prints "deleted" and waits to be killed
//   StoreChildProcess rename ROOT   renames one meeting of the archive in ROOT over and over,
//                                   printing "round N" after each, until it is killed

#include "archive/ArchiveWriter.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/QuilletStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

namespace {

std::unique_ptr<ModelContext> openStore(const QString& path)
{
    auto opened = QuilletStore::open(path);
    if (!opened.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().message));
        return nullptr;
    }
    return std::move(opened).value();
}

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString command = args.value(1);
    if (args.size() < 3)
        return 64;
    if (command == QLatin1String("save")) {
        auto context = openStore(args.at(2));
        if (!context)
            return 2;
        auto* meeting = new Meeting(QStringLiteral("kept"), QDateTime::currentDateTimeUtc());
        context->insert(meeting);
        if (const Result<void, StoreError> saved = context->save(); !saved.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(saved.error().message));
            return 3;
        }
        meeting->setTitle(QStringLiteral("never saved"));
        say("saved");
        return app.exec();
    }
    if (command == QLatin1String("delete")) {
        auto context = openStore(args.at(2));
        if (!context)
            return 2;
        const QList<Meeting*> meetings = context->fetchMeetings();
        for (Meeting* meeting : meetings)
            context->remove(meeting);
        if (const Result<void, StoreError> saved = context->save(); !saved.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(saved.error().message));
            return 3;
        }
        say("deleted");
        return app.exec();
    }
    if (command == QLatin1String("rename")) {
        ArchiveWriter writer(args.at(2));
        MeetingSnapshot moving;
        moving.id = QUuid(QStringLiteral("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));
        moving.date = QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);
        for (int round = 0;; ++round) {
            moving.title = QStringLiteral("Moving %1").arg(round % 3);
            if (const auto error = writer.archive(moving)) {
                std::fprintf(stderr, "%s\n", qPrintable(*error));
                return 4;
            }
            std::printf("round %d\n", round);
            std::fflush(stdout);
        }
    }
    return 64;
}
