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

// "[mm:ss] **label:** text"
QString turnLine(const MeetingSnapshot::Turn& turn);

// The whole file, UTF-8, LF line ends, final LF.
QByteArray markdown(const MeetingSnapshot& snapshot);

} // namespace ArchiveMarkdown
