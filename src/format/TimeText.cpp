#include "format/TimeText.h"

#include <QRegularExpression>
#include <cmath>
#include <memory>
#include <optional>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

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

struct RelativeUnit
{
    UDateRelativeUnit icu;
    const char* singular;
    const char* plural;
};

constexpr RelativeUnit kYears { UDAT_RELATIVE_YEARS, "yr.", "yr." };
constexpr RelativeUnit kMonths { UDAT_RELATIVE_MONTHS, "mo.", "mo." };
constexpr RelativeUnit kWeeks { UDAT_RELATIVE_WEEKS, "wk.", "wk." };
constexpr RelativeUnit kDays { UDAT_RELATIVE_DAYS, "day", "days" };
constexpr RelativeUnit kHours { UDAT_RELATIVE_HOURS, "hr.", "hr." };
constexpr RelativeUnit kMinutes { UDAT_RELATIVE_MINUTES, "min.", "min." };
constexpr RelativeUnit kSeconds { UDAT_RELATIVE_SECONDS, "sec.", "sec." };

QString english(qint64 count, const RelativeUnit& unit, bool future)
{
    const QString amount
        = QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? unit.singular : unit.plural));
    return future ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
}

// ICU's formatter in its short style, the one with abbreviated units. Making one loads the
// locale's data, so each thread keeps the last one it made.
std::optional<QString> localized(qint64 count, const RelativeUnit& unit, bool future, const QLocale& locale)
{
    struct Cached
    {
        QString locale;
        std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
    };
    thread_local Cached cached;
    const QString name = locale.bcp47Name();
    if (!cached.formatter || cached.locale != name) {
        cached = {};
        UErrorCode status = U_ZERO_ERROR;
        const icu::Locale icuLocale = icu::Locale::forLanguageTag(name.toStdString(), status);
        if (U_FAILURE(status))
            return std::nullopt;
        auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            icuLocale, nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_NONE, status);
        if (U_FAILURE(status))
            return std::nullopt;
        cached = { name, std::move(formatter) };
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text;
    cached.formatter->format(double(count), future ? UDAT_DIRECTION_NEXT : UDAT_DIRECTION_LAST, unit.icu, text, status);
    if (U_FAILURE(status) || text.isEmpty())
        return std::nullopt;
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

QString relative(qint64 count, const RelativeUnit& unit, bool future, const QLocale& locale)
{
    // English keeps the words it has always had; the C locale is read as English.
    if (locale.language() == QLocale::English || locale.language() == QLocale::C)
        return english(count, unit, future);
    return localized(count, unit, future, locale).value_or(english(count, unit, future));
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

QString formatRelativeDate(const QDateTime& date, const QDateTime& now, const QLocale& locale)
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
        return relative(years, kYears, future, locale);
    if (months > 0)
        return relative(months, kMonths, future, locale);
    if (days >= 7)
        return relative(days / 7, kWeeks, future, locale);
    if (days > 0)
        return relative(days, kDays, future, locale);
    if (seconds >= 3600)
        return relative(seconds / 3600, kHours, future, locale);
    if (seconds >= 60)
        return relative(seconds / 60, kMinutes, future, locale);
    return relative(seconds, kSeconds, future, locale);
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
