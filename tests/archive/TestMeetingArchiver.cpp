#include "archive/ArchiveFileParser.h"
#include "archive/ArchiveIndex.h"
#include "archive/ArchiveMarkdown.h"
#include "archive/ArchiveWriter.h"
#include "archive/MeetingArchiver.h"
#include "archive/MeetingImporter.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/FullDisk.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace {

// Made for the test case, as the application makes its one archiver.
std::unique_ptr<MarkdownArchiver> theArchiver;

MeetingArchiver& archiver()
{
    return *theArchiver;
}

QString root()
{
    return theArchiver->archiveRoot();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every regular file below `folder`, relative to it, sorted.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// Waits for every queued archive job; the writer runs on its own thread.
bool drain()
{
    QFuture<void> idle = archiver().idle();
    return QTest::qWaitFor([&] { return idle.isFinished(); }, 20000);
}

QDateTime local(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::LocalTime);
}

MeetingArchiver::Snapshot snapshot(const QString& title, const QDateTime& date, const QUuid& id = QUuid::createUuid())
{
    MeetingArchiver::Snapshot s;
    s.id = id;
    s.title = title;
    s.date = date;
    return s;
}

QJsonObject readIndex()
{
    return QJsonDocument::fromJson(readFile(root() + QStringLiteral("/index.json"))).object();
}

QString indexedPath(const QUuid& id)
{
    return readIndex().value(ArchiveMarkdown::idString(id)).toObject().value(QLatin1String("path")).toString();
}

// Every file below `folder` with its bytes.
QMap<QString, QByteArray> contentsBelow(const QString& folder)
{
    QMap<QString, QByteArray> contents;
    for (const QString& file : filesBelow(folder))
        contents.insert(file, readFile(folder + u'/' + file));
    return contents;
}

// Entries of the index in `folder` whose file is missing; "unreadable" when the index is not
// a well-formed one.
QStringList entriesWithoutFile(const QString& folder)
{
    QJsonParseError error;
    const QJsonDocument index = QJsonDocument::fromJson(readFile(folder + QStringLiteral("/index.json")), &error);
    if (error.error != QJsonParseError::NoError || !index.isObject())
        return { QStringLiteral("unreadable") };
    QStringList missing;
    const QJsonObject entries = index.object();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QString path = it.value().toObject().value(QLatin1String("path")).toString();
        if (!QFileInfo(folder + u'/' + path).isFile())
            missing.append(it.key() + u' ' + path);
    }
    return missing;
}

// Markdown files below `folder` that carry a meeting's identifier while the index does not list
// them: files no later rename or removal would find.
QStringList unlistedFiles(const QString& folder)
{
    const ArchiveIndex index = ArchiveIndex::load(folder + QStringLiteral("/index.json"));
    QSet<QString> listed;
    for (const ArchiveIndexEntry& entry : index.entries())
        listed.insert(ArchiveIndex::normalisedPath(entry.path));
    QStringList unlisted;
    for (const QString& file : filesBelow(folder)) {
        if (file.endsWith(QLatin1String(".md")) && ArchiveFileParser::idOfFile(folder + u'/' + file)
            && !listed.contains(file))
            unlisted.append(file);
    }
    return unlisted;
}

// The files below `folder` that carry the meeting's identifier.
QStringList filesOf(const QString& folder, const QUuid& id)
{
    QStringList files;
    for (const QString& file : filesBelow(folder)) {
        if (ArchiveFileParser::idOfFile(folder + u'/' + file) == id)
            files.append(file);
    }
    return files;
}

QStringList markdownLines(const QString& relativePath)
{
    return QString::fromUtf8(readFile(root() + u'/' + relativePath)).split(u'\n');
}

// Titles whose slugs hold more bytes than a file name may.
QString longTitle(const char* kind)
{
    const QByteArray name(kind);
    if (name == "four-byte letters")
        return QString::fromUcs4(U"\U00020000").repeated(70);
    if (name == "vowel signs")
        return QStringLiteral("कि").repeated(50); // a letter and a spacing vowel sign, 6 bytes
    return u'a' + QString(QChar(0x20DD)).repeated(100); // enclosing marks join the letter
}

} // namespace

class TestMeetingArchiver final : public QObject
{
    Q_OBJECT

public:
    TestMeetingArchiver()
    {
        // File names use local time; a zone far from UTC shows which dates are local.
        ZoneAndLocale::useTimeZone("Asia/Ho_Chi_Minh");
    }

private slots:
    void initTestCase() { theArchiver = std::make_unique<MarkdownArchiver>(); }
    void cleanupTestCase() { theArchiver.reset(); }

    void init()
    {
        QVERIFY(drain());
        if (QFileInfo(root()).isSymLink())
            QVERIFY(QFile::remove(root())); // never empty the folder it points to
        QDir(root()).removeRecursively();
    }

    // The writer keeps the index between jobs, yet an index someone else changed meanwhile is
    // read again before the next change to it: their entries stay, and one the writer had
    // written stays out once they took it out.
    void indexChangedElsewhereIsReadAgain()
    {
        const MeetingArchiver::Snapshot first = snapshot(QStringLiteral("First"), local(2026, 3, 14, 9, 0));
        archiver().archive(first);
        QVERIFY(drain());
        QCOMPARE(readIndex().keys(), QStringList { ArchiveMarkdown::idString(first.id) });

        const QString theirs = QStringLiteral("0F9619FF-8B86-D011-B42D-00C04FC964FF");
        const QJsonObject entry { { "title", "Theirs" }, { "date", "2026-03-14T02:05:00Z" }, { "durationMinutes", 3 },
            { "path", "2026/theirs.md" }, { "hasSummary", false } };
        QVERIFY(writeFile(
            root() + QStringLiteral("/index.json"), QJsonDocument(QJsonObject { { theirs, entry } }).toJson()));

        const MeetingArchiver::Snapshot second = snapshot(QStringLiteral("Second"), local(2026, 3, 15, 9, 0));
        archiver().archive(second);
        QVERIFY(drain());
        QStringList expected { theirs, ArchiveMarkdown::idString(second.id) };
        expected.sort();
        QCOMPARE(readIndex().keys(), expected);
        QCOMPARE(readIndex().value(theirs).toObject(), entry);
    }

    void goldenFiles()
    {
        std::vector<std::unique_ptr<Meeting>> meetings;
        const auto make = [&](const QString& title, const QDateTime& date, const char* id) {
            meetings.push_back(std::make_unique<Meeting>(title, date));
            meetings.back()->setId(QUuid::fromString(QLatin1String(id)));
            return meetings.back().get();
        };

        Meeting* cafe = make(
            QStringLiteral("Café — Q3 planning!!"), local(2026, 3, 14, 9, 5), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
        cafe->setDuration(2745.5);
        cafe->setSummary(QStringLiteral("**Decisions**\n- Ship the beta on 2 April\n- Hire one designer"));
        cafe->setUserNotes(QStringLiteral("\n\n  Call Linh about the budget\n  - and the venue  \n\n"));
        cafe->appendSegment(new TranscriptSegment(QStringLiteral("Morning! Can you hear me?"), Speaker::them(), 4.9));
        cafe->appendSegment(new TranscriptSegment(QStringLiteral("Good morning, everyone."), Speaker::me(), 0));

        // Local New Year's night is still 2025 in UTC: the folder follows the local year.
        Meeting* standup = make(QStringLiteral("Standup \"core\" \\ infra"), local(2026, 1, 1, 3, 0),
            "3F2504E0-4F89-11D3-9A0C-0305E82C3301");
        standup->setDuration(3725.6);
        standup->setUserNotes(QStringLiteral("   \n\t \n"));
        const auto segment = [](const QString& text, const QString& speakerRaw, double timestamp) {
            auto* s = new TranscriptSegment(text, Speaker::me(), timestamp);
            s->setSpeakerRaw(speakerRaw);
            return s;
        };
        standup->appendSegment(segment(QStringLiteral("Wrapping up at last."), QStringLiteral("Linh Nguyen"), 3725.6));
        standup->appendSegment(segment(QStringLiteral("Deploy is green."), QStringLiteral("Them"), 65));
        standup->appendSegment(segment(QStringLiteral("Let's start."), QStringLiteral("Me"), 0));
        standup->appendSegment(
            segment(QStringLiteral("Same second, stored after."), QStringLiteral("Linh Nguyen"), 65));
        standup->appendSegment(segment(QStringLiteral("Quick update from me."), QString(), 5.6));
        auto* answer
            = new ChatMessage(ChatRole::Assistant, QStringLiteral("Deploy on Friday."), QStringLiteral("fast"));
        answer->setCreatedAt(QDateTime(QDate(2026, 1, 1), QTime(1, 0, 5), Qt::UTC));
        auto* question = new ChatMessage(ChatRole::User, QStringLiteral("What was decided?"), std::nullopt);
        question->setCreatedAt(QDateTime(QDate(2026, 1, 1), QTime(1, 0, 0), Qt::UTC));
        standup->appendChatMessage(answer);
        standup->appendChatMessage(question);

        make(QStringLiteral("Họp với anh Đặng về dự án"), local(2025, 11, 20, 14, 30),
            "A1B2C3D4-0000-4000-8000-000000000003");

        Meeting* launch = make(
            QStringLiteral("🚀 Launch review 🎉"), local(2026, 2, 2, 18, 45), "A1B2C3D4-0000-4000-8000-000000000004");
        launch->setDuration(600);
        launch->setSummary(QStringLiteral("   "));

        Meeting* punctuation
            = make(QStringLiteral("?!…"), local(2026, 3, 14, 10, 0), "A1B2C3D4-0000-4000-8000-000000000005");
        punctuation->setDuration(119.9);
        punctuation->appendChatMessage(new ChatMessage(ChatRole::User, QStringLiteral("Anything?"), std::nullopt));

        make(QString(), local(2026, 3, 14, 11, 0), "A1B2C3D4-0000-4000-8000-000000000006");

        for (const auto& meeting : meetings)
            archiver().archive(MeetingArchiver::Snapshot(*meeting));
        QVERIFY(drain());

        const QString golden = QStringLiteral(QUILLET_TEST_DATA_DIR "/archive/golden");
        const QStringList expectedFiles = filesBelow(golden);
        QCOMPARE(filesBelow(root()), expectedFiles);
        for (const QString& file : expectedFiles) {
            const QByteArray actual = readFile(root() + u'/' + file);
            const QByteArray expected = readFile(golden + u'/' + file);
            if (actual != expected)
                qWarning().noquote() << "Differs:" << file << "\n" << actual;
            QCOMPARE(actual, expected);
        }
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        const QString seventy(70, u'a');
        const QString fiftyNine(59, u'b');
        const auto row = [](const char* name, const QString& title, const QString& slug) {
            QTest::newRow(name) << title << "2026-03-14-0905" + slug + ".md";
        };
        row("70 letters", seventy, "-" + seventy.left(60));
        row("59 letters then a word", fiftyNine + " more", "-" + fiftyNine);
        row("leading and trailing separators", "  --Hello,   World--  ", "-hello-world");
        row("non-Latin letters stay", "会議 メモ: Q3", "-会議-メモ-q3");
        row("Hangul stays whole", "회의 록", "-회의-록");
        row("emoji only", "🎉🚀", "");
        row("line breaks", "Board\nmeeting\r\nQ3", "-board-meeting-q3");
        // File names are capped by bytes, cut between user-perceived characters.
        row("four-byte letters", longTitle("four-byte letters"), "-" + QString::fromUcs4(U"\U00020000").repeated(55));
        row("vowel signs stay with their letter", longTitle("vowel signs"), "-" + QStringLiteral("कि").repeated(36));
        row("one letter with endless marks", longTitle("endless marks"), "");
    }
    void fileNames()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(ArchiveMarkdown::fileName(snapshot(title, local(2026, 3, 14, 9, 5))), expected);
    }

    // Calendar titles keep their line breaks; the front matter and heading must stay one line.
    void lineBreaksInTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("flattened");
        const auto row = [](const char* name, const QString& title, const QString& flattened = "Board meeting") {
            QTest::newRow(name) << title << flattened;
        };
        row("LF", "Board\nmeeting");
        row("CRLF counts once", "Board\r\nmeeting");
        row("CR", "Board\rmeeting");
        row("next line", QStringLiteral("Board\u0085meeting"));
        row("line separator", QStringLiteral("Board\u2028meeting"));
        row("paragraph separator", QStringLiteral("Board\u2029meeting"));
        row("two LFs give two blanks", "Board\n\n\"Q3\"", "Board  \"Q3\"");
    }
    void lineBreaksInTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, flattened);
        auto s = snapshot(title, local(2026, 3, 14, 9, 5));
        archiver().archive(s);
        QVERIFY(drain());

        const QStringList lines = markdownLines(indexedPath(s.id));
        QCOMPARE(lines.size(), 10); // the final line feed leaves an empty last element
        QString escaped = flattened;
        escaped.replace(u'"', QStringLiteral("\\\""));
        QCOMPARE(lines.at(2), "title: \"" + escaped + u'"');
        QCOMPARE(lines.at(3).left(6), QStringLiteral("date: "));
        QCOMPARE(lines.at(8), "# " + flattened);
        QCOMPARE(readIndex().value(ArchiveMarkdown::idString(s.id)).toObject().value(QLatin1String("title")).toString(),
            title);
    }

    void renameMovesFileAndUpdatesIndex()
    {
        auto s = snapshot(QStringLiteral("First name"), local(2026, 3, 14, 9, 5));
        archiver().archive(s);
        s.title = QStringLiteral("Second name");
        archiver().archive(s);
        QVERIFY(drain());
        QCOMPARE(filesBelow(root()), QStringList({ "2026/2026-03-14-0905-second-name.md", "index.json" }));
        QCOMPARE(indexedPath(s.id), QStringLiteral("2026/2026-03-14-0905-second-name.md"));

        s.date = local(2027, 1, 5, 8, 0);
        archiver().archive(s);
        QVERIFY(drain());
        QCOMPARE(filesBelow(root()), QStringList({ "2027/2027-01-05-0800-second-name.md", "index.json" }));
        QVERIFY(QFileInfo(root() + QStringLiteral("/2026")).isDir());
        QCOMPARE(indexedPath(s.id), QStringLiteral("2027/2027-01-05-0800-second-name.md"));
        QCOMPARE(readIndex().size(), 1);
    }

    void jobsRunInOrder()
    {
        auto kept = snapshot(QStringLiteral("Kept"), local(2026, 3, 14, 9, 5));
        auto removed = snapshot(QStringLiteral("Removed"), local(2026, 3, 14, 9, 6));
        for (int i = 0; i < 20; ++i) {
            kept.title = QStringLiteral("Kept %1").arg(i);
            archiver().archive(kept);
            archiver().archive(removed);
            archiver().remove(removed.id);
        }
        QVERIFY(drain());
        QCOMPARE(filesBelow(root()), QStringList({ "2026/2026-03-14-0905-kept-19.md", "index.json" }));
        QCOMPARE(readIndex().keys(), QStringList { ArchiveMarkdown::idString(kept.id) });
    }

    // The application destroys its archiver as it quits: whatever was handed over is written.
    void destroyingTheArchiverRunsQueuedJobs()
    {
        QList<QUuid> ids;
        {
            MarkdownArchiver quitting(root());
            for (int i = 0; i < 40; ++i) {
                const auto s = snapshot(QStringLiteral("Meeting %1").arg(i), local(2026, 3, 14, 9, 5));
                ids.append(s.id);
                quitting.archive(s);
            }
        }
        QCOMPARE(readIndex().size(), 40);
        for (const QUuid& id : std::as_const(ids))
            QVERIFY(QFile::exists(root() + u'/' + indexedPath(id)));
    }

    void removeUnknownIdDeletesNothing()
    {
        auto known = snapshot(QStringLiteral("Known"), local(2026, 3, 14, 9, 5));
        archiver().archive(known);
        QVERIFY(drain());
        // A file of the unknown meeting exists but the index does not list it.
        const auto unknown = snapshot(QStringLiteral("Stray"), local(2026, 3, 14, 9, 5));
        const QString strayPath = root() + QStringLiteral("/2026/2026-03-14-0905-stray.md");
        QVERIFY(writeFile(strayPath, ArchiveMarkdown::markdown(unknown)));
        const QString indexPath = root() + QStringLiteral("/index.json");
        QVERIFY(writeFile(indexPath, readFile(indexPath) + "\n")); // marks the bytes as ours
        const QByteArray indexBefore = readFile(indexPath);

        archiver().remove(unknown.id);
        QVERIFY(drain());
        QVERIFY(QFile::exists(strayPath));
        QCOMPARE(readFile(indexPath), indexBefore);
    }

    // An index that cannot be read is said, once, and rebuilt from the folder, never taken for
    // "no files": a rename and a removal still take the earlier files with them. Only a file
    // under the writer's own name holding exactly the writer's text is listed again; a person's
    // copy of a meeting file stays as it is.
    void damagedIndex_data()
    {
        QTest::addColumn<QByteArray>("index"); // "folder": a folder; "deleted": none
        QTest::addColumn<QString>("said");
        const QByteArray good = R"({"%1": {"title": "Old", "date": "2026-03-14T02:05:00Z", "durationMinutes": 3,
            "path": "2026/2026-03-14-0905-old.md", "hasSummary": false}})";
        const auto variant = [&](const char* from, const char* to) { return QByteArray(good).replace(from, to); };
        QTest::newRow("not JSON") << QByteArray("{\"unterminated") << "index.json is damaged";
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n") << "index.json is damaged";
        QTest::newRow("truncated") << good.left(good.size() / 2) << "index.json is damaged";
        QTest::newRow("an array") << QByteArray("[]") << "index.json is damaged";
        QTest::newRow("missing key") << variant("\"hasSummary\": false", "\"other\": false") << "index.json is damaged";
        QTest::newRow("minutes as text") << variant("\"durationMinutes\": 3", "\"durationMinutes\": \"3\"")
                                         << "index.json is damaged";
        QTest::newRow("date with fraction") << variant("02:05:00Z", "02:05:00.5Z") << "index.json is damaged";
        QTest::newRow("entry not an object") << QByteArray(R"({"%1": "2026/x.md"})") << "index.json is damaged";
        QTest::newRow("deleted") << QByteArray("deleted") << "index.json was missing";
        QTest::newRow("a folder") << QByteArray("folder") << "index.json is a folder, not a file";
    }
    void damagedIndex()
    {
        QFETCH(QByteArray, index);
        QFETCH(QString, said);
        auto renamed = snapshot(QStringLiteral("Old"), local(2026, 3, 14, 9, 5));
        auto removed = snapshot(QStringLiteral("Removed"), local(2026, 3, 14, 9, 6));
        archiver().archive(renamed);
        archiver().archive(removed);
        QVERIFY(drain());
        const QString removedFile = root() + u'/' + indexedPath(removed.id);
        const QByteArray copy = readFile(removedFile) + "\n## Added by hand\n";
        QVERIFY(writeFile(root() + QStringLiteral("/2026/2026-03-14-0906-removed-")
                + removed.id.toString(QUuid::Id128).left(8).toLower() + QStringLiteral(".md"),
            copy));
        QVERIFY(writeFile(root() + QStringLiteral("/2026/removed, my copy.md"), copy));
        QVERIFY(writeFile(root() + QStringLiteral("/README.md"), "mine"));
        const QString indexPath = root() + QStringLiteral("/index.json");
        QVERIFY(QFile::remove(indexPath));
        if (index == "folder")
            QVERIFY(QDir().mkpath(indexPath));
        else if (index != "deleted")
            QVERIFY(writeFile(indexPath, index.replace("%1", ArchiveMarkdown::idString(renamed.id).toLatin1())));
        QMap<QString, QByteArray> others = contentsBelow(root());
        others.remove(QStringLiteral("2026/2026-03-14-0905-old.md"));
        others.remove(QStringLiteral("2026/2026-03-14-0906-removed.md"));
        others.remove(QStringLiteral("index.json"));

        QStringList notices;
        theArchiver->setIndexNotice([&](const QString& reason) { notices.append(reason); });
        renamed.title = QStringLiteral("New");
        archiver().archive(renamed);
        archiver().remove(removed.id);
        QVERIFY(drain());
        QCoreApplication::processEvents();
        theArchiver->setIndexNotice({});
        QCOMPARE(notices, QStringList { said });
        QVERIFY(!QFile::exists(removedFile));
        // The rename needs the index written: where it cannot be, the old file stays.
        QCOMPARE(filesOf(root(), renamed.id),
            QStringList { index == "folder" ? "2026/2026-03-14-0905-old.md" : "2026/2026-03-14-0905-new.md" });
        QMap<QString, QByteArray> after = contentsBelow(root());
        for (auto it = others.begin(); it != others.end(); ++it)
            QCOMPARE(after.value(it.key()), it.value());
    }

    void backfillSkipsIndexedMeetings()
    {
        auto indexed = snapshot(QStringLiteral("Indexed"), local(2026, 3, 14, 9, 5));
        archiver().archive(indexed);
        QVERIFY(drain());
        // Only the index entry counts: a deleted file is not written again.
        QVERIFY(QFile::remove(root() + u'/' + indexedPath(indexed.id)));

        QList<MeetingArchiver::Snapshot> list { indexed };
        for (int i = 0; i < 250; ++i)
            list.append(snapshot(QStringLiteral("Meeting %1").arg(i), local(2026, 4, 1, 8, 0).addSecs(60 * i)));
        archiver().backfill(list);
        QVERIFY(drain());

        QCOMPARE(readIndex().size(), 251);
        QCOMPARE(filesBelow(root() + QStringLiteral("/2026")).size(), 250);
        QVERIFY(!QFile::exists(root() + u'/' + indexedPath(indexed.id)));
        for (const auto& s : list.mid(1))
            QVERIFY(QFile::exists(root() + u'/' + indexedPath(s.id)));
    }

    // Two meetings in the same minute with the same title must not share a file.
    void sameMinuteSameTitleKeepsBothFiles()
    {
        const QUuid firstId = QUuid::fromString(QLatin1String("11111111-2222-4333-8444-555555555555"));
        const QUuid secondId = QUuid::fromString(QLatin1String("ABCDEF12-3456-4789-8ABC-DEF012345678"));
        auto first = snapshot(QStringLiteral("Sync"), local(2026, 3, 14, 9, 5), firstId);
        auto second = snapshot(QStringLiteral("Sync"), local(2026, 3, 14, 9, 5), secondId);
        second.summary = QStringLiteral("second");
        archiver().archive(first);
        archiver().archive(second);
        archiver().archive(second); // archiving again keeps its own name
        QVERIFY(drain());
        QCOMPARE(indexedPath(firstId), QStringLiteral("2026/2026-03-14-0905-sync.md"));
        QCOMPARE(indexedPath(secondId), QStringLiteral("2026/2026-03-14-0905-sync-abcdef12.md"));
        QVERIFY(markdownLines(indexedPath(secondId)).contains(QStringLiteral("second")));
        QVERIFY(!markdownLines(indexedPath(firstId)).contains(QStringLiteral("second")));

        // Deleting one leaves the other's file.
        archiver().remove(firstId);
        QVERIFY(drain());
        QCOMPARE(filesBelow(root()), QStringList({ "2026/2026-03-14-0905-sync-abcdef12.md", "index.json" }));
    }

    // A name over 248 bytes can be created but never replaced: the atomic write's temporary
    // file takes the name plus ".XXXXXX".
    void longTitlesAreArchived_data()
    {
        QTest::addColumn<QString>("title");
        for (const char* kind : { "four-byte letters", "vowel signs", "endless marks" })
            QTest::newRow(kind) << longTitle(kind);
    }
    void longTitlesAreArchived()
    {
        QFETCH(QString, title);
        LogCapture log;
        auto first = snapshot(title, local(2026, 3, 14, 9, 5));
        auto second = snapshot(title, local(2026, 3, 14, 9, 5));
        for (int round = 0; round < 2; ++round) {
            archiver().archive(first);
            archiver().archive(second);
        }
        QVERIFY(drain());
        QVERIFY2(!log.containsPart(QStringLiteral("Archive failed")), qPrintable(log.lines().join(u'\n')));
        const QStringList paths { indexedPath(first.id), indexedPath(second.id) };
        QVERIFY(paths.at(0) != paths.at(1));
        for (const QString& path : paths) {
            QVERIFY(QFile::exists(root() + u'/' + path));
            QVERIFY(QFileInfo(path).fileName().toUtf8().size() <= 248);
        }
    }

    // A deletion whose removal job never ran (the process ended first) leaves the meeting's
    // file for a later import to bring back.
    void pruneDropsMeetingsNoLongerStored_data()
    {
        QTest::addColumn<bool>("storeEmptied");
        QTest::newRow("one meeting deleted") << false;
        QTest::newRow("store emptied: the import refills it") << true;
    }
    void pruneDropsMeetingsNoLongerStored()
    {
        QFETCH(bool, storeEmptied);
        TempStore store;
        auto* kept = new Meeting(QStringLiteral("Kept"), local(2026, 3, 14, 9, 5));
        auto* deleted = new Meeting(QStringLiteral("Deleted"), local(2026, 3, 14, 9, 6));
        store->insert(kept);
        store->insert(deleted);
        QVERIFY(store->save().ok());
        archiver().archive(MeetingArchiver::Snapshot(*kept));
        archiver().archive(MeetingArchiver::Snapshot(*deleted));
        QVERIFY(drain());
        const QString keptFile = root() + u'/' + indexedPath(kept->id());
        const QString deletedFile = root() + u'/' + indexedPath(deleted->id());
        const QString unlisted = root() + QStringLiteral("/2026/2026-03-14-0907-mine.md");
        QVERIFY(writeFile(unlisted, "mine"));

        store->remove(deleted);
        if (storeEmptied)
            store->remove(kept);
        QVERIFY(store->save().ok());
        QSet<QUuid> storedIds;
        for (const Meeting* meeting : store.reopen().fetchMeetings())
            storedIds.insert(meeting->id());
        archiver().prune(storedIds);
        QVERIFY(drain());

        QVERIFY(QFile::exists(keptFile));
        QVERIFY(QFile::exists(unlisted));
        QCOMPARE(QFile::exists(deletedFile), storeEmptied);
        QCOMPARE(readIndex().size(), storeEmptied ? 2 : 1);
    }

    // A write killed between QSaveFile's temporary file and its rename leaves the temporary
    // file behind; the next start of the writer deletes those and nothing else.
    void leftoverTemporaryFilesGoAtStart()
    {
        const QStringList leftovers { "index.json.AbCdEf", "2026/2026-03-14-0905-plan.md.qWeRtY" };
        const QStringList kept { "2026/2026-03-14-0905-plan.md", "2026/2026-03-14-0905-plan.md.AbCd3f",
            "2026/notes.txt.AbCdEf", "drafts/2026-03-14-0905-plan.md.AbCdEf", "index.json", "index.json.old" };
        for (const QString& path : leftovers + kept)
            QVERIFY(writeFile(root() + u'/' + path, "x"));

        MarkdownArchiver starting(root());
        QFuture<void> idle = starting.idle();
        QVERIFY(QTest::qWaitFor([&] { return idle.isFinished(); }, 20000));
        QCOMPARE(filesBelow(root()), kept);
    }

    // A rename whose new file cannot be written (a regular file where its year folder should
    // be) logs the failure and keeps the old file and the index as they were.
    void failedRenameKeepsOldFileAndIndex()
    {
        LogCapture log;
        auto s = snapshot(QStringLiteral("Plan"), local(2026, 3, 14, 9, 5));
        archiver().archive(s);
        QVERIFY(drain());
        const QByteArray indexBefore = readFile(root() + QStringLiteral("/index.json"));
        QVERIFY(writeFile(root() + QStringLiteral("/2027"), "not a folder"));

        s.date = local(2027, 2, 1, 10, 0);
        archiver().archive(s);
        QVERIFY(drain());
        const QString prefix = "[Quillet] Archive failed for " + ArchiveMarkdown::idString(s.id) + ": ";
        QVERIFY(log.containsPart(prefix));
        QVERIFY(QFile::exists(root() + QStringLiteral("/2026/2026-03-14-0905-plan.md")));
        QCOMPARE(readFile(root() + QStringLiteral("/index.json")), indexBefore);

        // The writer carries on with the next job; a backfill drops such failures silently.
        log.clear();
        auto next = snapshot(QStringLiteral("Next"), local(2026, 3, 15, 9, 0));
        archiver().backfill({ snapshot(QStringLiteral("Lost"), local(2027, 3, 1, 9, 0)), next });
        QVERIFY(drain());
        QVERIFY(!log.containsPart(QStringLiteral("Archive failed")));
        QCOMPARE(indexedPath(next.id), QStringLiteral("2026/2026-03-15-0900-next.md"));
    }

    // On a full disk no step of a write may cost the file it was to replace: each change is
    // refused with its "Archive failed" line and every file keeps its bytes. Once there is
    // room again the same change goes through.
    void fullDiskKeepsEveryFile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<qint64>("roomLeft");
        QTest::newRow("edit of an archived meeting") << "edit" << qint64(0);
        QTest::newRow("rename: the new file fits, the index does not") << "rename" << FullDisk::kBlock;
        QTest::newRow("a new meeting") << "new" << qint64(0);
    }

    void fullDiskKeepsEveryFile()
    {
        QFETCH(QString, change);
        QFETCH(qint64, roomLeft);
        FullDisk disk;
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.skipReason()));
        const QString notes = disk.filePath(QStringLiteral("QuilletNotes"));
        MarkdownArchiver onDisk(notes);
        const auto drained = [&onDisk] {
            QFuture<void> idle = onDisk.idle();
            return QTest::qWaitFor([&] { return idle.isFinished(); }, 20000);
        };
        QList<MeetingArchiver::Snapshot> meetings;
        for (int i = 0; i < 24; ++i) {
            meetings.append(snapshot(QStringLiteral("Meeting %1").arg(i), local(2026, 3, 14, 9, i)));
            meetings.last().userNotes = QStringLiteral("Notes of meeting %1").arg(i);
        }
        onDisk.backfill(meetings);
        QVERIFY(drained());
        const QMap<QString, QByteArray> before = contentsBelow(notes);
        QCOMPARE(before.size(), 25);

        MeetingArchiver::Snapshot changed = meetings.first();
        if (change == QLatin1String("edit"))
            changed.userNotes = QStringLiteral("Edited while the disk was full");
        else if (change == QLatin1String("rename"))
            changed.title = QStringLiteral("Renamed while the disk was full");
        else
            changed = snapshot(QStringLiteral("Added while the disk was full"), local(2026, 3, 15, 9, 0));
        QVERIFY(disk.fill());
        disk.makeRoom(roomLeft);
        LogCapture log;
        onDisk.archive(changed);
        QVERIFY(drained());
        QVERIFY2(log.containsPart("[Quillet] Archive failed for " + ArchiveMarkdown::idString(changed.id) + ": "),
            qPrintable(log.lines().join(u'\n')));
        QCOMPARE(contentsBelow(notes), before);

        disk.makeRoom();
        onDisk.archive(changed);
        QVERIFY(drained());
        const QJsonObject index = QJsonDocument::fromJson(readFile(notes + QStringLiteral("/index.json"))).object();
        QCOMPARE(index.size(), change == QLatin1String("new") ? 25 : 24);
        const QString path
            = index.value(ArchiveMarkdown::idString(changed.id)).toObject().value(QLatin1String("path")).toString();
        const QString text = QString::fromUtf8(readFile(notes + u'/' + path));
        QVERIFY2(text.contains(QLatin1String("while the disk was full")), qPrintable(text));
        QCOMPARE(entriesWithoutFile(notes), QStringList());
        QCOMPARE(filesBelow(notes).size(), index.size() + 1);
    }

    // A rename killed at any moment leaves, once the next launch has read the index, an index
    // that lists only files that exist, the renamed meeting's among them, and no file unlisted.
    void renameKilledAnywhereKeepsIndexedFiles()
    {
        // A large index makes its write the longest step, where most kills land.
        QList<MeetingArchiver::Snapshot> others;
        for (int i = 0; i < 400; ++i)
            others.append(snapshot(QStringLiteral("Other %1").arg(i), local(2026, 4, 1 + i % 28, 9, i % 60)));
        archiver().backfill(others);
        QVERIFY(drain());
        const QString movingId = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");

        for (int kill = 0; kill < 8; ++kill) {
            QProcess child;
            child.start(QStringLiteral(STORE_CHILD_PROCESS), { QStringLiteral("rename"), root() });
            QVERIFY(child.waitForStarted());
            // Each kill comes a few rounds later than the one before, wherever that round is.
            const QByteArray awaited = "round " + QByteArray::number(2 + kill * 3) + '\n';
            QByteArray output;
            QTRY_VERIFY_WITH_TIMEOUT(
                (output += child.readAllStandardOutput()).contains(awaited) || child.state() == QProcess::NotRunning,
                60000);
            QCOMPARE(child.state(), QProcess::Running);
            child.kill();
            QVERIFY(child.waitForFinished());
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);

            ArchiveWriter(root()).start(); // the next launch
            QCOMPARE(unlistedFiles(root()), QStringList());
            QCOMPARE(entriesWithoutFile(root()), QStringList());
            QVERIFY(readIndex().contains(movingId));
            QCOMPARE(readIndex().size(), 401);
        }
    }

    // Whatever an entry of the index says, a meeting's edit, its removal and a prune change no
    // file that is not the meeting's own: not another meeting's file in any spelling of its
    // path, nor a person's file, with or without "keepsPath".
    void indexEntriesReachOnlyTheMeetingsOwnFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("ofNoMeeting"); // the entry's meeting is not in the store
        for (const char* path : { "./2025/other.md", "2025//other.md", "2025/../2025/other.md", "README.md" }) {
            QTest::addRow("%s", path) << path << false;
            QTest::addRow("%s, of no meeting", path) << path << true;
        }
    }
    void indexEntriesReachOnlyTheMeetingsOwnFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, ofNoMeeting);
        const auto other = snapshot(QStringLiteral("Other"), local(2025, 6, 1, 9, 0));
        QVERIFY(writeFile(root() + QStringLiteral("/2025/other.md"), ArchiveMarkdown::markdown(other)));
        QVERIFY(writeFile(root() + QStringLiteral("/README.md"), "mine"));
        const QMap<QString, QByteArray> before = contentsBelow(root());
        auto meeting = snapshot(QStringLiteral("Mine"), local(2026, 3, 14, 9, 5));
        const QJsonObject entry { { "title", "x" }, { "date", "2026-03-14T02:05:00Z" }, { "durationMinutes", 0 },
            { "path", path }, { "hasSummary", false }, { "keepsPath", true }, { "replaces", path } };
        QVERIFY(writeFile(root() + QStringLiteral("/index.json"),
            QJsonDocument(QJsonObject { { ArchiveMarkdown::idString(meeting.id), entry } }).toJson()));

        if (ofNoMeeting) {
            archiver().prune({ other.id });
        } else {
            meeting.userNotes = QStringLiteral("Edited");
            archiver().archive(meeting);
            QVERIFY(drain());
            QCOMPARE(filesOf(root(), meeting.id), QStringList { "2026/2026-03-14-0905-mine.md" });
            archiver().remove(meeting.id);
        }
        QVERIFY(drain());
        QCOMPARE(filesOf(root(), meeting.id), QStringList());
        QMap<QString, QByteArray> after = contentsBelow(root());
        after.remove(QStringLiteral("index.json"));
        QCOMPARE(after, before);
    }

    // A process ended at any step of a change (a seam of the writer, where the application
    // could be killed) leaves nothing the next launch does not set right: no markdown file
    // unlisted, so that deleting the meeting afterwards leaves no file an import brings back.
    void killedAtAnyStepLeavesNothingBehind_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("step");
        using Step = ArchiveWriter::Step;
        const QList<QPair<const char*, QList<Step>>> changes { { "new", { Step::indexWritten, Step::fileWritten } },
            { "edit", { Step::fileWritten } },
            { "rename", { Step::indexWritten, Step::fileWritten, Step::fileRemoved } },
            { "remove", { Step::fileRemoved, Step::indexWritten } },
            { "backfill", { Step::indexWritten, Step::fileWritten } } };
        const char* names[] = { "index written", "file written", "file removed" };
        for (const auto& [change, steps] : changes) {
            for (const Step step : steps)
                QTest::addRow("%s, %s", change, names[int(step)]) << change << int(step);
        }
    }
    void killedAtAnyStepLeavesNothingBehind()
    {
        QFETCH(QString, change);
        QFETCH(int, step);
        struct Killed
        {
        };
        const auto kept = snapshot(QStringLiteral("Kept"), local(2026, 3, 14, 9, 0));
        auto meeting = snapshot(QStringLiteral("Old"), local(2026, 3, 14, 9, 5));
        {
            ArchiveWriter running(root());
            QVERIFY(!running.archive(kept));
            if (change != QLatin1String("new") && change != QLatin1String("backfill"))
                QVERIFY(!running.archive(meeting));
            running.setStepHook([step](ArchiveWriter::Step reached) {
                if (int(reached) == step)
                    throw Killed {};
            });
            meeting.title = change == QLatin1String("rename") ? QStringLiteral("New") : meeting.title;
            meeting.userNotes = QStringLiteral("Edited");
            bool killed = false;
            try {
                if (change == QLatin1String("remove"))
                    running.remove(meeting.id);
                else if (change == QLatin1String("backfill"))
                    running.backfill({ meeting });
                else
                    running.archive(meeting);
            } catch (const Killed&) {
                killed = true;
            }
            QVERIFY(killed);
        }

        ArchiveWriter launched(root());
        launched.start();
        QCOMPARE(unlistedFiles(root()), QStringList());
        QVERIFY(!launched.remove(meeting.id));
        QCOMPARE(filesOf(root(), meeting.id), QStringList());
        TempStore store;
        MeetingImporter::runIfNeeded(store.context(), Clock::system(), root());
        QCOMPARE(store->meetingCount(), 1);
        QVERIFY(store->meetingById(kept.id));
    }

    // "index.json" is a file the user can edit: its paths must not reach outside the archive.
    void indexPathsOutsideArchiveAreIgnored_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("parent folders") << "../../victim.md";
        QTest::newRow("through a year folder") << "2026/../../victim.md";
        QTest::newRow("absolute") << QDir::homePath() + "/victim.md";
        QTest::newRow("not markdown") << "2026/keep.txt";
        QTest::newRow("through a symbolic link") << "2026/link/victim.md";
    }
    void indexPathsOutsideArchiveAreIgnored()
    {
        QFETCH(QString, path);
        const QString victim = QDir::homePath() + QStringLiteral("/victim.md");
        const QString keep = root() + QStringLiteral("/2026/keep.txt");
        QVERIFY(writeFile(victim, "precious"));
        QVERIFY(writeFile(keep, "precious"));
        QVERIFY(QFile::link(QDir::homePath(), root() + QStringLiteral("/2026/link")));

        const auto writeIndexWith = [&](const QUuid& id) {
            const QJsonObject entry { { "title", "x" }, { "date", "2026-03-14T02:05:00Z" }, { "durationMinutes", 0 },
                { "path", path }, { "hasSummary", false } };
            return writeFile(root() + QStringLiteral("/index.json"),
                QJsonDocument(QJsonObject { { ArchiveMarkdown::idString(id), entry } }).toJson());
        };

        const auto removed = snapshot(QStringLiteral("Removed"), local(2026, 3, 14, 9, 5));
        QVERIFY(writeIndexWith(removed.id));
        archiver().remove(removed.id);
        QVERIFY(drain());
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QCOMPARE(readFile(keep), QByteArray("precious"));
        QVERIFY(readIndex().isEmpty());

        const auto renamed = snapshot(QStringLiteral("Renamed"), local(2026, 3, 14, 9, 5));
        QVERIFY(writeIndexWith(renamed.id));
        archiver().archive(renamed);
        QVERIFY(drain());
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QCOMPARE(readFile(keep), QByteArray("precious"));
        QCOMPARE(indexedPath(renamed.id), QStringLiteral("2026/2026-03-14-0905-renamed.md"));
        QFile::remove(victim);
    }

    // A symbolic link inside the archive must not let an archive write replace or create a
    // file elsewhere.
    void symbolicLinksAreNotWrittenThrough_data()
    {
        QTest::addColumn<QString>("link"); // relative to the archive folder; empty: the folder itself
        QTest::addColumn<QString>("target"); // "file", "missing" or "folder", outside the archive
        QTest::newRow("markdown file") << "2026/2026-03-14-0905-plan.md"
                                       << "file";
        QTest::newRow("dangling markdown file") << "2026/2026-03-14-0905-plan.md"
                                                << "missing";
        QTest::newRow("year folder") << "2026"
                                     << "folder";
        QTest::newRow("archive folder") << ""
                                        << "folder";
        QTest::newRow("index") << "index.json"
                               << "file";
        QTest::newRow("dangling index") << "index.json"
                                        << "missing";
    }
    void symbolicLinksAreNotWrittenThrough()
    {
        QFETCH(QString, link);
        QFETCH(QString, target);
        QTemporaryDir outside;
        const QString victim = outside.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "precious"));
        const QString linkPath = link.isEmpty() ? root() : root() + u'/' + link;
        QVERIFY(QDir().mkpath(QFileInfo(linkPath).path()));
        const QString linkTarget = target == QLatin1String("folder")
            ? outside.path()
            : outside.filePath(target == QLatin1String("file") ? QStringLiteral("victim") : QStringLiteral("missing"));
        QVERIFY(QFile::link(linkTarget, linkPath));

        LogCapture log;
        auto plan = snapshot(QStringLiteral("Plan"), local(2026, 3, 14, 9, 5));
        archiver().archive(plan);
        archiver().backfill({ snapshot(QStringLiteral("Plan"), local(2026, 3, 14, 9, 5)) });
        archiver().remove(plan.id);
        archiver().prune({ QUuid::createUuid() });
        QVERIFY(drain());

        QCOMPARE(filesBelow(outside.path()), QStringList { "victim" });
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(linkPath).isSymLink());
        QVERIFY(log.containsPart("[Quillet] Archive failed for " + ArchiveMarkdown::idString(plan.id) + ": "));
        QVERIFY(QFile::remove(linkPath));
    }
};

QUILLET_TEST_MAIN(TestMeetingArchiver)
#include "TestMeetingArchiver.moc"
