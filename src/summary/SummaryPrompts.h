#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

class Meeting;

// The texts the model is given for a meeting's summary and title. Their wording, dashes and
// line breaks are part of what the model is told, so they are kept exactly.
namespace SummaryPrompts {

// System prompt of the summary request: the fixed introduction, the section brief, the
// conciseness line and, when given, a blank line and the calendar context.
QString summarySystemPrompt(const std::optional<QString>& calendarContext);

// System prompt of the title request (one paragraph, no newline).
QString titlePrompt();

// The user's notes (trimmed) under a header ahead of the transcript, or the bare transcript
// when the notes are blank.
QString summaryUserContent(const QString& transcript, const QString& userNotes);

// What the calendar says about a linked meeting (title, organiser, attendees, scheduled
// time, calendar), or nothing for a meeting without an event. Main thread: reads the record.
std::optional<QString> calendarContext(const Meeting& meeting);
// The same with the locale and time zone the scheduled time is written in.
std::optional<QString> calendarContext(const Meeting& meeting, const QLocale& locale, const QTimeZone& zone);

// A scheduled time as the user's locale writes a short date with an abbreviated month and
// a short time ("Mar 14, 2026, 9:05 AM" in US English).
QString scheduledText(const QDateTime& start, const QLocale& locale, const QTimeZone& zone);

} // namespace SummaryPrompts
