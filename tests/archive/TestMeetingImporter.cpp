#include "archive/ArchiveFileParser.h"
#include "archive/ArchiveQueue.h"
#include "archive/ArchiveRemovals.h"
#include "archive/MeetingArchiver.h"
#include "archive/MeetingImporter.h"
#include "platform/Log.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/QuilletStore.h"
#include "storage/TranscriptSegment.h"
#include "support/ArchiveFolder.h"
#include "support/FakeClock.h"
#include "support/FakeScheduler.h"
#include "support/TestMain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <memory>

namespace {

const QString kId = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file below `folder` with its bytes, to prove the import changed nothing.
QMap<QString, QByteArray> snapshotOfFolder(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        files.insert(it.filePath(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

QByteArray fileText(const QString& frontMatter, const QString& body = QString())
{
    return QStringLiteral("---\n%1---\n%2").arg(frontMatter, body).toUtf8();
}

QString archiveFolder()
{
    return QDir::homePath() + QStringLiteral("/QuilletNotes");
}

struct TurnValue
{
    QString speakerRaw;
    double timestamp;
    QString text;
    bool operator==(const TurnValue&) const = default;
};

QList<TurnValue> turnsOf(const Meeting& meeting)
{
    QList<TurnValue> turns;
    for (const TranscriptSegment* s : meeting.sortedSegments())
        turns.append({ s->speakerRaw(), s->timestamp(), s->text() });
    return turns;
}

// "role: text" per chat message, oldest first.
QStringList chatOf(const Meeting& meeting)
{
    QStringList chat;
    for (const ChatMessage* message : meeting.sortedChatMessages())
        chat.append(message->roleRaw() + QStringLiteral(": ") + message->text());
    return chat;
}

char* toString(const TurnValue& t)
{
    return qstrdup(qPrintable(QStringLiteral("(%1, %2, %3)").arg(t.speakerRaw).arg(t.timestamp).arg(t.text)));
}

} // namespace

class TestMeetingImporter final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_storeDir;
    FakeClock m_clock; // dates the meetings whose file carries no readable date

    std::unique_ptr<ModelContext> openStore(const QString& name = QStringLiteral("Quillet.store"))
    {
        auto opened = QuilletStore::open(m_storeDir->filePath(name));
        if (!opened.ok()) {
            qWarning() << "store:" << opened.error().message;
            return nullptr;
        }
        return std::move(opened).value();
    }

private slots:
    void init()
    {
        m_storeDir = std::make_unique<QTemporaryDir>();
        QDir(archiveFolder()).removeRecursively();
    }

    void importsArchiveOnce()
    {
        const QString golden = QStringLiteral(QUILLET_TEST_DATA_DIR "/archive/golden");
        QDirIterator it(golden, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString from = it.next();
            QVERIFY(QDir().mkpath(QFileInfo(archiveFolder() + u'/' + QDir(golden).relativeFilePath(from)).path()));
            QVERIFY(QFile::copy(from, archiveFolder() + u'/' + QDir(golden).relativeFilePath(from)));
        }
        const auto before = snapshotOfFolder(archiveFolder());

        auto context = openStore();
        QVERIFY(context);
        LogCapture log;
        MeetingImporter::runIfNeeded(*context, m_clock);
        QVERIFY(log.contains(QStringLiteral("[Quillet] Recovered 6 meeting(s) from QuilletNotes archive")));
        QCOMPARE(context->meetingCount(), 6);
        QCOMPARE(snapshotOfFolder(archiveFolder()), before);

        const Meeting* cafe = context->meetingById(QUuid::fromString(kId));
        QVERIFY(cafe);
        QCOMPARE(cafe->title(), QStringLiteral("Café — Q3 planning!!"));
        QCOMPARE(cafe->date(), QDateTime(QDate(2026, 3, 14), QTime(2, 5), Qt::UTC));
        QCOMPARE(cafe->duration(), 45 * 60.0);
        QCOMPARE(cafe->source(), QStringLiteral("imported"));
        // The summary ends where the notes begin; they come back as the notes.
        QCOMPARE(cafe->summary(),
            std::optional<QString>(QStringLiteral("**Decisions**\n- Ship the beta on 2 April\n- Hire one designer")));
        QCOMPARE(cafe->userNotes(), QStringLiteral("Call Linh about the budget\n  - and the venue"));
        QCOMPARE(turnsOf(*cafe),
            QList<TurnValue>({ { "Me", 0, "Good morning, everyone." }, { "Them", 4, "Morning! Can you hear me?" } }));

        const Meeting* standup = context->meetingById(QUuid::fromString(u"3F2504E0-4F89-11D3-9A0C-0305E82C3301"));
        QVERIFY(standup);
        QCOMPARE(turnsOf(*standup).size(), 5);
        QCOMPARE(chatOf(*standup), QStringList({ "user: What was decided?", "assistant: Deploy on Friday." }));

        QStringList titles;
        for (const Meeting* m : context->fetchMeetings())
            titles.append(m->title());
        titles.sort();
        QCOMPARE(titles,
            QStringList({ "?!…", "Café — Q3 planning!!", "Họp với anh Đặng về dự án", "Standup \"core\" \\ infra",
                "Untitled", "🚀 Launch review 🎉" }));

        // The store now holds meetings: a second launch imports nothing.
        log.clear();
        auto reopened = openStore();
        MeetingImporter::runIfNeeded(*reopened, m_clock);
        QCOMPARE(reopened->meetingCount(), 6);
        QVERIFY(log.lines().isEmpty());
    }

    // Files a person named, or renamed in the folder, are where the imported meetings go on
    // being written, never again under a name of the writer's; a file the writer named follows
    // its meeting's title as before. Deleting an imported meeting deletes its file, so that no
    // later rebuild brings the meeting back.
    void importedMeetingsKeepTheirFiles()
    {
        const QString folder = m_storeDir->filePath(QStringLiteral("notes"));
        QStringList paths;
        QList<QUuid> ids;
        QJsonObject staleIndex;
        for (int i = 0; i < 40; ++i) {
            ids.append(QUuid::createUuid());
            const QString id = ids.last().toString(QUuid::WithoutBraces).toUpper();
            const QString date = QStringLiteral("2026-12-09T09:%1:00Z").arg(i, 2, 10, QLatin1Char('0'));
            QString frontMatter = QStringLiteral("title: \"Meeting %1\"\ndate: %2\n").arg(i).arg(date);
            switch (i % 4) {
            case 0: // a person's own file, named as they like
                paths.append(QStringLiteral("2026-12-09-0950-m%1.md").arg(i, 2, 10, QLatin1Char('0')));
                frontMatter += QStringLiteral("id: ") + id + u'\n';
                break;
            case 1: // without an identifier: the meeting gets a new one
                paths.append(QStringLiteral("inbox/notes %1.md").arg(i));
                break;
            default: // renamed in the folder; the index still lists the writer's name
                paths.append(QStringLiteral("2026/renamed-%1.md").arg(i));
                frontMatter += QStringLiteral("id: ") + id + u'\n';
                staleIndex.insert(id,
                    QJsonObject { { "title", QStringLiteral("Meeting %1").arg(i) }, { "date", date },
                        { "durationMinutes", 0 }, { "path", QStringLiteral("2026/2026-12-09-09%1-meeting.md").arg(i) },
                        { "hasSummary", false } });
            }
            QVERIFY(writeFile(folder + u'/' + paths.last(),
                fileText(frontMatter, QStringLiteral("\n# Meeting %1\n\n## My Notes\n\nFirst words %1\n").arg(i))));
        }
        QVERIFY(writeFile(folder + QStringLiteral("/index.json"), QJsonDocument(staleIndex).toJson()));

        auto context = openStore();
        QVERIFY(context);
        MarkdownArchiver archiver(folder);
        FakeScheduler scheduler;
        ArchiveQueue queue(*context, archiver, scheduler);
        ArchiveRemovals removals(archiver, *context);
        MeetingImporter::runIfNeeded(*context, m_clock, folder, &archiver);
        QCOMPARE(context->meetingCount(), 40);
        scheduler.advance(ArchiveQueue::kDelay);
        QVERIFY(ArchiveFolder::drain(archiver));

        // An edit of each, and a new title for every other one.
        const QList<Meeting*> meetings = context->fetchMeetings();
        for (Meeting* meeting : meetings) {
            meeting->setUserNotes(meeting->userNotes() + QStringLiteral(", edited"));
            if (meeting->title().back().digitValue() % 2 == 0)
                meeting->setTitle(meeting->title() + QStringLiteral(" renamed"));
        }
        QVERIFY(context->save().ok());
        QVERIFY(ArchiveFolder::drain(archiver));
        QMap<QString, QString> files = ArchiveFolder::markdownFiles(archiver);
        QCOMPARE(QStringList(files.keys()), [&] {
            QStringList sorted = paths;
            sorted.sort();
            return sorted;
        }());
        for (const QString& text : std::as_const(files))
            QVERIFY2(text.contains(QStringLiteral(", edited")), qPrintable(text));

        // A file under the writer's own name still follows its title.
        auto* own = new Meeting(QStringLiteral("Own name"), QDateTime(QDate(2026, 12, 10), QTime(9, 0), Qt::UTC));
        context->insert(own);
        QVERIFY(context->save().ok());
        archiver.archive(MeetingArchiver::Snapshot(*own));
        own->setTitle(QStringLiteral("Own name, retitled"));
        QVERIFY(context->save().ok());
        QVERIFY(ArchiveFolder::drain(archiver));
        files = ArchiveFolder::markdownFiles(archiver);
        QCOMPARE(files.size(), 41);
        QVERIFY(std::any_of(files.keyBegin(), files.keyEnd(),
            [](const QString& path) { return path.endsWith(QLatin1String("-own-name-retitled.md")); }));

        Meeting* deleted = context->meetingById(ids.at(2));
        QVERIFY(deleted);
        QCOMPARE(deleted->title(), QStringLiteral("Meeting 2 renamed"));
        context->remove(deleted);
        QVERIFY(context->save().ok());
        QTRY_VERIFY(!QFile::exists(folder + u'/' + paths.at(2)));
        QVERIFY(ArchiveFolder::drain(archiver));
        QCOMPARE(ArchiveFolder::markdownFiles(archiver).size(), 40);

        auto rebuilt = openStore(QStringLiteral("rebuilt.store"));
        QVERIFY(rebuilt);
        MeetingImporter::runIfNeeded(*rebuilt, m_clock, folder);
        QCOMPARE(rebuilt->meetingCount(), 40);
        for (const Meeting* meeting : rebuilt->fetchMeetings())
            QVERIFY(meeting->title() != QStringLiteral("Meeting 2 renamed"));
    }

    void roundTrip()
    {
        auto source = openStore(QStringLiteral("source.store"));
        QVERIFY(source);
        const auto add = [&](const QString& title, int dayOffset) {
            auto* m = new Meeting(title, QDateTime(QDate(2026, 3, 1), QTime(9, 30, 15), Qt::UTC).addDays(dayOffset));
            source->insert(m);
            return m;
        };
        Meeting* plain = add(QStringLiteral("Plain"), 0);
        plain->setDuration(1234.9);
        plain->setSummary(QStringLiteral("Only a summary."));
        plain->appendSegment(new TranscriptSegment(QStringLiteral("  spaced  "), Speaker::them(), 61.7));
        plain->appendSegment(
            new TranscriptSegment(QStringLiteral("**bold:** text"), Speaker::other(QStringLiteral("Ana")), 2));
        // A heading-like title with no summary must not grow one from its notes.
        Meeting* tricky = add(QStringLiteral("Weekly ## Summary"), 1);
        tricky->setUserNotes(QStringLiteral("see ## Summary and ## Transcript"));
        Meeting* multiline = add(QStringLiteral("Line one\nLine two"), 2);
        multiline->setSummary(QStringLiteral("S"));
        multiline->setUserNotes(QStringLiteral("N"));
        QVERIFY(source->save().ok());

        QList<MeetingArchiver::Snapshot> snapshots;
        for (const Meeting* m : source->fetchMeetings())
            snapshots.append(MeetingArchiver::Snapshot(*m));
        // Written where the import reads, as the application's archive writes.
        MarkdownArchiver archiver(archiveFolder());
        archiver.backfill(snapshots);
        QFuture<void> idle = archiver.idle();
        QTRY_VERIFY_WITH_TIMEOUT(idle.isFinished(), 20000);

        auto target = openStore(QStringLiteral("target.store"));
        MeetingImporter::runIfNeeded(*target, m_clock);
        QCOMPARE(target->meetingCount(), 3);

        const Meeting* p = target->meetingById(plain->id());
        QVERIFY(p);
        QCOMPARE(p->title(), QStringLiteral("Plain"));
        QCOMPARE(p->date(), plain->date());
        QCOMPARE(p->duration(), 1200.0);
        QCOMPARE(p->summary(), std::optional<QString>(QStringLiteral("Only a summary.")));
        QCOMPARE(turnsOf(*p), QList<TurnValue>({ { "Ana", 2, "**bold:** text" }, { "Them", 61, "spaced" } }));

        const Meeting* t = target->meetingById(tricky->id());
        QVERIFY(t);
        QCOMPARE(t->title(), QStringLiteral("Weekly ## Summary"));
        QCOMPARE(t->summary(), std::nullopt);
        QCOMPARE(t->userNotes(), QStringLiteral("see ## Summary and ## Transcript"));

        const Meeting* l = target->meetingById(multiline->id());
        QVERIFY(l);
        QCOMPARE(l->title(), QStringLiteral("Line one Line two"));
        QCOMPARE(l->summary(), std::optional<QString>(QStringLiteral("S")));
        QCOMPARE(l->userNotes(), QStringLiteral("N"));
    }

    // The first file of an identifier, in byte order of the relative paths, wins.
    void duplicateIdsImportOnce()
    {
        const QByteArray sameId = fileText("id: " + kId + "\ntitle: %1\n");
        for (const QString path : { "2026/b.md", "2026/a.md", ".hidden/c.md", "2025/z.md" })
            QVERIFY(writeFile(archiveFolder() + u'/' + path, QByteArray(sameId).replace("%1", path.toUtf8())));
        QVERIFY(
            writeFile(archiveFolder() + QStringLiteral("/2026/other.md"), fileText(QStringLiteral("title: Other\n"))));

        auto context = openStore();
        LogCapture log;
        MeetingImporter::runIfNeeded(*context, m_clock);
        QCOMPARE(context->meetingCount(), 2);
        QCOMPARE(context->meetingById(QUuid::fromString(kId))->title(), QStringLiteral(".hidden/c.md"));
        for (const char* skipped : { "2025/z.md", "2026/a.md", "2026/b.md" })
            QVERIFY(log.contains(QStringLiteral("[Quillet] Skipped archive file with duplicate id: ") + skipped));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Recovered 2 meeting(s) from QuilletNotes archive")));
    }

    void listsOnlyMarkdownFiles()
    {
        QCOMPARE(MeetingImporter::markdownFiles(archiveFolder()), QStringList());
        for (const char* path : { "2026/b.md", "2026/a.md", "2025/c.md", ".hidden/deep/d.md", "2026/e.MD", "2026/.md",
                 "2026/f.md.txt", "top.md" })
            QVERIFY(writeFile(archiveFolder() + u'/' + QLatin1String(path), "x"));
        QVERIFY(QDir().mkpath(archiveFolder() + QStringLiteral("/folder.md")));
        QCOMPARE(MeetingImporter::markdownFiles(archiveFolder()),
            QStringList({ ".hidden/deep/d.md", "2025/c.md", "2026/a.md", "2026/b.md", "top.md" }));
    }

    void badFilesAreSkipped()
    {
        const QString good = fileText(QStringLiteral("id: %1\ntitle: \"Good\"\nduration_minutes: 3\n").arg(kId),
            QStringLiteral("\n## Transcript\n\n[00:01] **Speaker A:** hi\n"));
        QVERIFY(writeFile(archiveFolder() + QStringLiteral("/2026/good.md"), good.toUtf8()));
        QVERIFY(writeFile(
            archiveFolder() + QStringLiteral("/2026/crlf.md"), QByteArray(good.toUtf8()).replace("\n", "\r\n")));
        QVERIFY(writeFile(archiveFolder() + QStringLiteral("/2026/truncated.md"), "---\nid: x\ntitle: \"T"));
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary.append(char((i * 7919) % 256));
        QVERIFY(writeFile(archiveFolder() + QStringLiteral("/2026/binary.md"), binary));
        QVERIFY(writeFile(archiveFolder() + QStringLiteral("/2026/invalid-utf8.md"),
            fileText(QStringLiteral("title: Bad\n")) + "\xC3\x28 \xFF\n"));
        QByteArray huge = fileText(QStringLiteral("title: Huge\n"));
        const QByteArray line = QByteArray(79, 'x') + '\n';
        while (huge.size() < 50 * 1024 * 1024)
            huge += line;
        QVERIFY(writeFile(archiveFolder() + QStringLiteral("/2026/huge.md"), huge));

        auto context = openStore();
        MeetingImporter::runIfNeeded(*context, m_clock);
        QStringList titles;
        for (const Meeting* m : context->fetchMeetings())
            titles.append(m->title());
        titles.sort();
        QCOMPARE(titles, QStringList({ "Good", "Huge" }));
        const Meeting* goodMeeting = context->meetingById(QUuid::fromString(kId));
        QCOMPARE(goodMeeting->duration(), 180.0);
        QCOMPARE(turnsOf(*goodMeeting), QList<TurnValue>({ { "Me", 1, "hi" } }));
    }

    // A file over 64 MB would cost several times its size to read and parse: it is skipped.
    void oversizedFilesAreSkipped_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("imported");
        QTest::newRow("64 MB") << qint64(64) * 1024 * 1024 << true;
        QTest::newRow("one byte more") << qint64(64) * 1024 * 1024 + 1 << false;
    }
    void oversizedFilesAreSkipped()
    {
        QFETCH(qint64, size);
        QFETCH(bool, imported);
        const QString path = archiveFolder() + QStringLiteral("/2026/big.md");
        QVERIFY(writeFile(path, fileText(QStringLiteral("title: Big\n"))));
        QVERIFY(QFile::resize(path, size)); // the rest reads as NUL characters
        QVERIFY(
            writeFile(archiveFolder() + QStringLiteral("/2026/small.md"), fileText(QStringLiteral("title: Small\n"))));

        auto context = openStore();
        LogCapture log;
        MeetingImporter::runIfNeeded(*context, m_clock);
        QCOMPARE(context->meetingCount(), imported ? 2 : 1);
        QCOMPARE(log.contains(QStringLiteral("[Quillet] Skipped archive file over 64 MB: 2026/big.md")), !imported);
    }

    void frontMatter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("parses");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("date");
        QTest::addColumn<double>("duration");
        const QString date = QStringLiteral("2026-03-14T08:30:00Z");
        const QString none;
        const auto rejected = [](const char* name, const QString& text) {
            QTest::newRow(name) << text << false << QString() << QString() << QString() << 0.0;
        };
        const auto row = [](const char* name, const QString& frontMatter, const QString& title, const QString& id,
                             const QString& date, double duration) {
            QTest::newRow(name) << "---\n" + frontMatter + "---\n" << true << title << id << date << duration;
        };
        rejected("CRLF line ends", QStringLiteral("---\r\ntitle: T\r\n---\r\n"));
        rejected("never closed", QStringLiteral("---\ntitle: T\n"));
        QTest::newRow("closing fence is the last line") << "---\n---" << true << "Untitled" << none << none << 0.0;
        row("writer's form", "id: " + kId + "\ntitle: \"a \\\" b \\\\ c\"\ndate: " + date + "\nduration_minutes: 12\n",
            "a \" b \\ c", kId, date, 720);
        row("lower-case id, offset date", "id: " + kId.toLower() + "\ndate: 2026-03-14T09:30:00+01:00\n", "Untitled",
            kId, date, 0);
        row("unquoted title with colon, blanks trimmed", "title:\t a: b \nTitle: ignored\n", "a: b", none, none, 0);
        row("fractional minutes", "duration_minutes: 12.5\n", "Untitled", none, none, 0);
        row("signed minutes", "duration_minutes: +3\n", "Untitled", none, none, 180);
        row("minutes overflow", "duration_minutes: 9223372036854775807\n", "Untitled", none, none, 0);
        row("date without zone", "date: 2026-03-14T08:30:00\n", "Untitled", none, none, 0);
        row("date with fraction", "date: 2026-03-14T08:30:00.250Z\n", "Untitled", none, none, 0);
        row("impossible date", "date: 2026-02-30T08:30:00Z\n", "Untitled", none, none, 0);
    }
    void frontMatter()
    {
        QFETCH(QString, text);
        QFETCH(bool, parses);
        const auto file = ArchiveFileParser::parse(text);
        QCOMPARE(file.has_value(), parses);
        if (!file)
            return;
        QFETCH(QString, title);
        QFETCH(QString, id);
        QFETCH(QString, date);
        QFETCH(double, duration);
        QCOMPARE(file->title, title);
        QCOMPARE(file->id.has_value() ? file->id->toString(QUuid::WithoutBraces).toUpper() : QString(), id);
        QCOMPARE(file->date.has_value() ? file->date->toString(Qt::ISODate) : QString(), date);
        QCOMPARE(file->duration, duration);
    }

    void turnLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("isTurn");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("timestamp");
        QTest::addColumn<QString>("text");
        QTest::newRow("blanks around text")
            << "[05:07] **Speaker B:**   hello  " << true << "Speaker B" << 307.0 << "hello";
        QTest::newRow("over an hour") << "[62:05] **Linh:** x" << true << "Linh" << 3725.0 << "x";
        QTest::newRow("blank inside label kept") << "[00:01] ** Speaker A:** x" << true << " Speaker A" << 1.0 << "x";
        QTest::newRow("label ends at first marker") << "[00:01] **A:** b:** c" << true << "A" << 1.0 << "b:** c";
        QTest::newRow("signs") << "[-1:+5]**A:**x" << true << "A" << -55.0 << "x";
        QTest::newRow("hour field") << "[1:02:03] **A:** x" << false << "" << 0.0 << "";
        QTest::newRow("no asterisks") << "[01:02] A: x" << false << "" << 0.0 << "";
        QTest::newRow("chat line") << "**Q:** what?" << false << "" << 0.0 << "";
        QTest::newRow("minutes overflow") << "[153722867280912931:00] **A:** x" << false << "" << 0.0 << "";
        QTest::newRow("beyond 64 bits") << "[99999999999999999999:00] **A:** x" << false << "" << 0.0 << "";
    }
    void turnLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, isTurn);
        const auto turn = ArchiveFileParser::parseTurn(line);
        QCOMPARE(turn.has_value(), isTurn);
        if (!turn)
            return;
        QFETCH(QString, label);
        QFETCH(double, timestamp);
        QFETCH(QString, text);
        QCOMPARE(turn->label, label);
        QCOMPARE(turn->timestamp, timestamp);
        QCOMPARE(turn->text, text);
    }

    // Only whole heading lines are headings, found in the order the writer writes them.
    void sectionHeadings_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("summary"); // empty: none
        QTest::addColumn<int>("turns");
        const auto row = [](const char* name, const QString& body, const QString& summary = {}, int turns = 0) {
            QTest::newRow(name) << body << summary << turns;
        };
        row("heading text in the title", "\n# Weekly ## Summary\n\n## My Notes\n\nn\n");
        row("heading text in notes", "\n# T\n\n## My Notes\n\nsee ## Summary\n## Transcript\n");
        row("trailing blank", "\n## Summary \n\ns\n");
        row("summary up to transcript", "\n## Summary\n\ns ## Transcript s\n\n## Transcript\n\n[00:01] **A:** x\n",
            "s ## Transcript s", 1);
        row("chat ends the summary", "\n## Summary\n\ns\n\n## Chat\n\n**Q:** q\n", "s");
        row("chat quoting a turn", "\n## Transcript\n\n[00:01] **A:** x\n\n## Chat\n\n**A:** [00:01] **A:** x\n", {},
            1);
        row("chat heading before the transcript's is text",
            "\n## Chat\n\n**Q:** q\n## Transcript\n\n[00:01] **A:** x\n", {}, 1);
        row("transcript heading in the title", "\n# Weekly ## Transcript\n[00:01] **A:** x\n");
        row("transcript as last line", "\n## Transcript");
    }
    void sectionHeadings()
    {
        QFETCH(QString, body);
        QFETCH(QString, summary);
        QFETCH(int, turns);
        const auto file = ArchiveFileParser::parse(QStringLiteral("---\n---\n") + body);
        QVERIFY(file);
        QCOMPARE(file->summary.value_or(QString()), summary);
        QCOMPARE(file->turns.size(), turns);
    }

    // Chat entries as the writer separates them: an entry line after an empty line opens one,
    // and its text runs, line breaks and all, to the empty line before the next.
    void chatEntries_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QStringList>("chat");
        QTest::newRow("question and answer") << "**Q:** What?\n\n**A:** This.\n"
                                             << QStringList { "Q What?", "A This." };
        QTest::newRow("paragraphs and a final line break")
            << "**Q:** q\n\n**A:** one\n\ntwo\n\n\n**Q:** again\n\n**A:** last\n\n"
            << QStringList { "Q q", "A one\n\ntwo\n", "Q again", "A last\n" };
        QTest::newRow("an entry line inside a paragraph") << "**A:** see\n**Q:** quoted\n"
                                                          << QStringList { "A see\n**Q:** quoted" };
        QTest::newRow("empty texts") << "**Q:** \n\n**A:**\n" << QStringList { "Q ", "A " };
        QTest::newRow("stray text first") << "notes\n\n**Q:** q\n" << QStringList { "Q q" };
        QTest::newRow("no entries") << "just text\n" << QStringList {};
    }
    void chatEntries()
    {
        QFETCH(QString, section);
        QFETCH(QStringList, chat);
        const auto file = ArchiveFileParser::parse(QStringLiteral("---\n---\n\n## Chat\n\n") + section);
        QVERIFY(file);
        QStringList entries;
        for (const ArchiveFileParser::ChatEntry& entry : file->chat)
            entries.append((entry.fromUser ? QStringLiteral("Q ") : QStringLiteral("A ")) + entry.text);
        QCOMPARE(entries, chat);
    }
};

QUILLET_TEST_MAIN(TestMeetingImporter)
#include "TestMeetingImporter.moc"
