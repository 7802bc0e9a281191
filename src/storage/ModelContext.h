#pragma once

#include "format/Result.h"
#include "storage/StoreError.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>

class ChatMessage;
class Folder;
class Meeting;
class Record;
class StoreDatabase;
class TranscriptSegment;

enum class MeetingSort { DateDescending, DateAscending, ScheduledStartAscending };

struct MeetingFetch
{
    std::function<bool(const Meeting&)> filter;
    MeetingSort sort = MeetingSort::DateDescending;
    int limit = -1;
};

// The main context of the store: one object per stored row, changed in memory and written by
// save(), or on its own at the next turn of the event loop once commitChangesEachTurn() has
// been called.
// Meetings and folders are read when the store opens; a meeting's segments and chat messages
// on first access. Used on the main thread only. The context owns its records: take them out
// with remove(), never delete them, and let nothing that holds them (list models included)
// outlive the context.
class ModelContext final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ModelContext)

public:
    // Opens (creating it if missing) the store file and reads meetings and folders.
    // Fails with the store's own words when the file cannot be used.
    static Result<std::unique_ptr<ModelContext>, StoreError> open(const QString& filePath);
    ~ModelContext() override;

    QString filePath() const;

    // Take ownership, including the meeting's segments and chat messages.
    void insert(Meeting* meeting);
    void insert(Folder* folder);
    // Removed records disappear from fetches and lists at once and are destroyed with
    // deleteLater() once the removal is saved (or at once when they were never saved).
    void remove(Meeting* meeting);
    void remove(Folder* folder);
    void remove(TranscriptSegment* segment);
    void remove(ChatMessage* message);

    // Writes every unsaved change in one transaction; on failure nothing is written, the
    // changes stay pending, the failure is logged and saveFailed() is emitted.
    Result<void, StoreError> save();
    // Drops unsaved changes: records return to their saved values, unsaved inserts disappear
    // and unsaved removals come back.
    void rollback();
    bool hasChanges() const;
    // The live meetings that a save still owes something: their own fields, or their segments
    // and chat messages added, changed or taken out. Changes of folders and removed meetings
    // are not among them (hasChanges() tells of those too).
    QList<Meeting*> meetingsWithUnsavedChanges() const;

    // From then on every change is committed at the next turn of the event loop: the changes
    // made in one turn (a keystroke, an import of a thousand meetings) share one transaction,
    // and nothing waits for a quiet moment, so a process killed after the loop has turned loses
    // nothing. Without it (the default) nothing is written until save(). A failed commit
    // reports as any failed save does.
    void commitChangesEachTurn();

    // Meetings whose deletion is saved while their archive file may still exist. Each is
    // recorded in the transaction that deletes the meeting, so a process ended before the
    // archive caught up leaves the record behind, never a file that nothing will remove.
    const QSet<QUuid>& pendingArchiveRemovals() const { return m_pendingArchiveRemovals; }
    // Drops those records once the archive has removed the meetings; false when the file could
    // not be written (they stay pending and are handed over again).
    bool clearArchiveRemovals(const QSet<QUuid>& ids);
    // Whether a meeting was ever deleted from this store: an empty store of this kind was
    // emptied by the user, and the archive must not fill it again.
    bool hasDeletedMeetings() const { return m_meetingsDeleted; }

    // The "ArchiveWrite" rows: the meetings the archive's queue records as owed a write, kept
    // here so that they outlast a process that ends first. Each call reads or writes the file
    // at once, in a transaction of its own; false when the file could not be written (logged).
    QSet<QUuid> archiveWritesOwed() const;
    bool recordArchiveWritesOwed(const QSet<QUuid>& ids);
    bool clearArchiveWritesOwed(const QSet<QUuid>& ids);

    QList<Meeting*> fetchMeetings(const MeetingFetch& fetch = {}) const;
    int meetingCount() const;
    // The first live meeting with that id (ids are not unique), or nullptr.
    Meeting* meetingById(const QUuid& id) const;
    // Whether the meeting is one of the live meetings: false from its removal on.
    bool contains(const Meeting* meeting) const { return m_meetings.contains(meeting); }
    QList<Folder*> fetchFolders() const;

    // The row key the meeting is stored under, 0 until its first save.
    qint64 storedKey(const Meeting& meeting) const;
    // Whether the meeting's segments were never read since the store opened, so that the file
    // holds them as they are.
    bool hasUnreadSegments(const Meeting& meeting) const;

signals:
    // A record is in fetches (and contains()) before its insertion is announced, and out of them
    // before its removal is: whatever is made while either is announced sees the store as it
    // will be. The "about to be removed" record is still whole (its folder and children).
    void meetingInserted(Meeting* meeting);
    void meetingAboutToBeRemoved(Meeting* meeting);
    void meetingRemoved(QUuid id);
    // Any field of a live meeting (or its folder) was written.
    void meetingUpdated(Meeting* meeting);
    // A segment of a live meeting was added or taken out, or its text was written.
    void transcriptChanged(Meeting* meeting);
    // A chat message of a live meeting was added or taken out.
    void chatChanged(Meeting* meeting);
    void folderInserted(Folder* folder);
    void folderAboutToBeRemoved(Folder* folder);
    void folderRemoved(QUuid id);
    void folderUpdated(Folder* folder);
    void saved();
    // After saved(), when the commit was a save() a caller asked for rather than the commit of
    // a turn: the end of a recording, a chat's answer, quit. What it committed is wanted
    // elsewhere at once (the archive), where a turn's commit of typing can wait for a pause.
    void savedOnRequest();
    // Most callers save and carry on; this is where a failed save becomes visible.
    void saveFailed(const QString& message);

private:
    friend class Meeting;
    template <typename, typename, typename> friend class StoredRecord;

    explicit ModelContext(std::unique_ptr<StoreDatabase> database);

    // A stored record taken out since the last save, with where it was, for rollback().
    struct Removal
    {
        Record* record = nullptr;
        QObject* owner = nullptr; // the meeting of a segment or message, the folder of a meeting
        qsizetype index = 0;
    };

    Result<void, StoreError> load();
    Result<void, StoreError> commit(bool requested);
    void loadChildren(Meeting* meeting);
    void markDirty(Record* record);
    void scheduleCommit();
    void recordInsert(Record* record);
    void dropUnsavedChildren(Meeting* meeting);
    void retire(Record* record, QObject* owner, qsizetype index);
    bool revive(Record* record);
    bool writeChanges(QHash<Record*, qint64>& newKeys, QString* error);
    bool recordMeetingDeletion(const QUuid& id, QString* error);
    void restoreRemoval(const Removal& removal);
    void discardInsert(Record* record);

    std::unique_ptr<StoreDatabase> m_database;
    QSet<QUuid> m_pendingArchiveRemovals;
    bool m_meetingsDeleted = false;
    QList<Meeting*> m_meetings; // live meetings: stored ones in row order, then new ones
    QList<Folder*> m_folders;

    // Pending work since the last save, in the order it happened.
    QList<Record*> m_inserted;
    QList<Record*> m_dirty;
    QSet<Record*> m_dirtySet;
    QList<Removal> m_removed;

    bool m_commitsEachTurn = false;
    bool m_commitQueued = false;
};
