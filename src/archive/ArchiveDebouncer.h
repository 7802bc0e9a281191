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
// last one, so that typing does not write the file at every key, although the store commits
// every key: one pending write per meeting, made from the meeting as the store holds it when
// the write is handed over. ArchiveSync feeds it from the store. Every pending write is handed
// over at once by a save() a caller asked for (the end of a recording, a chat's answer), when
// the application quits and when this object goes; the commits of typing leave them to their
// delay. It belongs to the application rather than to a view, so an edit made just before
// another meeting is selected is still written. A pending write is dropped when its meeting
// leaves the store (the file must not come back after a delete). Only what the store has
// committed is written: while a save is owed (a full disk), the writes wait for the save that
// goes through. Main thread only.
class ArchiveDebouncer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveDebouncer)

public:
    static constexpr std::chrono::milliseconds kDelay { 900 };

    ArchiveDebouncer(MeetingArchiver& archiver, ModelContext& store, Scheduler& scheduler, QObject* parent = nullptr);
    ~ArchiveDebouncer() override;

    // Writes the meeting 0.9 s from now, unless another edit of the same meeting comes first
    // and takes its place.
    void schedule(const Meeting& meeting);
    // Hands every pending write to the archiver now, unless the store still owes a save.
    void flush();

    bool isPending(const QUuid& meetingId) const { return m_pending.contains(meetingId); }

signals:
    // The meeting has a write pending from now on: its file is behind the store.
    void becamePending(const QUuid& meetingId);
    // A write went to the archiver; `written` finishes with its outcome. Emitted for the
    // writes handed over when this object goes too.
    void handedOver(const QUuid& meetingId, const QFuture<MeetingArchiver::WriteOutcome>& written);

private:
    struct Pending
    {
        QPointer<const Meeting> meeting;
        quint64 edit = 0;
        // Its delay has passed while the store still owed a save.
        bool due = false;
    };

    void fire(const QUuid& meetingId, quint64 edit);
    void handOverDue();
    bool storeHoldsEdits() const;
    void handOver(const Pending& write);

    MeetingArchiver& m_archiver;
    QPointer<ModelContext> m_store;
    Scheduler& m_scheduler;
    QHash<QUuid, Pending> m_pending;
    quint64 m_edits = 0;
};
