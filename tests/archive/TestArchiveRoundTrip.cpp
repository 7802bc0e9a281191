#include "archive/ArchiveFileParser.h"
#include "archive/MeetingArchiver.h"
#include "archive/MeetingImporter.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/FakeClock.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

// Meetings go through the archive and come back: written by the application's archiver,
// imported by the recovery import into an empty store, and read again after reopening it.
// What the file holds must come back; what it cannot hold is listed in the README.

namespace {

struct TurnValue
{
    QString speakerRaw;
    double timestamp = 0;
    QString text;
};

struct ChatValue
{
    QString role;
    QString text;
};

// A meeting as plain values: what is made, and what is expected back.
struct MeetingValue
{
    QUuid id;
    QString title;
    QDateTime date;
    double duration = 0;
    std::optional<QString> summary;
    QString notes;
    QList<TurnValue> turns;
    QList<ChatValue> chat;
};

QString printable(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0)
            || c.unicode() == 0x2028 || c.unicode() == 0x2029)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out.size() > 300 ? out.left(300) + QStringLiteral("…(%1 more)").arg(out.size() - 300) : out;
}

// A meeting's fields, one a line, each named.
QStringList fields(const MeetingValue& m)
{
    QStringList lines { "title " + m.title, "date " + m.date.toString(Qt::ISODateWithMs),
        "duration " + QString::number(m.duration), "summary " + (m.summary ? u'"' + *m.summary : "none"),
        "notes " + m.notes };
    for (const TurnValue& t : m.turns)
        lines << QStringLiteral("turn %1 %2: %3").arg(t.speakerRaw, QString::number(t.timestamp), t.text);
    for (const ChatValue& c : m.chat)
        lines << QStringLiteral("chat %1: %2").arg(c.role, c.text);
    return lines;
}

// The first field in which two meetings differ, in words; empty when they are equal.
QString difference(const MeetingValue& got, const MeetingValue& want)
{
    const QStringList a = fields(got);
    const QStringList b = fields(want);
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (a.value(i) != b.value(i))
            return QStringLiteral("got  %1\nwant %2").arg(printable(a.value(i)), printable(b.value(i)));
    }
    return {};
}

std::unique_ptr<Meeting> makeMeeting(const MeetingValue& value)
{
    auto meeting = std::make_unique<Meeting>(value.title, value.date);
    meeting->setId(value.id);
    meeting->setDuration(value.duration);
    meeting->setSummary(value.summary);
    meeting->setUserNotes(value.notes);
    for (const TurnValue& turn : value.turns) {
        auto* segment = new TranscriptSegment(turn.text, Speaker::me(), turn.timestamp);
        segment->setSpeakerRaw(turn.speakerRaw);
        meeting->appendSegment(segment);
    }
    const QDateTime created(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    for (qsizetype i = 0; i < value.chat.size(); ++i) {
        auto* message
            = new ChatMessage(value.chat[i].role == QLatin1String("assistant") ? ChatRole::Assistant : ChatRole::User,
                value.chat[i].text, std::nullopt);
        message->setCreatedAt(created.addSecs(i));
        meeting->appendChatMessage(message);
    }
    return meeting;
}

MeetingValue valueOf(const Meeting& meeting)
{
    MeetingValue value { meeting.id(), meeting.title(), meeting.date(), meeting.duration(), meeting.summary(),
        meeting.userNotes(), {}, {} };
    for (const TranscriptSegment* s : meeting.sortedSegments())
        value.turns.append({ s->speakerRaw(), s->timestamp(), s->text() });
    for (const ChatMessage* m : meeting.sortedChatMessages())
        value.chat.append({ m->roleRaw(), m->text() });
    return value;
}

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\u0085' || c == u'\u2028' || c == u'\u2029';
}

QString oneLine(const QString& text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : line) {
        if (isLineBreak(c))
            c = u' ';
    }
    return line;
}

bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString withoutOuterBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// What the file gives back of a meeting: the README's list of what the archive cannot hold.
MeetingValue expectedBack(const MeetingValue& made)
{
    MeetingValue back;
    back.id = made.id;
    back.title = made.title.isEmpty() ? QStringLiteral("Untitled") : oneLine(made.title);
    back.date = QDateTime::fromSecsSinceEpoch(made.date.toSecsSinceEpoch(), Qt::UTC);
    back.duration = static_cast<double>(static_cast<qint64>(made.duration) / 60 * 60);
    if (made.summary && !made.summary->trimmed().isEmpty())
        back.summary = made.summary->trimmed();
    back.notes = made.notes.trimmed();
    QList<TurnValue> turns = made.turns;
    std::stable_sort(
        turns.begin(), turns.end(), [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    for (const TurnValue& turn : turns) {
        QString speaker = turn.speakerRaw.isEmpty() ? QStringLiteral("Me") : oneLine(turn.speakerRaw);
        back.turns.append({ speaker, std::trunc(turn.timestamp), withoutOuterBlanks(turn.text) });
    }
    back.chat = made.chat;
    return back;
}

// Pieces that look like the file's own structure, or that editors and parsers treat specially.
const QStringList& hostilePieces()
{
    static const QStringList pieces {
        QStringLiteral("## Summary"),
        QStringLiteral("## My Notes"),
        QStringLiteral("## Transcript"),
        QStringLiteral("## Chat"),
        QStringLiteral("\\## Summary"),
        QStringLiteral("\\\\## Chat"),
        QStringLiteral("## Summary "),
        QStringLiteral("# Heading"),
        QStringLiteral("---"),
        QStringLiteral("**Q:** "),
        QStringLiteral("**A:** forged answer"),
        QStringLiteral("**Q:**"),
        QStringLiteral("**A:**x"),
        QStringLiteral("\\**Q:** escaped"),
        QStringLiteral("\\\\**A:** "),
        QStringLiteral("[00:01] **Speaker A:** forged turn"),
        QStringLiteral("[12:34] **Them:**"),
        QStringLiteral("\\[00:02] **B:** y"),
        QStringLiteral("    indented"),
        QStringLiteral("title: \"yaml\""),
        QStringLiteral("id: 6F9619FF-8B86-D011-B42D-00C04FC964FF"),
        QStringLiteral("date: 2026-03-14T08:30:00Z"),
        QStringLiteral("- [ ] task"),
        QStringLiteral("```"),
        QStringLiteral("label:** x"),
        QStringLiteral(":\\**"),
        QStringLiteral("\\"),
        QStringLiteral("\\\""),
        QStringLiteral("\""),
        QStringLiteral("C:\\temp\\new"),
        QStringLiteral("100% %1 %s"),
        QStringLiteral("\\x01 \\u2028 \\t"),
        QStringLiteral("trailing   "),
        QStringLiteral("   leading"),
        QStringLiteral("\t"),
        QStringLiteral(" "),
        QString(),
        QStringLiteral("🚀 Launch 👩‍👩‍👧 review 🎉"),
        QStringLiteral("שלום עולם"),
        QStringLiteral("مرحبا بالعالم"),
        QStringLiteral("\u202Eevil\u202C"),
        QStringLiteral("Họp với anh Đặng"),
        QStringLiteral("e\u0301\u0302"),
        QStringLiteral("zero\u200Bwidth"),
        QStringLiteral("\u00A0nbsp\u00A0"),
        QStringLiteral("\u3000ideographic\u3000"),
        QString(QChar(0x01)),
        QString(QChar(0x1F)),
        QString(QChar(0x7F)),
        QString(QChar(0x9B)),
        // Not alone: the store drops a leading U+FEFF and garbles U+FFFE, which SQLite reads
        // as byte-order marks.
        QStringLiteral("zero\uFEFFwidth"),
        QStringLiteral("\u0085"),
        QStringLiteral("\u2028"),
        QStringLiteral("\u2029"),
        QStringLiteral("\u000B\u000C"),
    };
    return pieces;
}

class Generator
{
public:
    explicit Generator(quint32 seed)
        : m_random(seed)
    { }

    int below(int n) { return static_cast<int>(m_random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }

    QString piece()
    {
        if (chance(2))
            return QString(below(2) ? u'x' : u'é').repeated(2000 + below(20000));
        if (chance(30)) {
            static const QStringList words { "agreed", "budget", "Linh", "Q3", "ship", "the", "on", "2 April" };
            return words[below(words.size())];
        }
        return hostilePieces()[below(hostilePieces().size())];
    }

    QString lineBreak()
    {
        static const QStringList breaks { "\n", "\n", "\n", "\r\n", "\r", "\n\n", "\n\n\n" };
        return breaks[below(breaks.size())];
    }

    // A few lines, each a few pieces; sometimes with line breaks at either end.
    QString text(int maxLines)
    {
        QString text;
        if (chance(10))
            text += lineBreak();
        const int lines = below(maxLines + 1);
        for (int line = 0; line < lines; ++line) {
            if (line > 0)
                text += lineBreak();
            const int pieces = 1 + below(3);
            for (int i = 0; i < pieces; ++i)
                text += (i > 0 && chance(50) ? QStringLiteral(" ") : QString()) + piece();
        }
        if (chance(10))
            text += lineBreak();
        return text;
    }

    QString speakerRaw()
    {
        switch (below(4)) {
        case 0:
            return QStringLiteral("Me");
        case 1:
            return QStringLiteral("Them");
        case 2:
            return QString();
        default:
            break;
        }
        static const QStringList names { "Linh Nguyen", "A:**B", "Ana :** x", "x:\\**y", "**bold**", " spaced ",
            "🎉 Party", "שרה", "tab\there", "ends with:", "colon:*", "Speaker A ", "trailing\\" };
        QString name = chance(60) ? names[below(names.size())] : text(1);
        // The archive's own labels for me and them are not names.
        static const QStringList reserved { "Speaker A", "Speaker B", "Me", "Them", "" };
        if (reserved.contains(oneLine(name)))
            name += QStringLiteral(" 2");
        return name;
    }

    MeetingValue meeting()
    {
        MeetingValue m;
        m.id = QUuid::createUuid();
        m.title = chance(10) ? QString() : text(2).left(300);
        if (!m.title.isEmpty() && m.title.back().isHighSurrogate()) // never half an emoji
            m.title.chop(1);
        const qint64 start = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        const qint64 span = qint64(30) * 365 * 24 * 3600 * 1000;
        m.date = QDateTime::fromMSecsSinceEpoch(start + qint64(m_random.bounded(double(span))), Qt::UTC);
        m.duration = chance(10) ? 0 : m_random.bounded(20000.0);
        if (chance(70))
            m.summary = text(6);
        if (chance(80))
            m.notes = text(8);
        const int turns = chance(20) ? 0 : below(8);
        for (int i = 0; i < turns; ++i)
            m.turns.append({ speakerRaw(), chance(10) ? 0.0 : m_random.bounded(10000.0), text(chance(30) ? 4 : 1) });
        const int chat = chance(40) ? 0 : below(6);
        for (int i = 0; i < chat; ++i)
            m.chat.append({ below(2) ? QStringLiteral("user") : QStringLiteral("assistant"), text(5) });
        return m;
    }

private:
    QRandomGenerator m_random;
};

quint32 seedFromEnvironment()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("QUILLET_ROUNDTRIP_SEED").toUInt(&ok);
    return ok ? seed : QRandomGenerator::global()->generate();
}

int countFromEnvironment(int fallback)
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("QUILLET_ROUNDTRIP_MEETINGS", &ok);
    return ok && count > 0 ? count : fallback;
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString earlierFixture()
{
    return QStringLiteral(QUILLET_TEST_DATA_DIR "/archive/earlier");
}

// Reads each file's front matter with PyYAML (Debian's python3-yaml, which scripts/packages.txt
// installs) and gives back what YAML makes of it, keyed by the id it read.
const char* const kYamlReader = R"PY(
import datetime, json, sys, yaml
out = []
for path in sys.argv[1:]:
    text = open(path, encoding='utf-8').read()
    front = text.split('\n---\n', 1)[0][len('---\n'):]
    try:
        data = yaml.safe_load(front)
    except yaml.YAMLError as error:
        out.append({'path': path, 'error': str(error)})
        continue
    date = data.get('date')
    if isinstance(date, datetime.datetime):
        if date.tzinfo is not None:
            date = date.astimezone(datetime.timezone.utc).replace(tzinfo=None)
        date = date.strftime('%Y-%m-%dT%H:%M:%SZ')
    out.append({'path': path, 'id': str(data.get('id')), 'title': data.get('title'), 'date': date,
                'duration_minutes': data.get('duration_minutes')})
json.dump(out, sys.stdout, ensure_ascii=True)
)PY";

} // namespace

Q_DECLARE_METATYPE(MeetingValue)

class TestArchiveRoundTrip final : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    std::unique_ptr<QTemporaryDir> m_archive;

    QString archiveRoot() const { return m_archive->path() + QStringLiteral("/QuilletNotes"); }

    // Writes the meetings with the application's archiver, imports them into an empty store,
    // reopens that store and reads every meeting back by identifier.
    bool roundTrip(const QList<MeetingValue>& made, QHash<QUuid, MeetingValue>& back)
    {
        QList<MeetingSnapshot> snapshots;
        snapshots.reserve(made.size());
        for (const MeetingValue& value : made)
            snapshots.append(MeetingSnapshot(*makeMeeting(value)));
        QElapsedTimer phase;
        phase.start();
        MarkdownArchiver archiver(archiveRoot());
        archiver.backfill(snapshots);
        const QFuture<void> idle = archiver.idle();
        if (!QTest::qWaitFor([&] { return idle.isFinished(); }, 600'000))
            return false;
        const qint64 written = phase.restart();

        TempStore store;
        MeetingImporter::runIfNeeded(store.context(), m_clock, archiveRoot());
        const qint64 imported = phase.restart();
        ModelContext& reopened = store.reopen();
        for (const Meeting* meeting : reopened.fetchMeetings())
            back.insert(meeting->id(), valueOf(*meeting));
        if (made.size() > 1) {
            qInfo("%lld meetings: written in %lld ms, imported in %lld ms, read again in %lld ms", qint64(made.size()),
                written, imported, phase.elapsed());
        }
        return true;
    }

    QString fileOf(const QUuid& id) const
    {
        QDirIterator it(archiveRoot(), { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
        const QString line = QStringLiteral("id: ") + id.toString(QUuid::WithoutBraces).toUpper();
        while (it.hasNext()) {
            const QString text = readText(it.next());
            if (text.contains(line))
                return text;
        }
        return {};
    }

private slots:
    void init() { m_archive = std::make_unique<QTemporaryDir>(); }

    // Text that reads like the file's own structure, as people and the model write it.
    void textLikeTheFilesStructureComesBack_data()
    {
        QTest::addColumn<MeetingValue>("made");
        QTest::addColumn<QStringList>("writtenLines"); // lines the file must hold
        const QDateTime date(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);
        const auto meeting = [&](const QString& title) {
            MeetingValue m;
            m.id = QUuid::createUuid();
            m.title = title;
            m.date = date;
            return m;
        };

        MeetingValue ownHeading = meeting(QStringLiteral("Planning"));
        ownHeading.notes = QStringLiteral("Agenda\n## Summary\nWe agreed on Friday");
        QTest::newRow("a summary heading in notes, no summary")
            << ownHeading << QStringList { "Agenda", "\\## Summary", "We agreed on Friday" };

        MeetingValue laterHeadings = meeting(QStringLiteral("Later headings"));
        laterHeadings.notes = QStringLiteral("before\n## Transcript\nmiddle\n## Chat\nafter");
        laterHeadings.turns = { { QStringLiteral("Me"), 3, QStringLiteral("hello") } };
        QTest::newRow("transcript and chat headings in notes")
            << laterHeadings << QStringList { "\\## Transcript", "\\## Chat" };

        MeetingValue summaryCut = meeting(QStringLiteral("Summary cut"));
        summaryCut.summary = QStringLiteral("**Decisions**\n## My Notes\n- ship\n## Chat\n- hire");
        summaryCut.notes = QStringLiteral("mine");
        QTest::newRow("headings in the summary") << summaryCut << QStringList { "\\## My Notes", "\\## Chat" };

        MeetingValue alreadyEscaped = meeting(QStringLiteral("Escapes"));
        alreadyEscaped.notes = QStringLiteral("\\## Summary\n\\\\## Chat\n\\*kept\\*");
        QTest::newRow("lines that already start with an escape")
            << alreadyEscaped << QStringList { "\\\\## Summary", "\\\\\\## Chat", "\\*kept\\*" };

        MeetingValue multiline = meeting(QStringLiteral("Multi-line turns"));
        multiline.turns = { { QStringLiteral("Them"), 1, QStringLiteral("first\nsecond\n\n  third") },
            { QStringLiteral("Me"), 2, QStringLiteral("[00:03] **Speaker B:** quoted\n## Chat") },
            { QStringLiteral("Them"), 4, QStringLiteral("last\r\nline") } };
        multiline.chat = { { QStringLiteral("user"), QStringLiteral("q") } };
        QTest::newRow("turns with line breaks")
            << multiline << QStringList { "[00:01] **Speaker B:** first", "    second", "    ", "      third" };

        MeetingValue forged = meeting(QStringLiteral("Forged chat"));
        forged.chat = { { QStringLiteral("user"), QStringLiteral("What was decided?") },
            { QStringLiteral("assistant"), QStringLiteral("Two things.\n\n**Q:** not a question\n\n**A:** nor this") },
            { QStringLiteral("user"), QStringLiteral("Thanks\n\n\\**A:** typed with a backslash\n") } };
        QTest::newRow("chat openings inside answers")
            << forged
            << QStringList { "\\**Q:** not a question", "\\**A:** nor this", "\\\\**A:** typed with a backslash" };

        MeetingValue names = meeting(QStringLiteral("Names"));
        names.turns = { { QStringLiteral("Ana:** Lee"), 5, QStringLiteral("hi") },
            { QStringLiteral("x:\\**y"), 6, QStringLiteral("there") } };
        QTest::newRow("speaker names holding the label's end")
            << names << QStringList { "[00:05] **Ana:\\** Lee:** hi", "[00:06] **x:\\\\**y:** there" };

        MeetingValue control = meeting(QStringLiteral("a\x01"
                                                      "b\tc\x7F"
                                                      "d\u0085e\u2028f\u0091g\uFEFFh"));
        QTest::newRow("control characters in the title")
            << control << QStringList { "title: \"a\\x01b\\tc\\x7Fd e f\\x91g\\uFEFFh\"" };
    }
    void textLikeTheFilesStructureComesBack()
    {
        QFETCH(MeetingValue, made);
        QFETCH(QStringList, writtenLines);
        QHash<QUuid, MeetingValue> back;
        QVERIFY(roundTrip({ made }, back));
        QVERIFY(back.contains(made.id));
        const QString differs = difference(back.value(made.id), expectedBack(made));
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
        // Written as markdown escapes it, so that viewers show the text as typed.
        const QStringList lines = fileOf(made.id).split(u'\n');
        for (const QString& line : writtenLines)
            QVERIFY2(
                lines.contains(line), qPrintable(QStringLiteral("no line \"%1\" in:\n").arg(line) + lines.join(u'\n')));
    }

    // A file of the earlier writer, whose user text went in verbatim, reads as it always did.
    void earlierFilesImportAsBefore()
    {
        QVERIFY(QDir().mkpath(archiveRoot() + QStringLiteral("/2026")));
        const QString name = QStringLiteral("/2026/2026-05-04-1000-ops-weekly-review-tab.md");
        QVERIFY(QFile::copy(earlierFixture() + name, archiveRoot() + name));
        TempStore store;
        MeetingImporter::runIfNeeded(store.context(), m_clock, archiveRoot());
        const QList<Meeting*> meetings = store.reopen().fetchMeetings();
        QCOMPARE(meetings.size(), 1);

        MeetingValue want;
        want.id = QUuid::fromString(u"0D6E1C52-7A0B-4C1E-9D3A-5B2F8E4A6C10");
        want.title = QStringLiteral("Ops \"weekly\" \\ review\ttab\x01");
        want.date = QDateTime(QDate(2026, 5, 4), QTime(8, 0), Qt::UTC);
        want.duration = 30 * 60;
        want.summary = QStringLiteral("Paths like C:\\temp and \\*starred\\* stay as written.");
        want.notes = QStringLiteral("- Ask about \\[the budget]\n  - indented sub-point");
        // A turn's unindented further line was never taken back; nor is it now.
        want.turns = { { "Me", 0, "Opening line" }, { "Them", 7, "padded answer" }, { "Linh", 65, "fine" } };
        want.chat = { { "user", "What next?" }, { "assistant", "Ship it." }, { "user", "forged inside the answer" } };
        const QString differs = difference(valueOf(*meetings.first()), want);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
    }

    // Front matter edited by hand or by other tools is read as YAML reads a double-quoted value;
    // a backslash that starts no YAML escape stays as it stands.
    void quotedValuesReadAsYaml_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("title");
        QTest::newRow("the writer's escapes") << QStringLiteral("\"a \\\"b\\\" \\\\ c\\t\\x01\\u2028\\U0001F680\"")
                                              << QStringLiteral("a \"b\" \\ c\t\x01\u2028🚀");
        QTest::newRow("short forms") << QStringLiteral("\"\\0\\a\\b\\n\\v\\f\\r\\e\\ \\/\\N\\_\\L\\P\"")
                                     << QString::fromUtf16(u"\0\a\b\n\v\f\r\x1B /\u0085\u00A0\u2028\u2029", 14);
        QTest::newRow("no escape") << QStringLiteral("\"C:\\Quillet\\q\"") << QStringLiteral("C:\\Quillet\\q");
        QTest::newRow("short hex") << QStringLiteral("\"\\x4 \\u12 \\U0011FFFF \\uD800\"")
                                   << QStringLiteral("\\x4 \\u12 \\U0011FFFF \\uD800");
        QTest::newRow("backslash last") << QStringLiteral("\"end\\\"") << QStringLiteral("end\\");
        QTest::newRow("byte-order mark kept") << QStringLiteral("\"\\uFEFFa\"") << QStringLiteral("\uFEFFa");
        QTest::newRow("not quoted") << QStringLiteral("plain \\t \"x\"") << QStringLiteral("plain \\t \"x\"");
    }
    void quotedValuesReadAsYaml()
    {
        QFETCH(QString, value);
        QFETCH(QString, title);
        const auto file = ArchiveFileParser::parse(QStringLiteral("---\ntitle: ") + value + QStringLiteral("\n---\n"));
        QVERIFY(file);
        QCOMPARE(printable(file->title), printable(title));
    }

    // A turn's further lines are its indented lines; an editor may have stripped an indent-only
    // line to an empty one.
    void turnFurtherLines_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("indented lines") << "[00:01] **A:** one\n    two\n      three  \n[00:02] **B:** next\n"
                                        << QStringList { "one\ntwo\n  three", "next" };
        QTest::newRow("stripped empty line between") << "[00:01] **A:** one\n\n    two\n"
                                                     << QStringList { "one\n\ntwo" };
        QTest::newRow("empty lines after the turn") << "[00:01] **A:** one  \n\n\n" << QStringList { "one" };
        QTest::newRow("unindented line ends the turn") << "[00:01] **A:** one\nloose\n    two\n"
                                                       << QStringList { "one" };
        QTest::newRow("indent before any turn") << "    stray\n[00:01] **A:** one\n" << QStringList { "one" };
        QTest::newRow("trailing blanks kept inside") << "[00:01] **A:**  one  \n    two\t\n"
                                                     << QStringList { "one  \ntwo" };
    }
    void turnFurtherLines()
    {
        QFETCH(QString, transcript);
        QFETCH(QStringList, texts);
        const auto file = ArchiveFileParser::parse(QStringLiteral("---\n---\n\n## Transcript\n\n") + transcript);
        QVERIFY(file);
        QStringList read;
        for (const ArchiveFileParser::Turn& turn : file->turns)
            read.append(turn.text);
        QCOMPARE(read, texts);
    }

    // Seeded: QUILLET_ROUNDTRIP_SEED repeats a run, QUILLET_ROUNDTRIP_MEETINGS changes its size.
    void generatedMeetingsComeBack()
    {
        const quint32 seed = seedFromEnvironment();
        const int count = countFromEnvironment(2000);
        // The test environment passes no variables of its own: to repeat a run, start the test
        // program directly.
        qInfo("Round trip of %d meetings; to repeat: QUILLET_ROUNDTRIP_SEED=%u %s generatedMeetingsComeBack", count,
            seed, qPrintable(QCoreApplication::applicationFilePath()));
        Generator generator(seed);
        QList<MeetingValue> made;
        made.reserve(count);
        for (int i = 0; i < count; ++i)
            made.append(generator.meeting());

        QHash<QUuid, MeetingValue> back;
        QVERIFY(roundTrip(made, back));
        QCOMPARE(back.size(), made.size());
        for (qsizetype i = 0; i < made.size(); ++i) {
            const MeetingValue& m = made[i];
            const QString differs = difference(back.value(m.id), expectedBack(m));
            if (!differs.isEmpty()) {
                QFAIL(qPrintable(QStringLiteral("seed %1, meeting %2: %3\nfile:\n%4")
                                     .arg(seed)
                                     .arg(i)
                                     .arg(differs, printable(fileOf(m.id).left(4000)))));
            }
        }

        // Other tools read the front matter as YAML: the same title, date and id must come out.
        const QString python
            = QStandardPaths::findExecutable(QStringLiteral("python3"), { QStringLiteral("/usr/bin") });
        QVERIFY2(!python.isEmpty(), "python3 with python3-yaml (scripts/install-deps) reads the front matter");
        QStringList files;
        QDirIterator it(archiveRoot(), { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        QProcess reader;
        reader.start(python, QStringList { QStringLiteral("-c"), QString::fromLatin1(kYamlReader) } + files);
        QVERIFY(reader.waitForFinished(600'000));
        QVERIFY2(reader.exitCode() == 0, reader.readAllStandardError().constData());
        const QJsonArray read = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
        QCOMPARE(read.size(), made.size());
        QHash<QString, MeetingValue> byId;
        for (const MeetingValue& m : made)
            byId.insert(m.id.toString(QUuid::WithoutBraces).toUpper(), expectedBack(m));
        for (const QJsonValue& entry : read) {
            const QJsonObject file = entry.toObject();
            QVERIFY2(!file.contains(QLatin1String("error")),
                qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(QJsonDocument(file).toJson().constData())));
            const auto want = byId.constFind(file.value(QLatin1String("id")).toString());
            QVERIFY2(want != byId.constEnd(), qPrintable(file.value(QLatin1String("path")).toString()));
            QCOMPARE(printable(file.value(QLatin1String("title")).toString()), printable(want->title));
            QCOMPARE(file.value(QLatin1String("date")).toString(), want->date.toString(Qt::ISODate));
            QCOMPARE(file.value(QLatin1String("duration_minutes")).toInteger() * 60, qint64(want->duration));
        }
    }
};

QUILLET_TEST_MAIN(TestArchiveRoundTrip)
#include "TestArchiveRoundTrip.moc"
