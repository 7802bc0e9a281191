#include "format/TimeText.h"

#include <QRegularExpression>
#include <cmath>
#include <optional>

namespace {

// 2^63: the first double past the range of qint64; every double below it converts exactly.
constexpr double kSecondsLimit = 9223372036854775808.0;

std::optional<qint64> wholeSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        return std::nullopt;
    const double whole = std::trunc(seconds);
    if (whole < -kSecondsLimit || whole >= kSecondsLimit)
        return std::nullopt;
    return static_cast<qint64>(whole);
}

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString relative(qint64 count, const char* singular, const char* plural, bool future)
{
    const QString amount = QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? singular : plural));
    return future ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
}

} // namespace

QString formatElapsed(double seconds)
{
    const auto whole = wholeSeconds(seconds);
    if (!whole)
        return {};
    const qint64 t = std::max<qint64>(*whole, 0);
    if (t < 3600)
        return QStringLiteral("%1:%2").arg(t / 60).arg(twoDigits(t % 60));
    return QStringLiteral("%1:%2:%3").arg(t / 3600).arg(twoDigits(t % 3600 / 60)).arg(twoDigits(t % 60));
}

QString formatElapsedMinutes(double seconds)
{
    const auto whole = wholeSeconds(seconds);
    if (!whole)
        return {};
    const qint64 t = std::max<qint64>(*whole, 0);
    return QStringLiteral("%1:%2").arg(t / 60).arg(twoDigits(t % 60));
}

QString formatDuration(double seconds)
{
    const auto whole = wholeSeconds(seconds);
    if (!whole)
        return {};
    const qint64 s = *whole;
    if (s < 60)
        return QStringLiteral("<1m");
    const qint64 minutes = s / 60;
    if (s < 3600)
        return QStringLiteral("%1m").arg(minutes);
    return QStringLiteral("%1h %2m").arg(minutes / 60).arg(minutes % 60);
}

QString formatRelativeDate(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return {};
    // The platform's formatter says "in 0 sec." for the present moment; so does this one.
    const bool future = date >= now;
    const QDateTime from = (future ? now : date).toLocalTime();
    const QDateTime to = (future ? date : now).toLocalTime();

    // Whole calendar units first, each counted from where the larger one ended, so that
    // "1 mo." means the same day of the next month and "1 day" the same clock time next day.
    QDateTime cursor = from;
    int years = to.date().year() - cursor.date().year();
    if (cursor.addYears(years) > to)
        --years;
    cursor = cursor.addYears(years);
    int months = (to.date().year() - cursor.date().year()) * 12 + to.date().month() - cursor.date().month();
    if (cursor.addMonths(months) > to)
        --months;
    cursor = cursor.addMonths(months);
    qint64 days = cursor.date().daysTo(to.date());
    if (cursor.addDays(days) > to)
        --days;
    cursor = cursor.addDays(days);
    const qint64 seconds = std::max<qint64>(cursor.secsTo(to), 0);

    if (years > 0)
        return relative(years, "yr.", "yr.", future);
    if (months > 0)
        return relative(months, "mo.", "mo.", future);
    if (days >= 7)
        return relative(days / 7, "wk.", "wk.", future);
    if (days > 0)
        return relative(days, "day", "days", future);
    if (seconds >= 3600)
        return relative(seconds / 3600, "hr.", "hr.", future);
    if (seconds >= 60)
        return relative(seconds / 60, "min.", "min.", future);
    return relative(seconds, "sec.", "sec.", future);
}

QString shortTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    // The seconds go with the separator before them, and any fraction after them.
    static const QRegularExpression seconds(QStringLiteral("[:.]?s{1,2}(\\.z+)?"));
    format.remove(seconds);
    return format;
}

QString formatShortTime(const QTime& time, const QLocale& locale)
{
    return locale.toString(time, shortTimeFormat(locale));
}

QString abbreviatedDateFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString formatAbbreviatedDateTime(const QDateTime& moment, const QLocale& locale)
{
    const QDateTime local = moment.toLocalTime();
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + QStringLiteral(", ")
        + formatShortTime(local.time(), locale);
}
