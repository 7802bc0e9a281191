#pragma once

#include "archive/MeetingSnapshot.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QUuid>
#include <optional>

// The text formats of the markdown archive, shared by the writer and the importer.
namespace ArchiveMarkdown {

// Upper-case canonical form, the identifier as the archive writes it everywhere.
QString idString(const QUuid& id);

// UTC with whole seconds and "Z", e.g. 2026-03-14T08:30:00Z.
QString isoDate(const QDateTime& date);
// Reads the writer's form and any other zone designator ("Z" or "+hh:mm"/"-hh:mm").
std::optional<QDateTime> parseIsoDate(QStringView text);

// Seconds cut toward zero, then divided by 60 toward zero. Values with no whole-second
// value (NaN, infinities, beyond 64 bits) count as 0.
qint64 wholeMinutes(double seconds);

// Lower case, accents removed, every run of other characters one "-", at most 60 characters.
QString slugify(const QString& title);

// File systems take names of up to 255 bytes, and the atomic write first writes its temporary
// file under the name plus ".XXXXXX": a longer name can be created once but never replaced.
constexpr qsizetype kMaxFileNameBytes = 255 - 7;
// "-1a2b3c4d": what tells apart two meetings that would share one file name.
constexpr qsizetype kIdSuffixBytes = 9;

// "yyyy-MM-dd-HHmm[-slug].md" in the local time zone. The slug is cut between user-perceived
// characters so that the name, with an identifier suffix, stays within kMaxFileNameBytes.
QString fileName(const MeetingSnapshot& snapshot);

// The year folder name: the local year of the date.
QString yearFolder(const QDateTime& date);

// The title as the front matter and heading show it: each line break one blank.
QString singleLineTitle(const QString& title);

// The body's section headings, each a whole line of its own.
inline constexpr QStringView kSummaryHeading = u"## Summary";
inline constexpr QStringView kNotesHeading = u"## My Notes";
inline constexpr QStringView kTranscriptHeading = u"## Transcript";
inline constexpr QStringView kChatHeading = u"## Chat";
bool isSectionHeading(QStringView line);

// A line that opens a chat entry when it follows an empty line: "**Q:** " or "**A:** " and the
// text, or either marker alone.
inline constexpr QStringView kQuestion = u"**Q:** ";
inline constexpr QStringView kAnswer = u"**A:** ";
bool isChatOpening(QStringView line);

// User text is written as typed except for lines the reader would take for the file's own
// structure: those get a leading backslash, as markdown escapes them (viewers show the plain
// text). A line that already reads as such structure after one or more backslashes gets one
// more, so that reading takes exactly one away and every text comes back as it was.
//   Summary and notes: every line that reads as a section heading.
QString escapeSectionText(QStringView text);
QString unescapeSectionText(QStringView text);
//   A chat entry: every line after the first (which follows the entry's marker) that reads as
//   a section heading or a chat opening.
QString escapeChatText(QStringView text);
QString unescapeChatText(QStringView text);

// A turn's further lines follow its line, each behind this indent: markdown continues the
// turn's paragraph, and no indented line reads as a heading, a turn or a chat entry.
inline constexpr QStringView kTurnIndent = u"    ";

// A label ends at the first ":**". Inside one, every ":" that is followed by "**" (after any
// backslashes) gets one more backslash after it; line breaks become blanks, as in the title.
QString escapeLabel(QStringView label);
QString unescapeLabel(QStringView label);

// "[mm:ss] **label:** text", the further lines of the text indented by kTurnIndent.
QString turnLine(const MeetingSnapshot::Turn& turn);

// A YAML double-quoted scalar: backslash and double quote escaped, and the characters YAML
// does not allow in one as they stand (C0 and C1 controls, DEL, line and paragraph separators,
// byte-order marks) as YAML's escapes: a backslash and "t" for a tab, else a backslash, "x" or
// "u" and the hexadecimal code.
QString yamlQuoted(QStringView text);
// A front-matter value: in double quotes it is unescaped as YAML does; a backslash that starts
// no YAML escape stays as it stands. Without quotes the value is taken as it stands.
QString yamlUnquoted(QStringView value);

// The whole file, UTF-8, LF line ends, final LF.
QByteArray markdown(const MeetingSnapshot& snapshot);

} // namespace ArchiveMarkdown
