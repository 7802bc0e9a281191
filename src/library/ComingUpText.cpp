#include "library/ComingUpText.h"

#include "format/TimeText.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>

namespace ComingUpText {

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("ComingUpPanel", text);
}

// A date pattern as its fields ("dddd", "MMMM") and the literal text between them, quotes kept.
struct PatternPart
{
    QString text;
    bool isField;
};

QList<PatternPart> patternParts(const QString& pattern)
{
    static const QString fieldLetters = QStringLiteral("dMyHhmszt");
    QList<PatternPart> parts;
    const auto appendLiteral = [&parts](const QString& text) {
        if (!parts.isEmpty() && !parts.last().isField)
            parts.last().text += text;
        else
            parts.append({ text, false });
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        qsizetype end = i + 1;
        if (c == u'\'') {
            // A quoted literal runs to its closing quote; two quotes in a row inside it are one.
            while (end < pattern.size()) {
                if (pattern.at(end) != u'\'') {
                    ++end;
                } else if (end + 1 < pattern.size() && pattern.at(end + 1) == u'\'') {
                    end += 2;
                } else {
                    ++end;
                    break;
                }
            }
            appendLiteral(pattern.mid(i, end - i));
        } else if (fieldLetters.contains(c)) {
            while (end < pattern.size() && pattern.at(end) == c)
                ++end;
            parts.append({ pattern.mid(i, end - i), true });
        } else {
            appendLiteral(QString(c));
        }
        i = end;
    }
    return parts;
}

// The locale's long date without its year and with the month abbreviated: the weekday, day
// and month in the locale's own order and words ("dddd, MMM d" in English, "dddd, d. MMM" in
// German). The year goes with the literal that joins it to the rest: the one after it when it
// leads, else the one before it, and a trailing one ("г.") when it ends the pattern.
QString weekdayDayMonthPattern(const QLocale& locale)
{
    QList<PatternPart> parts = patternParts(locale.dateFormat(QLocale::LongFormat));
    const auto isYear = [](const PatternPart& part) { return part.isField && part.text.startsWith(u'y'); };
    const auto year = std::find_if(parts.cbegin(), parts.cend(), isYear);
    if (year != parts.cend()) {
        const qsizetype at = year - parts.cbegin();
        const auto isField = [](const PatternPart& part) { return part.isField; };
        const qsizetype firstField = std::find_if(parts.cbegin(), parts.cend(), isField) - parts.cbegin();
        const bool lastField = std::none_of(parts.cbegin() + at + 1, parts.cend(), isField);
        qsizetype from = at;
        qsizetype to = at + 1;
        if (at == firstField) {
            if (to < parts.size() && !parts.at(to).isField)
                ++to;
        } else {
            if (from > 0 && !parts.at(from - 1).isField)
                --from;
            if (lastField)
                to = parts.size();
        }
        parts.remove(from, to - from);
    }
    QString pattern;
    for (const PatternPart& part : std::as_const(parts))
        pattern += part.isField && part.text == QLatin1String("MMMM") ? QStringLiteral("MMM") : part.text;
    return pattern;
}

} // namespace

QString minutesUntil(const QDateTime& start, const QDateTime& now)
{
    const qint64 minutes = now.msecsTo(start) / 60'000;
    return minutes >= 2 ? translate("%1 min").arg(minutes) : translate("1 min");
}

QString timeRange(const QDateTime& start, const QDateTime& end)
{
    // Qt's "h" is the 24-hour hour unless the pattern also holds AM/PM, so the start's hour is
    // put on the 12-hour clock by hand.
    const QTime from = start.toLocalTime().time();
    const int hour = from.hour() % 12 == 0 ? 12 : from.hour() % 12;
    const QString startText = QStringLiteral("%1:%2").arg(hour).arg(from.minute(), 2, 10, QLatin1Char('0'));
    const QString endText = QLocale().toString(end.toLocalTime().time(), QStringLiteral("h:mm AP"));
    return startText + QChar(0x2013) + endText;
}

std::optional<QString> callName(const std::optional<QUrl>& link)
{
    if (!link)
        return std::nullopt;
    const QString host = link->host().toLower();
    if (host.isEmpty())
        return std::nullopt;
    if (host.contains(QLatin1String("meet.google")))
        return QStringLiteral("Google Meet");
    if (host.contains(QLatin1String("zoom")))
        return QStringLiteral("Zoom");
    if (host.contains(QLatin1String("teams")))
        return QStringLiteral("Teams");
    if (host.contains(QLatin1String("webex")))
        return QStringLiteral("Webex");
    return translate("Video call");
}

QString title(const QString& eventTitle)
{
    return eventTitle.isEmpty() ? translate("Untitled event") : eventTitle;
}

std::optional<QString> participants(int count)
{
    if (count < 1)
        return std::nullopt;
    return translate("%1 people").arg(count);
}

std::optional<QString> hiddenCount(int count)
{
    if (count < 1)
        return std::nullopt;
    return count == 1 ? translate("1 task & personal hidden") : translate("%1 tasks & personal hidden").arg(count);
}

std::optional<QString> kindBadge(const QString& kindRawValue)
{
    if (kindRawValue.isEmpty())
        return std::nullopt;
    return kindRawValue.toUpper();
}

QString startTime(const QDateTime& start)
{
    return formatShortTime(start.toLocalTime().time());
}

QString dayTitle(const QDate& day, const QDate& today)
{
    if (day == today)
        return translate("Later today");
    if (day == today.addDays(1))
        return translate("Tomorrow");
    const QLocale locale;
    return locale.toString(day, weekdayDayMonthPattern(locale));
}

} // namespace ComingUpText
