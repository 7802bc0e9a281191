#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <optional>

// The texts of the coming-up panel, from an event's plain values. Times are shown in the local
// zone, in the default locale (the system's unless a test sets another).
namespace ComingUpText {

// Whole minutes from now to start, cut towards zero: "12 min", and "1 min" below two minutes
// (also at or after the start).
QString minutesUntil(const QDateTime& start, const QDateTime& now);

// "9:00–9:30 AM": the start on a 12-hour clock without its AM/PM, an en dash, the end with it.
QString timeRange(const QDateTime& start, const QDateTime& end);

// The call service a link leads to ("Google Meet", "Zoom", "Teams", "Webex", else
// "Video call"); none without a link or without a host.
std::optional<QString> callName(const std::optional<QUrl>& link);

// The title shown: the event's own, or "Untitled event" when it is empty.
QString title(const QString& eventTitle);

// "N people" (also "1 people"); none for nobody.
std::optional<QString> participants(int count);

// "1 task & personal hidden", "3 tasks & personal hidden"; none for 0.
std::optional<QString> hiddenCount(int count);

// The kind's raw value in capitals ("MEETING", "1:1"); none for a skipped event (empty value).
std::optional<QString> kindBadge(const QString& kindRawValue);

// The start as a time of day in the locale's short format ("9:30 AM").
QString startTime(const QDateTime& start);

// A day group's heading: "Later today", "Tomorrow", or the weekday, day and month in the
// locale's own order and words ("Wednesday, Dec 9", "Mittwoch, 9. Dez.", "Thứ Tư, 9 thg 12").
QString dayTitle(const QDate& day, const QDate& today);

} // namespace ComingUpText
