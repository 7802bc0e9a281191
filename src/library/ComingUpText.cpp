#include "library/ComingUpText.h"

#include "format/TimeText.h"

#include <QCoreApplication>
#include <QLocale>

namespace ComingUpText {

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("ComingUpPanel", text);
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
    return QLocale().toString(day, QStringLiteral("dddd, MMM d"));
}

} // namespace ComingUpText
