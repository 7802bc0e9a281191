#include "summary/SummaryPrompts.h"

#include "format/TimeText.h"
#include "storage/Meeting.h"
#include "summary/SummarySections.h"

#include <QStringList>

namespace SummaryPrompts {
namespace {

// Five paragraphs, each followed by a blank line.
const QString& introduction()
{
    static const QString text = QStringLiteral(
        "You are writing up a meeting for the person who recorded it.\n\n"
        "LANGUAGE. Write the entire summary in the language that was spoken \u2014 headings included. A Vietnamese "
        "meeting produces a Vietnamese summary; an English one produces English. Never translate what was said. "
        "The headings below are given in English; render them in the meeting's language.\n\n"
        "WHAT THEY WROTE DOWN. If a USER NOTES block appears before the transcript, that is what this person "
        "thought was worth writing while it was happening \u2014 the clearest signal of what matters to them that "
        "exists. Build the summary around it: keep their points and their emphasis, put them in order, and fill "
        "them out from the transcript. Where a note is thin, the transcript completes it. Where a note is not "
        "supported by the transcript, keep the note and add nothing around it \u2014 do not invent the detail that "
        "would make it sound finished.\n\n"
        "NAMING PEOPLE. The transcript is split by where the sound came from \u2014 a microphone and the meeting "
        "audio \u2014 and rendered as speaker labels. That split is a reasonable guess and is sometimes wrong, so "
        "it is not enough to name anyone by itself. Use a real name only when the content earns it: someone "
        "introduces themselves, is addressed by name, or the attendee list plus the conversation makes it "
        "unambiguous. Otherwise write about what was said rather than who said it. A wrong name is worse than no "
        "name.\n\n"
        "SECTIONS. Use these, in this order, and skip any that this meeting has nothing for. An empty heading is "
        "worse than a missing one.\n\n");
    return text;
}

const QString& concisenessLine()
{
    static const QString text = QStringLiteral(
        "\n\nBe concise. Bullets, not paragraphs. Action items as a checklist (`- [ ]`). No preamble, no closing "
        "summary of the summary.");
    return text;
}

const QString& attributionLine()
{
    static const QString text = QStringLiteral(
        "When the transcript supports it, attribute statements and action items to these attendees by name "
        "instead of generic speaker labels. Preserve Vietnamese names and their diacritics exactly as written "
        "above. Never attribute anything to a person not in this list or the transcript.");
    return text;
}

} // namespace

QString summarySystemPrompt(const std::optional<QString>& calendarContext)
{
    QString prompt = introduction() + SummarySection::brief(SummarySection::standard()) + concisenessLine();
    if (calendarContext)
        prompt += QStringLiteral("\n\n") + *calendarContext;
    return prompt;
}

QString titlePrompt()
{
    return QStringLiteral(
        "Generate a concise meeting title (max 8 words) from this transcript. CRITICAL: You MUST write the title "
        "in the SAME language as the transcript. If the transcript is in Vietnamese, the title MUST be in "
        "Vietnamese. If the transcript is in English, the title MUST be in English. NEVER translate to a "
        "different language. Output ONLY the title, nothing else.");
}

QString summaryUserContent(const QString& transcript, const QString& userNotes)
{
    const QString notes = userNotes.trimmed();
    if (notes.isEmpty())
        return transcript;
    return QStringLiteral("=== USER NOTES ===\n") + notes + QStringLiteral("\n\n=== TRANSCRIPT ===\n") + transcript;
}

QString scheduledText(const QDateTime& start, const QLocale& locale, const QTimeZone& zone)
{
    const QDateTime local = start.toTimeZone(zone);
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + QStringLiteral(", ")
        + formatShortTime(local.time(), locale);
}

std::optional<QString> calendarContext(const Meeting& meeting)
{
    return calendarContext(meeting, QLocale(), QTimeZone::systemTimeZone());
}

std::optional<QString> calendarContext(const Meeting& meeting, const QLocale& locale, const QTimeZone& zone)
{
    if (!meeting.calendarEventId())
        return std::nullopt;
    QStringList lines { QStringLiteral("Meeting context from the calendar:"),
        QStringLiteral("- Event title: ") + meeting.title() };
    if (const std::optional<QString> organizer = meeting.organizer(); organizer && !organizer->isEmpty())
        lines << QStringLiteral("- Organizer: ") + *organizer;
    if (const QStringList attendees = meeting.attendeeNames(); !attendees.isEmpty())
        lines << QStringLiteral("- Attendees: ") + attendees.join(QStringLiteral(", "));
    if (const std::optional<QDateTime> start = meeting.scheduledStart())
        lines << QStringLiteral("- Scheduled: ") + scheduledText(*start, locale, zone);
    if (const std::optional<QString> calendar = meeting.calendarName(); calendar && !calendar->isEmpty())
        lines << QStringLiteral("- Calendar: ") + *calendar;
    lines << attributionLine();
    return lines.join(QLatin1Char('\n'));
}

} // namespace SummaryPrompts
