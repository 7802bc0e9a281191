#include "archive/ArchiveMarkdown.h"

#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QTime>
#include <cmath>
#include <limits>
#include <utility>

namespace ArchiveMarkdown {

namespace {

// Whole seconds toward zero; 0 for values that have none.
qint64 wholeSeconds(double seconds)
{
    // 2^63 is exactly representable; everything below it converts without overflow.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(seconds) || seconds >= limit || seconds < -limit)
        return 0;
    return static_cast<qint64>(seconds);
}

bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\u0085' || c == u'\u2028' || c == u'\u2029';
}

int digitsAt(QStringView text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The longest start of `text` that takes at most `maxBytes` in UTF-8 and ends between two
// user-perceived characters.
QString utf8Prefix(const QString& text, qsizetype maxBytes)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    qsizetype bytes = 0;
    for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        bytes += QStringView(text).sliced(end, next - end).toUtf8().size();
        if (bytes > maxBytes)
            break;
        end = next;
    }
    return text.left(end);
}

using LinePredicate = bool (*)(QStringView);

qsizetype leadingBackslashes(QStringView line)
{
    qsizetype count = 0;
    while (count < line.size() && line[count] == u'\\')
        ++count;
    return count;
}

bool readsAsHeadingOrChatOpening(QStringView line)
{
    return isSectionHeading(line) || isChatOpening(line);
}

// Each line of `text` (split at line feeds), from the one at index `firstLine` on, that reads as
// structure once its leading backslashes are passed over gets one more of them (`add`) or one
// fewer (when it has any).
QString mapLines(QStringView text, LinePredicate structure, qsizetype firstLine, bool add)
{
    QString out;
    out.reserve(text.size() + (add ? 16 : 0));
    qsizetype start = 0;
    for (qsizetype index = 0;; ++index) {
        const qsizetype feed = text.indexOf(u'\n', start);
        const qsizetype end = feed < 0 ? text.size() : feed;
        QStringView line = text.mid(start, end - start);
        if (index >= firstLine) {
            const qsizetype backslashes = leadingBackslashes(line);
            if (structure(line.mid(backslashes))) {
                if (add)
                    out += u'\\';
                else if (backslashes > 0)
                    line = line.mid(1);
            }
        }
        out += line;
        if (feed < 0)
            break;
        out += u'\n';
        start = feed + 1;
    }
    return out;
}

// Whether `label` holds "**" at `at`, after any backslashes; the number of backslashes, or -1.
qsizetype backslashesBeforeStars(QStringView label, qsizetype at)
{
    const qsizetype backslashes = leadingBackslashes(label.mid(at));
    return label.mid(at + backslashes).startsWith(u"**") ? backslashes : -1;
}

// YAML's escapes of one letter after the backslash, and what each stands for.
constexpr std::pair<char16_t, char16_t> kShortEscapes[]
    = { { u'0', 0x00 }, { u'a', 0x07 }, { u'b', 0x08 }, { u't', 0x09 }, { u'\t', 0x09 }, { u'n', 0x0A }, { u'v', 0x0B },
          { u'f', 0x0C }, { u'r', 0x0D }, { u'e', 0x1B }, { u' ', 0x20 }, { u'"', 0x22 }, { u'/', 0x2F },
          { u'\\', 0x5C }, { u'N', 0x85 }, { u'_', 0xA0 }, { u'L', 0x2028 }, { u'P', 0x2029 } };

bool isHex(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The code point of `digits` hexadecimal digits at `at`, or -1.
qint64 hexAt(QStringView text, qsizetype at, qsizetype digits)
{
    if (at + digits > text.size())
        return -1;
    qint64 value = 0;
    for (qsizetype i = at; i < at + digits; ++i) {
        const char16_t c = text[i].unicode();
        if (!isHex(c))
            return -1;
        value = value * 16 + (c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10);
    }
    return value;
}

} // namespace

bool isSectionHeading(QStringView line)
{
    return line == kSummaryHeading || line == kNotesHeading || line == kTranscriptHeading || line == kChatHeading;
}

bool isChatOpening(QStringView line)
{
    return line.startsWith(kQuestion) || line == kQuestion.trimmed() || line.startsWith(kAnswer)
        || line == kAnswer.trimmed();
}

QString escapeSectionText(QStringView text)
{
    return mapLines(text, isSectionHeading, 0, true);
}

QString unescapeSectionText(QStringView text)
{
    return mapLines(text, isSectionHeading, 0, false);
}

QString escapeChatText(QStringView text)
{
    return mapLines(text, readsAsHeadingOrChatOpening, 1, true);
}

QString unescapeChatText(QStringView text)
{
    return mapLines(text, readsAsHeadingOrChatOpening, 1, false);
}

QString escapeLabel(QStringView label)
{
    const QString line = singleLineTitle(label.toString());
    QString out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        out += line[i];
        if (line[i] == u':' && backslashesBeforeStars(line, i + 1) >= 0)
            out += u'\\';
    }
    return out;
}

QString unescapeLabel(QStringView label)
{
    QString out;
    out.reserve(label.size());
    for (qsizetype i = 0; i < label.size(); ++i) {
        out += label[i];
        if (label[i] == u':' && backslashesBeforeStars(label, i + 1) > 0)
            ++i;
    }
    return out;
}

QString yamlQuoted(QStringView text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u == u'"')
            out += QStringLiteral("\\\"");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QString::asprintf("\\x%02X", unsigned(u));
        else if (u == 0x2028 || u == 0x2029 || u == 0xFEFF || u == 0xFFFE || u == 0xFFFF)
            out += QString::asprintf("\\u%04X", unsigned(u));
        else
            out += c;
    }
    out += u'"';
    return out;
}

QString yamlUnquoted(QStringView value)
{
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return value.toString();
    const QStringView inner = value.mid(1, value.size() - 2);
    QString out;
    out.reserve(inner.size());
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] != u'\\' || i + 1 == inner.size()) {
            out += inner[i];
            continue;
        }
        const char16_t next = inner[i + 1].unicode();
        char32_t decoded = 0;
        qsizetype length = 0; // of the escape; 0 when it is none
        if (next == u'x' || next == u'u' || next == u'U') {
            const qsizetype digits = next == u'x' ? 2 : next == u'u' ? 4 : 8;
            const qint64 code = hexAt(inner, i + 2, digits);
            if (code >= 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                decoded = char32_t(code);
                length = 2 + digits;
            }
        } else {
            for (const auto& [letter, code] : kShortEscapes) {
                if (letter == next) {
                    decoded = code;
                    length = 2;
                    break;
                }
            }
        }
        if (length == 0) {
            // Not an escape YAML knows: the backslash is text (a hand-written "C:\Quillet").
            out += inner[i];
            continue;
        }
        // Not QString::fromUcs4, which would take a U+FEFF for a byte-order mark and drop it.
        if (QChar::requiresSurrogates(decoded)) {
            out += QChar(QChar::highSurrogate(decoded));
            out += QChar(QChar::lowSurrogate(decoded));
        } else {
            out += QChar(char16_t(decoded));
        }
        i += length - 1;
    }
    return out;
}

QString idString(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString isoDate(const QDateTime& date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> parseIsoDate(QStringView text)
{
    // yyyy-MM-ddTHH:mm:ss followed by Z or +hh:mm / -hh:mm
    if (text.size() != 20 && text.size() != 25)
        return std::nullopt;
    if (text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':' || text[16] != u':')
        return std::nullopt;
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2);
    const int minute = digitsAt(text, 14, 2);
    const int second = digitsAt(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (text.size() == 20) {
        if (text[19] != u'Z')
            return std::nullopt;
    } else {
        const char16_t sign = text[19].unicode();
        if ((sign != u'+' && sign != u'-') || text[22] != u':')
            return std::nullopt;
        const int offsetHours = digitsAt(text, 20, 2);
        const int offsetMinutes = digitsAt(text, 23, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (sign == u'-' ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

qint64 wholeMinutes(double seconds)
{
    return wholeSeconds(seconds) / 60;
}

QString slugify(const QString& title)
{
    // Case and accent folding: lower case, decompose, drop the non-spacing marks, compose
    // again so that scripts which decompose without accents (Hangul) come back whole.
    // Letters without a decomposition ("đ", "ø") stay as they are.
    const QString decomposed = QLocale().toLower(title).normalized(QString::NormalizationForm_D);
    QString stripped;
    stripped.reserve(decomposed.size());
    for (const char32_t c : decomposed.toUcs4()) {
        if (QChar::category(c) != QChar::Mark_NonSpacing)
            stripped.append(QString::fromUcs4(&c, 1));
    }
    const QString folded = stripped.normalized(QString::NormalizationForm_C);

    constexpr int maxCharacters = 60;
    QString slug;
    int characters = 0;
    bool afterSeparator = true;
    for (const char32_t c : folded.toUcs4()) {
        if (QChar::isLetterOrNumber(c) || QChar::isMark(c)) {
            slug.append(QString::fromUcs4(&c, 1));
            // A mark joins the character before it rather than starting a new one.
            if (!QChar::isMark(c) || afterSeparator)
                ++characters;
            afterSeparator = false;
        } else if (!afterSeparator) {
            slug.append(u'-');
            ++characters;
            afterSeparator = true;
        }
        if (characters >= maxCharacters)
            break;
    }
    while (slug.startsWith(u'-'))
        slug.remove(0, 1);
    while (slug.endsWith(u'-'))
        slug.chop(1);
    return slug;
}

QString fileName(const MeetingSnapshot& snapshot)
{
    const QString stamp = snapshot.date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd-HHmm"));
    const QString extension = QStringLiteral(".md");
    const qsizetype slugBytes = kMaxFileNameBytes - kIdSuffixBytes - stamp.toUtf8().size() - 1 - extension.size();
    QString slug = slugify(snapshot.title);
    if (slug.toUtf8().size() > slugBytes) {
        slug = utf8Prefix(slug, slugBytes);
        while (slug.endsWith(u'-'))
            slug.chop(1);
    }
    return slug.isEmpty() ? stamp + extension : stamp + u'-' + slug + extension;
}

QString yearFolder(const QDateTime& date)
{
    return QString::number(date.toLocalTime().date().year());
}

QString singleLineTitle(const QString& title)
{
    QString line;
    line.reserve(title.size());
    for (qsizetype i = 0; i < title.size(); ++i) {
        const char16_t c = title[i].unicode();
        if (!isLineBreak(c)) {
            line.append(title[i]);
            continue;
        }
        if (c == u'\r' && i + 1 < title.size() && title[i + 1] == u'\n')
            ++i;
        line.append(u' ');
    }
    return line;
}

QString turnLine(const MeetingSnapshot::Turn& turn)
{
    const qint64 seconds = wholeSeconds(turn.timestamp);
    QString text = turn.text;
    text.replace(u'\n', QStringLiteral("\n") + kTurnIndent.toString());
    return QString::asprintf(
               "[%02lld:%02lld] **", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60))
        + escapeLabel(turn.label) + QStringLiteral(":** ") + text;
}

QByteArray markdown(const MeetingSnapshot& snapshot)
{
    const QString title = singleLineTitle(snapshot.title);

    QStringList lines {
        QStringLiteral("---"),
        QStringLiteral("id: ") + idString(snapshot.id),
        QStringLiteral("title: ") + yamlQuoted(title),
        QStringLiteral("date: ") + isoDate(snapshot.date),
        QStringLiteral("duration_minutes: ") + QString::number(wholeMinutes(snapshot.duration)),
        QStringLiteral("app: Quillet"),
        QStringLiteral("---"),
        QString(),
        QStringLiteral("# ") + title,
        QString(),
    };

    if (snapshot.summary && !snapshot.summary->isEmpty())
        lines << kSummaryHeading.toString() << QString() << escapeSectionText(*snapshot.summary) << QString();

    const QString notes = snapshot.userNotes.trimmed();
    if (!notes.isEmpty())
        lines << kNotesHeading.toString() << QString() << escapeSectionText(notes) << QString();

    if (!snapshot.turns.isEmpty()) {
        lines << kTranscriptHeading.toString() << QString();
        for (const auto& turn : snapshot.turns)
            lines << turnLine(turn);
        lines << QString();
    }

    if (!snapshot.chat.isEmpty()) {
        lines << kChatHeading.toString() << QString();
        for (const auto& entry : snapshot.chat) {
            lines << (entry.role == QLatin1String("user") ? kQuestion : kAnswer).toString() + escapeChatText(entry.text)
                  << QString();
        }
    }

    return lines.join(u'\n').toUtf8();
}

} // namespace ArchiveMarkdown
