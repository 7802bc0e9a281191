#pragma once

// The desktop calendars the EDS tests read, written by a separate program (the fixture helper)
// as another calendar application would. "Today" is Wednesday 25 March 2026 in Berlin; the
// week ends at 00:00 on 1 April, after the change to summer time on 29 March.

#include "platform/calendar/EdsCalendarStore.h"

#include <QDateTime>
#include <QProcess>
#include <QStringList>
#include <QTimeZone>

namespace CalendarFixture {

inline QDateTime berlin(int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute), QTimeZone("Europe/Berlin"));
}

inline const QDateTime kNow = berlin(3, 25, 10);

// For tests that are not about the limits: the store's programs are started on demand and can
// take many seconds on a busy machine, and the helper's edits of one run, whose signals can
// come a second apart, make one change.
inline const EdsCalendarStore::Limits kPatientLimits { std::chrono::minutes(2), std::chrono::minutes(2),
    std::chrono::seconds(2) };

inline QString command(const QStringList& fields)
{
    return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

// A VCALENDAR with the given events (and zones) for the helper's "put".
inline QString put(const QString& calendar, const QString& components)
{
    return command({ QStringLiteral("put"), calendar })
        + QStringLiteral("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Quillet tests//EN\n") + components
        + QStringLiteral("END:VCALENDAR\n");
}

inline QString event(
    const QString& uid, const QString& summary, const QString& start, const QString& end, const QString& more = {})
{
    return QStringLiteral(
        "BEGIN:VEVENT\nUID:%1\nDTSTAMP:20260301T000000Z\nSUMMARY:%2\nDTSTART%3\nDTEND%4\n%5END:VEVENT\n")
        .arg(uid, summary, start, end, more);
}

inline QString setupScript()
{
    const QString berlinTz = QStringLiteral(";TZID=Europe/Berlin:");
    QString script;
    script += command({ "identity", "quillet-identity", "me@example.com", "me.alias@example.com" });
    script += command({ "calendar", "quillet-work", "Work", "local-stub", "local", "#3465a4" });
    script += command({ "calendar", "quillet-side", "Side project", "local-stub", "local", "#73d216" });
    script += command({ "calendar", "quillet-feed", "Holidays", "webcal-stub", "webcal", "#c4a000" });
    script += command({ "calendar", "quillet-loose", "Loose ends", "-", "local", "-" });
    script += put(QStringLiteral("quillet-work"),
        // Outlook names its zones the Windows way and sends their definition along.
        QStringLiteral("BEGIN:VTIMEZONE\nTZID:Tokyo Standard Time\nBEGIN:STANDARD\nDTSTART:16010101T000000\n"
                       "TZOFFSETFROM:+0900\nTZOFFSETTO:+0900\nEND:STANDARD\nEND:VTIMEZONE\n")
            + event("review", "Design review", berlinTz + "20260325T110000", berlinTz + "20260325T120000",
                "LOCATION:Board Room\nORGANIZER;CN=Alice Nguyen:mailto:alice@example.com\n"
                "ATTENDEE;CN=Alice Nguyen;PARTSTAT=ACCEPTED:mailto:alice@example.com\n"
                "ATTENDEE:mailto:bob.tran@example.com\nATTENDEE:MAILTO:@\n"
                "ATTENDEE;CN=Board Room;CUTYPE=ROOM:mailto:board.room@example.com\n"
                "ATTENDEE;CN=Me;PARTSTAT=ACCEPTED:mailto:me@example.com\n")
            + event("declined", "Budget sync", berlinTz + "20260325T130000", berlinTz + "20260325T133000",
                "ATTENDEE;PARTSTAT=DECLINED:mailto:ME.ALIAS@example.com\nATTENDEE;CN=Dan:mailto:dan@example.com\n")
            + event("partner", "Partner call", berlinTz + "20260325T150000", berlinTz + "20260325T153000",
                "ATTENDEE;CN=Carol;PARTSTAT=DECLINED:mailto:carol@example.com\n"
                "ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.com\n"
                "ATTENDEE;PARTSTAT=DECLINED:mailto:me.alias@example.com\n")
            + event("offsite", "Offsite meeting", ";VALUE=DATE:20260326", ";VALUE=DATE:20260327")
            + event("standup", "Standup", berlinTz + "20260323T093000", berlinTz + "20260323T094500",
                "RRULE:FREQ=WEEKLY;BYDAY=MO,WE,FR\nEXDATE;TZID=Europe/Berlin:20260327T093000\n")
            + event("standup", "Standup (moved)", berlinTz + "20260331T140000", berlinTz + "20260331T141500",
                "RECURRENCE-ID;TZID=Europe/Berlin:20260330T093000\n")
            + event("late", "Late call", berlinTz + "20260324T230000", berlinTz + "20260325T010000")
            + event("planning", "Planning call", berlinTz + "20260401T000000", berlinTz + "20260401T010000")
            + event("retro", "Retro call", berlinTz + "20260331T233000", berlinTz + "20260401T000000")
            + event(
                "nyc", "NY sync", ";TZID=America/New_York:20260326T090000", ";TZID=America/New_York:20260326T093000")
            + event("utc", "UTC interview", ":20260326T150000Z", ":20260326T160000Z")
            + event("floating", "Floating demo", ":20260327T160000", ":20260327T170000")
            + event("tokyo", "Tokyo pitch", ";TZID=Tokyo Standard Time:20260327T180000",
                ";TZID=Tokyo Standard Time:20260327T190000")
            + event("vendor", "Vendor check-in", berlinTz + "20260326T110000", berlinTz + "20260326T113000",
                "URL:https://example.com/vendor\n"
                "DESCRIPTION:<p>Agenda: https://example.com/agenda</p><p>Join: "
                "<a href=\"https://us02web.zoom.us/j/8123?pwd=Zx\">Zoom</a></p>\n"
                "ATTENDEE;CN=Eve:mailto:eve@vendor.example\nATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.com\n")
            + event("dentist", "Dentist", berlinTz + "20260327T080000", berlinTz + "20260327T090000"));
    script += put(QStringLiteral("quillet-side"),
        event("side", "Side project meeting", berlinTz + "20260326T180000", berlinTz + "20260326T190000"));
    return script;
}

// Runs helper commands in a separate process and waits for them; false with its error output.
inline bool run(const QString& script, QString* error = nullptr)
{
    QProcess helper;
    helper.start(QStringLiteral(QUILLET_CALENDAR_FIXTURE_HELPER), {});
    helper.write(script.toUtf8());
    helper.closeWriteChannel();
    const bool ok
        = helper.waitForFinished(120'000) && helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0;
    if (!ok && error)
        *error = QString::fromUtf8(helper.readAllStandardError());
    return ok;
}

} // namespace CalendarFixture
