#pragma once

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

struct ParsedFile
{
    std::optional<QUuid> id; // absent or not a UUID: the meeting keeps a new one
    QString title; // "Untitled" when the key is absent
    std::optional<QDateTime> date; // absent or unreadable: the caller uses the time of import
    double duration = 0; // whole minutes times 60
    std::optional<QString> summary;
    QList<Turn> turns;
};

// std::nullopt when the text does not open with a "---" line or the front matter never closes.
std::optional<ParsedFile> parse(QStringView text);

// The summary: the text after the "## Summary" line up to the "## Transcript" line, trimmed.
std::optional<QString> extractSummary(QStringView body);

// Every turn line after the "## Transcript" line; other lines are passed over.
QList<Turn> extractTurns(QStringView body);

// "[mm:ss] **label:** text", or std::nullopt.
std::optional<Turn> parseTurn(QStringView line);

} // namespace ArchiveFileParser
