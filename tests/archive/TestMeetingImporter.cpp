#include "archive/ArchiveFileParser.h"
#include "archive/ArchiveMarkdown.h"
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

    // The recovery road through a folder that holds one file: the writer's own text is written
    // in place from then on (renamed with its title only under the writer's own name), and its
    // meeting's deletion removes it; any other file (edited by hand, another application's
    // note) keeps every byte through the import, an edit and a retitle of its meeting and that
    // meeting's deletion, while the meeting is written to a file of its own beside it.
    void importedMeetingsKeepOnlyTheirOwnFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("theWritersText");
        QTest::addColumn<bool>("keepsName"); // the meeting's writes go on going to the file
        MeetingSnapshot standup;
        standup.id = QUuid::fromString(kId);
        standup.title = QStringLiteral("Standup");
        standup.date = QDateTime(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
        standup.userNotes = QStringLiteral("First words");
        standup.turns = { { QStringLiteral("Speaker A"), 3, QStringLiteral("Morning.") } };
        const QByteArray written = ArchiveMarkdown::markdown(standup);
        const QString ownPath = ArchiveMarkdown::yearFolder(standup.date) + u'/' + ArchiveMarkdown::fileName(standup);
        const QByteArray handEdited = written + "\n## Action items (added by hand later)\n\n- Call Linh\n";
        QTest::newRow("the writer's file") << ownPath << written << true << false;
        QTest::newRow("the writer's file, renamed") << "2026/standup-renamed.md" << written << true << true;
        QTest::newRow("edited by hand and renamed") << "2026/standup-renamed.md" << handEdited << false << false;
        QTest::newRow("edited by hand under the writer's name") << ownPath << handEdited << false << false;
        QTest::newRow("another application's note")
            << "Inbox/Standup.md"
            << QByteArray("---\ntags: [work, standup]\naliases: [daily]\ncreated: 2026-12-09T09:00:00Z\n"
                          "title: Standup\n---\n\n# Standup\n\n## Agenda\n\n- budget\n\n## Summary\n\nShip it.\n")
            << false << false;
    }
    void importedMeetingsKeepOnlyTheirOwnFiles()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, text);
        QFETCH(bool, theWritersText);
        QFETCH(bool, keepsName);
        const QString folder = m_storeDir->filePath(QStringLiteral("notes"));
        QVERIFY(writeFile(folder + u'/' + path, text));
        const auto textOf = [&](const QString& relative) {
            QFile file(folder + u'/' + relative);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };

        auto context = openStore();
        QVERIFY(context);
        MarkdownArchiver archiver(folder);
        FakeScheduler scheduler;
        ArchiveQueue queue(*context, archiver, scheduler);
        ArchiveRemovals removals(archiver, *context);
        MeetingImporter::runIfNeeded(*context, m_clock, folder, &archiver);
        QCOMPARE(context->meetingCount(), 1);
        scheduler.advance(ArchiveQueue::kDelay);
        QVERIFY(ArchiveFolder::drain(archiver));
        QCOMPARE(textOf(path), text);

        Meeting* meeting = context->fetchMeetings().constFirst();
        meeting->setUserNotes(meeting->userNotes() + QStringLiteral(", edited"));
        QVERIFY(context->save().ok());
        scheduler.advance(ArchiveQueue::kDelay);
        meeting->setTitle(QStringLiteral("Standup, retitled"));
        QVERIFY(context->save().ok());
        scheduler.advance(ArchiveQueue::kDelay);
        QVERIFY(ArchiveFolder::drain(archiver));
        QStringList paths = ArchiveFolder::markdownFiles(archiver).keys();
        if (!keepsName)
            paths.removeOne(path);
        QCOMPARE(paths.size(), 1);
        const QString written = paths.constFirst();
        QVERIFY2(textOf(written).contains(", edited"), qPrintable(written));
        QVERIFY2(textOf(written).contains("# Standup, retitled"), qPrintable(written));
        if (!theWritersText)
            QCOMPARE(textOf(path), text);

        context->remove(meeting);
        QVERIFY(context->save().ok());
        QVERIFY(QTest::qWaitFor([&] { return !QFile::exists(folder + u'/' + written); }, 20000));
        QVERIFY(ArchiveFolder::drain(archiver));
        QCOMPARE(ArchiveFolder::markdownFiles(archiver).keys(), theWritersText ? QStringList() : QStringList { path });
        if (!theWritersText)
            QCOMPARE(textOf(path), text);
    }

    // Of the files of one identifier, the one the folder's index lists wins, else the newest,
    // else the first in byte order of the relative paths: a file a rename meant to remove, or
    // a person's older copy, does not bring back an old title.
    void duplicateIdsImportOnce_data()
    {
        QTest::addColumn<QString>("listed"); // the path the index lists for the identifier, or none
        QTest::addColumn<QString>("newest"); // the file written last, or none: all of one time
        QTest::addColumn<QString>("winner");
        QTest::newRow("first in byte order") << ""
                                             << ""
                                             << ".hidden/c.md";
        QTest::newRow("the newest") << ""
                                    << "2026/b.md"
                                    << "2026/b.md";
        QTest::newRow("the one the index lists") << "./2025/z.md"
                                                 << "2026/b.md"
                                                 << "2025/z.md";
    }
    void duplicateIdsImportOnce()
    {
        QFETCH(QString, listed);
        QFETCH(QString, newest);
        QFETCH(QString, winner);
        const QByteArray sameId = fileText("id: " + kId + "\ntitle: %1\n");
        const QStringList paths { "2026/b.md", "2026/a.md", ".hidden/c.md", "2025/z.md" };
        const QDateTime then(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
        for (const QString& path : paths) {
            const QString file = archiveFolder() + u'/' + path;
            QVERIFY(writeFile(file, QByteArray(sameId).replace("%1", path.toUtf8())));
            QFile stamped(file);
            QVERIFY(stamped.open(QIODevice::ReadWrite));
            QVERIFY(stamped.setFileTime(path == newest ? then.addSecs(60) : then, QFileDevice::FileModificationTime));
        }
        QVERIFY(
            writeFile(archiveFolder() + QStringLiteral("/2026/other.md"), fileText(QStringLiteral("title: Other\n"))));
        if (!listed.isEmpty()) {
            const QJsonObject entry { { "title", "x" }, { "date", "2026-03-14T02:05:00Z" }, { "durationMinutes", 0 },
                { "path", listed }, { "hasSummary", false } };
            QVERIFY(writeFile(archiveFolder() + QStringLiteral("/index.json"),
                QJsonDocument(QJsonObject { { kId, entry } }).toJson()));
        }

        auto context = openStore();
        LogCapture log;
        MeetingImporter::runIfNeeded(*context, m_clock);
        QCOMPARE(context->meetingCount(), 2);
        QCOMPARE(context->meetingById(QUuid::fromString(kId))->title(), winner);
        for (const QString& skipped : paths) {
            if (skipped != winner)
                QVERIFY(log.contains(QStringLiteral("[Quillet] Skipped archive file with duplicate id: ") + skipped));
        }
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
