#pragma once

#include "archive/MeetingArchiver.h"
#include "archive/MeetingSnapshot.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <chrono>

class Meeting;
class ModelContext;
class Scheduler;

// Writes changes (a title, the notes, a transcript) to the archive a short while after the
// last one, so that typing does not write the file at every key: one pending write per
// meeting, carrying the meeting as it was at its newest change. ArchiveSync feeds it from the
// store and hands every pending write over at each save. It belongs to the application rather
// than to a view, so an edit made just before another meeting is selected is still written. A pending write
// is dropped when its meeting leaves the store (the file must not come back after a delete),
// and every pending write is handed over at once when the application quits or this object
// goes. Only what the store has committed is written: while a save is owed (a full disk), the
// writes wait for the save that goes through. Main thread only.
class ArchiveDebouncer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveDebouncer)

public:
    static constexpr std::chrono::milliseconds kDelay { 900 };

    ArchiveDebouncer(MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent = nullptr);
    ~ArchiveDebouncer() override;

    // Takes the meeting's snapshot now and writes it 0.9 s from now, unless another edit of
    // the same meeting comes first and takes its place.
    void schedule(const Meeting& meeting);
    // Hands every pending write to the archiver now, unless the store still owes a save.
    void flush();

    bool isPending(const QUuid& meetingId) const { return m_pending.contains(meetingId); }

signals:
    // A write went to the archiver; `written` finishes with its outcome. Emitted for the
    // writes handed over when this object goes too.
    void handedOver(const QUuid& meetingId, const QFuture<MeetingArchiver::WriteOutcome>& written);

private:
    struct Pending
    {
        MeetingSnapshot snapshot;
        quint64 edit = 0;
    };

    void fire(const QUuid& meetingId, quint64 edit);
    bool storeHoldsEdits() const;
    void handOver(const MeetingSnapshot& snapshot);

    MeetingArchiver& m_archiver;
    QPointer<ModelContext> m_store;
    Scheduler& m_scheduler;
    QHash<QUuid, Pending> m_pending;
    quint64 m_edits = 0;
};
