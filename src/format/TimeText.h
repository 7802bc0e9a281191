#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Texts for running times, meeting lengths and dates relative to now. Seconds arrive as
// doubles from timers and the store; a value that is not finite or does not fit a 64-bit count
// of seconds gives an empty text instead of being converted (which would be undefined).

// A running recording's time: "m:ss", or "h:mm:ss" from one hour on. Fractions are dropped;
// negative values read as 0:00.
QString formatElapsed(double seconds);

// The same without an hour field, for places that show minutes past 59: "62:05".
QString formatElapsedMinutes(double seconds);

// A meeting's length: "<1m", "42m", "1h 2m" (3600 s is "1h 0m").
QString formatDuration(double seconds);

// The date relative to now in the largest whole unit, abbreviated, in the locale's words:
// "2 hr. ago", "3 days ago", "in 5 min." in English (and the C locale), ICU's short style in
// every other language ("vor 2 Std.", "in 5 Min."). Calendar units (years, months, days) are
// counted in local time.
QString formatRelativeDate(const QDateTime& date, const QDateTime& now, const QLocale& locale = QLocale());

// Clock times and dates in the user's locale (QLocale() by default).

// The locale's short time format, without seconds where the locale's own carries them (the C
// locale's is "HH:mm:ss"): a short time is hours and minutes.
QString shortTimeFormat(const QLocale& locale = QLocale());
QString formatShortTime(const QTime& time, const QLocale& locale = QLocale());

// The locale's long date without the weekday and with the month abbreviated, so the date
// keeps the locale's order and words ("Mar 14, 2026" in US English, "14 thg 3, 2026" in
// Vietnamese).
QString abbreviatedDateFormat(const QLocale& locale = QLocale());

// A moment as the abbreviated date and the short time of its local time: "Mar 14, 2026, 9:05 AM".
QString formatAbbreviatedDateTime(const QDateTime& moment, const QLocale& locale = QLocale());
