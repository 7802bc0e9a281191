#include "archive/ArchiveMarkdown.h"

#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QTime>
#include <cmath>
#include <limits>

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

} // namespace

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
    return QString::asprintf(
               "[%02lld:%02lld] **", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60))
        + turn.label + QStringLiteral(":** ") + turn.text;
}

QByteArray markdown(const MeetingSnapshot& snapshot)
{
    const QString title = singleLineTitle(snapshot.title);
    QString escapedTitle = title;
    escapedTitle.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));

    QStringList lines {
        QStringLiteral("---"),
        QStringLiteral("id: ") + idString(snapshot.id),
        QStringLiteral("title: \"") + escapedTitle + u'"',
        QStringLiteral("date: ") + isoDate(snapshot.date),
        QStringLiteral("duration_minutes: ") + QString::number(wholeMinutes(snapshot.duration)),
        QStringLiteral("app: Quillet"),
        QStringLiteral("---"),
        QString(),
        QStringLiteral("# ") + title,
        QString(),
    };

    if (snapshot.summary && !snapshot.summary->isEmpty())
        lines << QStringLiteral("## Summary") << QString() << *snapshot.summary << QString();

    const QString notes = snapshot.userNotes.trimmed();
    if (!notes.isEmpty())
        lines << QStringLiteral("## My Notes") << QString() << notes << QString();

    if (!snapshot.turns.isEmpty()) {
        lines << QStringLiteral("## Transcript") << QString();
        for (const auto& turn : snapshot.turns)
            lines << turnLine(turn);
        lines << QString();
    }

    if (!snapshot.chat.isEmpty()) {
        lines << QStringLiteral("## Chat") << QString();
        for (const auto& entry : snapshot.chat) {
            lines << (entry.role == QLatin1String("user") ? QStringLiteral("**Q:** ") : QStringLiteral("**A:** "))
                    + entry.text
                  << QString();
        }
    }

    return lines.join(u'\n').toUtf8();
}

} // namespace ArchiveMarkdown
