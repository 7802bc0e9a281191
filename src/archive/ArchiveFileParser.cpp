#include "archive/ArchiveFileParser.h"

#include "archive/ArchiveMarkdown.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <limits>

namespace ArchiveFileParser {

namespace {

// Horizontal white space only: a carriage return stays part of the text.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// An optional sign, then ASCII digits only, within 64 bits.
std::optional<qint64> parseInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits too.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, qint64(c - u'0'), &value))
            return std::nullopt;
    }
    if (negative)
        return value;
    if (value == std::numeric_limits<qint64>::min())
        return std::nullopt;
    return -value;
}

// minutes * 60 + seconds, or std::nullopt when that leaves 64 bits.
std::optional<qint64> minutesAndSeconds(qint64 minutes, qint64 seconds)
{
    qint64 total = 0;
    if (__builtin_mul_overflow(minutes, 60, &total) || __builtin_add_overflow(total, seconds, &total))
        return std::nullopt;
    return total;
}

std::optional<QUuid> parseUuid(QStringView text)
{
    static const QString pattern = QStringLiteral("xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx");
    if (text.size() != pattern.size())
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (pattern[i] == u'-' ? c != u'-' : !hex)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

// Offset of the first line, at or after `from`, that is exactly `line`; -1 when none.
qsizetype findWholeLine(QStringView text, QStringView line, qsizetype from = 0)
{
    qsizetype start = from;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        if (text.mid(start, end - start) == line)
            return start;
        if (end == text.size())
            break;
        start = end + 1;
    }
    return -1;
}

} // namespace

std::optional<ParsedFile> parse(QStringView text)
{
    const QStringView fence = u"---";
    qsizetype lineEnd = text.indexOf(u'\n');
    if (text.mid(0, lineEnd < 0 ? text.size() : lineEnd) != fence)
        return std::nullopt;
    if (lineEnd < 0)
        return std::nullopt;

    QHash<QString, QString> keys;
    qsizetype start = lineEnd + 1;
    bool closed = false;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool last = end < 0;
        if (last)
            end = text.size();
        const QStringView line = text.mid(start, end - start);
        start = end + 1;
        if (line == fence) {
            closed = true;
            break;
        }
        const qsizetype colon = line.indexOf(u':');
        if (colon >= 0) {
            keys.insert(trimmedBlanks(line.left(colon)).toString(),
                ArchiveMarkdown::yamlUnquoted(trimmedBlanks(line.mid(colon + 1))));
        }
        if (last)
            break;
    }
    if (!closed)
        return std::nullopt;
    const QStringView body = start <= text.size() ? text.mid(start) : QStringView();

    ParsedFile file;
    file.title = keys.value(QStringLiteral("title"), QStringLiteral("Untitled"));
    if (const auto it = keys.constFind(QStringLiteral("date")); it != keys.constEnd())
        file.date = ArchiveMarkdown::parseIsoDate(*it);
    if (const auto it = keys.constFind(QStringLiteral("id")); it != keys.constEnd())
        file.id = parseUuid(*it);
    if (const auto it = keys.constFind(QStringLiteral("duration_minutes")); it != keys.constEnd()) {
        if (const auto minutes = parseInteger(*it)) {
            if (const auto seconds = minutesAndSeconds(*minutes, 0))
                file.duration = static_cast<double>(*seconds);
        }
    }
    Sections sections = extractSections(body);
    file.summary = std::move(sections.summary);
    file.notes = std::move(sections.notes);
    file.turns = std::move(sections.turns);
    file.chat = std::move(sections.chat);
    return file;
}

namespace {

using ArchiveMarkdown::kQuestion;

std::optional<ChatEntry> chatEntryStart(QStringView line)
{
    if (!ArchiveMarkdown::isChatOpening(line))
        return std::nullopt;
    return ChatEntry { line.startsWith(u"**Q:**"), {} };
}

QStringView withoutLeadingBlanks(QStringView text)
{
    qsizetype begin = 0;
    while (begin < text.size() && isBlank(text[begin]))
        ++begin;
    return text.mid(begin);
}

QStringView withoutTrailingBlanks(QStringView text)
{
    qsizetype end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    return text.left(end);
}

// A turn's line with its text's leading blanks trimmed; the text's end is trimmed once its
// further lines are known.
std::optional<Turn> turnOpening(QStringView line);

// A turn's further lines are the indented lines after it. An empty line between two of them is
// one too: an editor that strips trailing blanks leaves an indent-only line empty.
QList<Turn> turnsIn(QStringView section)
{
    QList<Turn> turns;
    bool inTurn = false;
    qsizetype emptyLines = 0; // empty lines seen since the turn's last line
    const auto finishTurn = [&] {
        if (inTurn)
            turns.last().text = withoutTrailingBlanks(turns.last().text).toString();
        inTurn = false;
        emptyLines = 0;
    };
    qsizetype start = 0;
    while (start <= section.size()) {
        qsizetype end = section.indexOf(u'\n', start);
        if (end < 0)
            end = section.size();
        const QStringView line = section.mid(start, end - start);
        start = end + 1;
        if (inTurn && line.startsWith(ArchiveMarkdown::kTurnIndent)) {
            QString& text = turns.last().text;
            for (; emptyLines > 0; --emptyLines)
                text += u'\n';
            text += u'\n';
            text += line.mid(ArchiveMarkdown::kTurnIndent.size());
            continue;
        }
        if (inTurn && line.isEmpty()) {
            ++emptyLines;
            continue;
        }
        finishTurn();
        if (auto turn = turnOpening(line)) {
            turns.append(std::move(*turn));
            inTurn = true;
        }
    }
    finishTurn();
    return turns;
}

// `section` starts with the line feed that ends the heading line.
QList<ChatEntry> chatIn(QStringView section)
{
    struct Opening
    {
        ChatEntry entry;
        qsizetype line; // where its line starts
        qsizetype text; // where its text starts
    };
    QList<Opening> openings;
    bool afterEmptyLine = true; // the heading counts as one
    qsizetype start = section.startsWith(u'\n') ? 1 : 0;
    while (start <= section.size()) {
        qsizetype end = section.indexOf(u'\n', start);
        if (end < 0)
            end = section.size();
        const QStringView line = section.mid(start, end - start);
        if (afterEmptyLine) {
            if (std::optional<ChatEntry> entry = chatEntryStart(line))
                openings.append({ *entry, start, std::min(start + kQuestion.size(), end) });
        }
        afterEmptyLine = line.isEmpty();
        start = end + 1;
    }

    QList<ChatEntry> chat;
    chat.reserve(openings.size());
    for (qsizetype i = 0; i < openings.size(); ++i) {
        const Opening& opening = openings[i];
        // An entry ends with the line feed of its last line and the empty line after it; the
        // last one with the file's final line feed.
        qsizetype end = section.size();
        if (i + 1 < openings.size())
            end = openings[i + 1].line - 2;
        else if (section.endsWith(u'\n'))
            --end;
        ChatEntry entry = opening.entry;
        entry.text
            = ArchiveMarkdown::unescapeChatText(section.mid(opening.text, std::max<qsizetype>(0, end - opening.text)));
        chat.append(std::move(entry));
    }
    return chat;
}

} // namespace

Sections extractSections(QStringView body)
{
    struct Heading
    {
        QStringView line;
        qsizetype at = -1;
    };
    std::array<Heading, 4> headings { { { ArchiveMarkdown::kSummaryHeading }, { ArchiveMarkdown::kNotesHeading },
        { ArchiveMarkdown::kTranscriptHeading }, { ArchiveMarkdown::kChatHeading } } };
    qsizetype from = 0;
    for (Heading& heading : headings) {
        heading.at = findWholeLine(body, heading.line, from);
        if (heading.at >= 0)
            from = heading.at + heading.line.size();
    }
    // A section's text: from the line feed after its heading up to the line feed before the
    // next heading found.
    const auto section = [&](size_t index) -> std::optional<QStringView> {
        const Heading& heading = headings[index];
        if (heading.at < 0)
            return std::nullopt;
        const qsizetype start = heading.at + heading.line.size();
        qsizetype end = body.size();
        for (size_t next = index + 1; next < headings.size(); ++next) {
            if (headings[next].at >= 0) {
                end = headings[next].at - 1;
                break;
            }
        }
        return body.mid(start, std::max<qsizetype>(0, end - start));
    };

    Sections sections;
    // Unescaped before trimming: the trim must not bring a line that was written with blanks
    // before it to the start, where it would read as escaped.
    if (const auto summary = section(0)) {
        const QString trimmed = ArchiveMarkdown::unescapeSectionText(*summary).trimmed();
        if (!trimmed.isEmpty())
            sections.summary = trimmed;
    }
    if (const auto notes = section(1))
        sections.notes = ArchiveMarkdown::unescapeSectionText(*notes).trimmed();
    if (const auto transcript = section(2))
        sections.turns = turnsIn(*transcript);
    if (const auto chat = section(3))
        sections.chat = chatIn(*chat);
    return sections;
}

std::optional<Turn> parseTurn(QStringView line)
{
    std::optional<Turn> turn = turnOpening(line);
    if (turn)
        turn->text = withoutTrailingBlanks(turn->text).toString();
    return turn;
}

namespace {

std::optional<Turn> turnOpening(QStringView line)
{
    if (!line.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = line.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    const QStringView time = line.mid(1, close - 1);
    const qsizetype colon = time.indexOf(u':');
    if (colon < 0 || time.indexOf(u':', colon + 1) >= 0)
        return std::nullopt;
    const auto minutes = parseInteger(time.left(colon));
    const auto seconds = parseInteger(time.mid(colon + 1));
    if (!minutes || !seconds)
        return std::nullopt;
    const auto timestamp = minutesAndSeconds(*minutes, *seconds);
    if (!timestamp)
        return std::nullopt;

    const QStringView rest = withoutLeadingBlanks(line.mid(close + 1));
    if (!rest.startsWith(u"**"))
        return std::nullopt;
    const qsizetype labelEnd = rest.indexOf(u":**", 2);
    if (labelEnd < 0)
        return std::nullopt;

    Turn turn;
    turn.label = ArchiveMarkdown::unescapeLabel(rest.mid(2, labelEnd - 2));
    turn.text = withoutLeadingBlanks(rest.mid(labelEnd + 3)).toString();
    turn.timestamp = static_cast<double>(*timestamp);
    return turn;
}

} // namespace

std::optional<MeetingSnapshot> writersSnapshot(const ParsedFile& file)
{
    if (!file.id || !file.date)
        return std::nullopt;
    MeetingSnapshot snapshot;
    snapshot.id = *file.id;
    snapshot.title = file.title.isEmpty() ? QStringLiteral("Untitled") : file.title;
    snapshot.date = *file.date;
    snapshot.duration = file.duration;
    snapshot.summary = file.summary;
    snapshot.userNotes = file.notes;
    // The labels the import's speakers get back from the writer.
    for (const Turn& turn : file.turns) {
        QString label = turn.label;
        if (label.isEmpty() || label == QLatin1String("Me"))
            label = QStringLiteral("Speaker A");
        else if (label == QLatin1String("Them"))
            label = QStringLiteral("Speaker B");
        snapshot.turns.append({ label, turn.timestamp, turn.text });
    }
    std::stable_sort(snapshot.turns.begin(), snapshot.turns.end(),
        [](const MeetingSnapshot::Turn& a, const MeetingSnapshot::Turn& b) { return a.timestamp < b.timestamp; });
    for (const ChatEntry& entry : file.chat)
        snapshot.chat.append({ entry.fromUser ? QStringLiteral("user") : QStringLiteral("assistant"), entry.text });
    return snapshot;
}

bool isWritersText(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return false;
    const auto file = parse(text);
    const auto snapshot = file ? writersSnapshot(*file) : std::nullopt;
    return snapshot && ArchiveMarkdown::markdown(*snapshot) == bytes;
}

std::optional<QUuid> idOfFile(const QString& path)
{
    constexpr qint64 kHeadBytes = 64 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString head = QString::fromUtf8(file.read(kHeadBytes));
    // The body is not needed: cut after the closing line, where there is one.
    const qsizetype closing = head.indexOf(QLatin1String("\n---\n"), 3);
    const auto parsed = parse(closing < 0 ? QStringView(head) : QStringView(head).left(closing + 4));
    return parsed ? parsed->id : std::nullopt;
}

} // namespace ArchiveFileParser
