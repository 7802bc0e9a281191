#pragma once

// The benchmark library: a store file of many meetings with long, varied transcripts, filled
// through a connection of its own in one transaction (as bench_storage fills its file), then
// opened through the model context the application uses.
//
// The text comes from a large vocabulary: frequent English words, Vietnamese words with their
// accents, capitalised names and acronyms, and thousands of rare made-up words drawn with a
// long-tailed distribution. Marker words ("kestrel0000mark", "kestrel0001mark", ...) each stand in
// exactly one segment of one meeting, at a place the filler reports, so that searches with a
// known single answer can be timed.

#include <QDateTime>
#include <QList>
#include <QString>

struct LibrarySpec
{
    int meetings = 10'000;
    int segmentsPerMeeting = 50;
    int folders = 8;
    int markers = 200;
    // The newest meeting is dated a little before this; the others reach about three years back.
    QDateTime newest = QDateTime::currentDateTimeUtc();
};

struct LibraryMarker
{
    QString word;
    int meeting = 0; // in the order of insertion
    int segment = 0;
};

struct FilledLibrary
{
    int meetings = 0;
    int segments = 0;
    qint64 textBytes = 0; // UTF-8 bytes of all segment text
    QList<LibraryMarker> markers;
    // Words that appear often and words that never appear, for search queries.
    QStringList commonWords;
    QStringList absentWords;
};

// Fills the (already created, empty) store file at path. False on a database failure, with a
// line on stderr.
bool fillLibrary(const QString& path, const LibrarySpec& spec, FilledLibrary* filled);
