#pragma once

#include "archive/MeetingSnapshot.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>
#include <optional>

// Reads one archived markdown file back. Pure text work with no records, so that it can be
// fuzzed and tested on its own; the importer turns the result into a meeting.
namespace ArchiveFileParser {

struct Turn
{
    QString label;
    double timestamp = 0; // whole seconds
    QString text;
};

struct ChatEntry
{
    bool fromUser = true; // "**Q:** "; an answer ("**A:** ") otherwise
    QString text;
};

struct ParsedFile
{
    std::optional<QUuid> id; // absent or not a UUID: the meeting keeps a new one
    QString title; // "Untitled" when the key is absent; a quoted value is unescaped as YAML does
    std::optional<QDateTime> date; // absent or unreadable: the caller uses the time of import
    double duration = 0; // whole minutes times 60
    std::optional<QString> summary;
    QString notes; // the My Notes section, trimmed; empty without one
    QList<Turn> turns;
    QList<ChatEntry> chat;
};

// std::nullopt when the text does not open with a "---" line or the front matter never closes.
std::optional<ParsedFile> parse(QStringView text);

// The body's sections, found as the writer orders them: each heading is the first whole line
// "## Summary", "## My Notes", "## Transcript", "## Chat" after the heading of the section before
// it that the file has, and each section ends at the line feed before the next heading found.
// User text is taken back from the writer's escapes (ArchiveMarkdown): a line that reads as
// structure after one or more leading backslashes loses one.
//   summary: its text, unescaped, then trimmed; none when that is empty.
//   notes: its text, unescaped, then trimmed.
//   turns: every turn line of the Transcript section with the indented lines after it as its
//   further lines (an empty line between two of them is one as well); other lines are passed
//   over. The text loses its blanks at both ends; the label is unescaped.
//   chat: one entry per "**Q:** " or "**A:** " line that opens the section or follows an empty
//   line, up to the empty line before the next such line (or the file's last line feed): the
//   text as the writer wrote it, line breaks and all, its lines after the first unescaped.
//   Lines before the first entry are passed over.
struct Sections
{
    std::optional<QString> summary;
    QString notes;
    QList<Turn> turns;
    QList<ChatEntry> chat;
};
Sections extractSections(QStringView body);

// What the writer would be handed for the meeting the import makes of this file: the same
// fields, the turns in time order, labels as the writer gives them. std::nullopt when the file
// has no identifier or no readable date, which the writer always writes.
std::optional<MeetingSnapshot> writersSnapshot(const ParsedFile& file);

// True when `bytes` are exactly the text the writer makes of the meeting they read as: a file
// the writer made and nobody changed since (a person's edit, another application's note, a
// file written under other rules does not pass).
bool isWritersText(const QByteArray& bytes);

// The meeting identifier in the front matter of the file at `path`, read from its first 64 KiB;
// std::nullopt when there is none or the file cannot be read.
std::optional<QUuid> idOfFile(const QString& path);

// "[mm:ss] **label:** text", or std::nullopt: the label unescaped, the text without blanks at
// either end.
std::optional<Turn> parseTurn(QStringView line);

} // namespace ArchiveFileParser
