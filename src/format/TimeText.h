#pragma once

#include <QDateTime>
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

// English text of date relative to now in the largest whole unit, abbreviated: "2 hr. ago",
// "3 days ago", "in 5 min.". Calendar units (years, months, days) are counted in local time.
QString formatRelativeDate(const QDateTime& date, const QDateTime& now);
