// Prints how fast the store is on a large file: 10,000 meetings with 50 segments each.
//
//   bench_storage [--meetings N] [--segments-per-meeting M] [--file PATH]
//
// The file is filled through a separate connection (fast bulk insert), then timed through the
// model context the application uses.

#include "BenchFigures.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>

namespace {

QString sentence(QRandomGenerator& random)
{
    static const QStringList words = { QStringLiteral("budget"), QStringLiteral("we"), QStringLiteral("should"),
        QStringLiteral("ship"), QStringLiteral("the"), QStringLiteral("release"), QStringLiteral("next"),
        QStringLiteral("week"), QStringLiteral("and"), QStringLiteral("review"), QStringLiteral("numbers"),
        QStringLiteral("with"), QStringLiteral("finance"), QStringLiteral("first"), QStringLiteral("okay") };
    QString text;
    while (text.size() < 72)
        text += words.at(random.bounded(int(words.size()))) + QLatin1Char(' ');
    return text.trimmed() + QLatin1Char('.');
}

bool fill(const QString& path, int meetings, int segmentsPerMeeting)
{
    const QString name = QStringLiteral("bench-fill");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open() && db.transaction();
        QSqlQuery meeting(db);
        QSqlQuery segment(db);
        ok = ok
            && meeting.prepare(QStringLiteral(
                "INSERT INTO Meeting (id, title, userNotes, date, duration, source) VALUES (?, ?, ?, ?, ?, ?)"))
            && segment.prepare(QStringLiteral("INSERT INTO TranscriptSegment (id, text, speakerRaw, timestamp, "
                                              "isFinal, meeting) VALUES (?, ?, ?, ?, 1, ?)"));
        QRandomGenerator random(42);
        const qint64 start = QDateTime(QDate(2023, 1, 1), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
        for (int m = 0; ok && m < meetings; ++m) {
            meeting.bindValue(0, QUuid::createUuid().toString(QUuid::WithoutBraces));
            meeting.bindValue(1, QStringLiteral("Meeting %1").arg(m));
            meeting.bindValue(2, QString(QLatin1String("")));
            meeting.bindValue(3, start + qint64(random.bounded(3 * 365 * 24)) * 3600 * 1000);
            meeting.bindValue(4, 1800.0);
            meeting.bindValue(5, QStringLiteral("quick-note"));
            ok = meeting.exec();
            const qint64 meetingKey = meeting.lastInsertId().toLongLong();
            for (int s = 0; ok && s < segmentsPerMeeting; ++s) {
                segment.bindValue(0, QUuid::createUuid().toString(QUuid::WithoutBraces));
                segment.bindValue(1, sentence(random));
                segment.bindValue(2, s % 2 ? QStringLiteral("Them") : QStringLiteral("Me"));
                segment.bindValue(3, s * 6.5);
                segment.bindValue(4, meetingKey);
                ok = segment.exec();
            }
        }
        if (!ok)
            std::fprintf(stderr, "fill failed: %s %s\n", qPrintable(meeting.lastError().text()),
                qPrintable(segment.lastError().text()));
        ok = ok && db.commit();
        meeting.finish();
        segment.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("meetings"), QStringLiteral("Meetings in the store."), QStringLiteral("n"),
        QStringLiteral("10000") });
    parser.addOption({ QStringLiteral("segments-per-meeting"), QStringLiteral("Segments per meeting."),
        QStringLiteral("n"), QStringLiteral("50") });
    parser.addOption({ QStringLiteral("file"), QStringLiteral("Store file to create (default: a temporary one)."),
        QStringLiteral("path") });
    parser.process(app);
    const int meetings = parser.value(QStringLiteral("meetings")).toInt();
    const int perMeeting = parser.value(QStringLiteral("segments-per-meeting")).toInt();

    QTemporaryDir dir;
    const QString path = parser.isSet(QStringLiteral("file")) ? parser.value(QStringLiteral("file"))
                                                              : dir.filePath(QStringLiteral("Quillet.store"));
    {
        const auto created = ModelContext::open(path);
        if (!created.ok()) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(created.error().message));
            return 1;
        }
    }
    QElapsedTimer fillTimer;
    fillTimer.start();
    if (!fill(path, meetings, perMeeting))
        return 1;
    std::printf("store: %d meetings, %d segments, %.1f MB, filled in %.1f s\n", meetings, meetings * perMeeting,
        double(QFileInfo(path).size()) / 1e6, double(fillTimer.elapsed()) / 1000);

    // Open and list: what the application does at launch before the window can show meetings.
    QList<double> openSamples;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        auto opened = ModelContext::open(path);
        if (!opened.ok()) {
            std::fprintf(stderr, "open failed: %s\n", qPrintable(opened.error().message));
            return 1;
        }
        const std::unique_ptr<ModelContext> context = std::move(opened).value();
        MeetingListModel list(*context);
        if (list.rowCount() != meetings) {
            std::fprintf(stderr, "open failed: %d meetings listed\n", list.rowCount());
            return 1;
        }
        openSamples.append(msSince(timer));
    }
    const Figures open = summarise(openSamples);
    std::printf("open + meeting list ready:     median %7.2f ms  p95 %7.2f ms  min %7.2f ms  (target < 150 ms)\n",
        open.median, open.p95, open.min);

    auto opened = ModelContext::open(path);
    if (!opened.ok()) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(opened.error().message));
        return 1;
    }
    const std::unique_ptr<ModelContext> context = std::move(opened).value();
    MeetingListModel list(*context);

    // One meeting's transcript, read from the file on first access.
    QList<double> transcriptSamples;
    for (int i = 0; i < 200; ++i) {
        Meeting* meeting = list.meetingAt((i * 37) % meetings);
        QElapsedTimer timer;
        timer.start();
        const QString transcript = meeting->formattedTranscript();
        transcriptSamples.append(msSince(timer));
        if (transcript.isEmpty() && perMeeting > 0)
            return 1;
    }
    const Figures transcript = summarise(transcriptSamples);
    std::printf("fetch one meeting's transcript: median %7.3f ms  p95 %7.3f ms  min %7.3f ms\n", transcript.median,
        transcript.p95, transcript.min);

    // One segment appended and saved, as the transcript intake does during a recording.
    Meeting* recording = list.meetingAt(0);
    recording->segments();
    QList<double> saveSamples;
    for (int i = 0; i < 500; ++i) {
        QElapsedTimer timer;
        timer.start();
        recording->appendSegment(
            new TranscriptSegment(QStringLiteral("Appended turn number %1 of the benchmark recording.").arg(i),
                i % 2 ? Speaker::them() : Speaker::me(), 10000.0 + i));
        if (const Result<void, StoreError> saved = context->save(); !saved.ok()) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(saved.error().message));
            return 1;
        }
        saveSamples.append(msSince(timer));
    }
    const Figures save = summarise(saveSamples);
    std::printf("append one segment + save:     median %7.3f ms  p95 %7.3f ms  min %7.3f ms  (target < 2 ms median)\n",
        save.median, save.p95, save.min);
    return 0;
}
