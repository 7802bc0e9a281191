#pragma once

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>
#include <optional>

class Meeting;

// Mirrors every meeting as a markdown file under the user's home folder, with an
// "index.json" that maps each meeting's identifier to its file. Callers on the main thread
// take a Snapshot and hand it over; every file operation then runs on one worker thread, one
// job after another in the order they were queued, so the caller never waits for the disk and
// no record ever leaves the main thread. Failures are logged, never reported back.
namespace MeetingArchiver {

// A plain copy of a meeting, safe to hand to another thread.
struct Snapshot
{
    struct Turn
    {
        QString label;
        double timestamp = 0;
        QString text;
        bool operator==(const Turn&) const = default;
    };
    struct ChatEntry
    {
        QString role;
        QString text;
        bool operator==(const ChatEntry&) const = default;
    };

    QUuid id;
    QString title;
    QDateTime date;
    double duration = 0;
    std::optional<QString> summary;
    QString userNotes;
    QList<Turn> turns;
    QList<ChatEntry> chat;

    Snapshot() = default;
    // Main thread only: reads the meeting and its segments and chat messages.
    explicit Snapshot(const Meeting& meeting);

    bool operator==(const Snapshot&) const = default;
};

// "$HOME/QuilletNotes", or "$HOME/QuilletNotes-Test" for test builds; read afresh on each call.
QString archiveRoot();

// Queues writing the meeting's file and index entry; returns at once.
void archive(const Snapshot& snapshot);

// Queues one job that archives every meeting the index does not know yet.
void backfill(const QList<Snapshot>& snapshots);

// Queues removing the meeting's file and index entry.
void remove(const QUuid& meetingId);

// Queues dropping the index entry, and deleting the file it lists, of every meeting that is
// not in `storedIds` (the identifiers of all meetings in the store): a deletion whose removal
// never ran, because the process ended first, would otherwise come back with a later import.
// Files the index does not list are never touched, and an empty set changes nothing, since an
// empty store is refilled from the archive. Meant for launch, once the store is open; not on
// a launch whose import has just refilled the store, as the files that import skipped (not
// UTF-8, too large) would be deleted with their entries.
void prune(const QSet<QUuid>& storedIds);

// Finishes once every job queued before this call has run. Tests and tools wait on it; the
// application never needs to.
QFuture<void> idle();

} // namespace MeetingArchiver
