// The context's saving: its changes written in one transaction, and the records put back as
// they were when a save fails.
#include "platform/Log.h"
#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/StoreRows.h"
#include "storage/TranscriptSegment.h"

#include <QSqlError>
#include <algorithm>

using namespace StoreRows;

bool ModelContext::hasChanges() const
{
    return !m_inserted.isEmpty() || !m_dirty.isEmpty() || !m_removed.isEmpty();
}

QList<Meeting*> ModelContext::meetingsWithUnsavedChanges() const
{
    QList<Meeting*> meetings;
    const auto note = [&](Record* record, QObject* owner) {
        QObject* object = record->object();
        if (!qobject_cast<Meeting*>(object))
            object = owner ? owner : (record->parentRecord() ? record->parentRecord()->object() : nullptr);
        auto* meeting = qobject_cast<Meeting*>(object);
        if (meeting && contains(meeting) && !meetings.contains(meeting))
            meetings.append(meeting);
    };
    for (Record* record : m_inserted)
        note(record, nullptr);
    for (Record* record : m_dirty)
        note(record, nullptr);
    for (const Removal& removal : m_removed)
        note(removal.record, removal.owner);
    return meetings;
}

bool ModelContext::writeChanges(QHash<Record*, qint64>& newKeys, QString* error)
{
    // A record saved in this same transaction has no key of its own until the commit.
    const auto keyOf = [&newKeys](Record* record) -> qint64 {
        if (!record)
            return 0;
        return record->m_state.isStored() ? record->m_state.key : newKeys.value(record);
    };

    // Parents before children, so that every reference names a row that exists; within a
    // rank, in the order the records were inserted.
    QList<Record*> inserted = m_inserted;
    std::stable_sort(inserted.begin(), inserted.end(),
        [](const Record* a, const Record* b) { return a->table().rank < b->table().rank; });
    for (Record* record : std::as_const(inserted)) {
        QSqlQuery& query = m_database->statement(record->table().insertSql);
        m_database->bind(query, record->rowValues(keyOf(record->parentRecord())));
        if (!execute(query, error))
            return false;
        newKeys.insert(record, query.lastInsertId().toLongLong());
    }
    for (Record* record : std::as_const(m_dirty)) {
        if (record->m_state.removed)
            continue;
        QSqlQuery& query = m_database->statement(record->table().updateSql);
        QVariantList values = record->rowValues(keyOf(record->parentRecord()));
        values.append(record->m_state.key);
        m_database->bind(query, values);
        if (!execute(query, error))
            return false;
    }
    // The file's cascades take the children of a deleted meeting, read or not.
    for (const Removal& removal : std::as_const(m_removed)) {
        QSqlQuery& query = m_database->statement(removal.record->table().deleteSql);
        query.bindValue(0, removal.record->m_state.key);
        if (!execute(query, error))
            return false;
        if (auto* meeting = qobject_cast<Meeting*>(removal.record->object());
            meeting && !recordMeetingDeletion(meeting->id(), error))
            return false;
    }
    return true;
}

Result<void, StoreError> ModelContext::save()
{
    return commit(true);
}

Result<void, StoreError> ModelContext::commit(bool requested)
{
    if (!hasChanges())
        return Result<void, StoreError>::success();

    QString reason;
    QHash<Record*, qint64> newKeys;
    {
        StoreTransaction transaction(m_database->connection());
        if (!transaction.isActive()) {
            reason = StoreDatabase::describe(m_database->connection().lastError());
        } else if (writeChanges(newKeys, &reason)) {
            if (!transaction.commit())
                reason = StoreDatabase::describe(m_database->connection().lastError());
            else
                reason.clear();
        }
        if (transaction.isActive() && reason.isEmpty())
            reason = QStringLiteral("the save could not be completed");
    }
    if (!reason.isEmpty()) {
        // The guard rolled the file back; the changes stay pending in memory.
        Log::line("[Quillet] Store save failed: %@", reason);
        emit saveFailed(reason);
        return StoreError { reason };
    }

    for (auto it = newKeys.cbegin(); it != newKeys.cend(); ++it)
        it.key()->m_state.key = it.value();
    for (Record* record : std::as_const(m_dirty))
        record->forgetSavedValues();
    for (const Removal& removal : std::as_const(m_removed)) {
        if (auto* meeting = qobject_cast<Meeting*>(removal.record->object())) {
            m_pendingArchiveRemovals.insert(meeting->id());
            m_meetingsDeleted = true;
        }
        removal.record->object()->deleteLater();
    }
    m_inserted.clear();
    m_dirty.clear();
    m_dirtySet.clear();
    m_removed.clear();
    emit saved();
    if (requested)
        emit savedOnRequest();
    return Result<void, StoreError>::success();
}

void ModelContext::restoreRemoval(const Removal& removal)
{
    removal.record->m_state.removed = false;
    QObject* record = removal.record->object();
    if (auto* meeting = qobject_cast<Meeting*>(record)) {
        m_meetings.insert(std::min(removal.index, m_meetings.size()), meeting);
        if (auto* folder = qobject_cast<Folder*>(removal.owner)) {
            meeting->m_parent = folder;
            folder->m_meetings.append(meeting);
            emit folder->meetingsChanged();
        }
        emit meetingInserted(meeting);
    } else if (auto* folder = qobject_cast<Folder*>(record)) {
        m_folders.insert(std::min(removal.index, m_folders.size()), folder);
        emit folderInserted(folder);
    } else if (auto* owner = qobject_cast<Meeting*>(removal.owner)) {
        if (auto* segment = qobject_cast<TranscriptSegment*>(record))
            owner->attachSegment(segment, removal.index);
        else if (auto* message = qobject_cast<ChatMessage*>(record))
            owner->attachChatMessage(message, removal.index);
    }
}

void ModelContext::discardInsert(Record* record)
{
    QObject* object = record->object();
    if (auto* segment = qobject_cast<TranscriptSegment*>(object)) {
        if (segment->m_parent)
            segment->m_parent->detachSegment(segment);
    } else if (auto* message = qobject_cast<ChatMessage*>(object)) {
        if (message->m_parent)
            message->m_parent->detachChatMessage(message);
    } else if (auto* meeting = qobject_cast<Meeting*>(object)) {
        const QUuid id = meeting->id();
        m_meetings.removeOne(meeting);
        emit meetingAboutToBeRemoved(meeting);
        meeting->moveToFolder(nullptr);
        emit meetingRemoved(id);
    } else if (auto* folder = qobject_cast<Folder*>(object)) {
        const QUuid id = folder->id();
        m_folders.removeOne(folder);
        emit folderAboutToBeRemoved(folder);
        const QList<Meeting*> filed = folder->m_meetings;
        for (Meeting* meeting : filed)
            meeting->moveToFolder(nullptr);
        emit folderRemoved(id);
    }
    record->m_state.context = nullptr;
    object->deleteLater();
}

void ModelContext::rollback()
{
    const QList<Removal> removed = std::exchange(m_removed, {});
    for (auto it = removed.crbegin(); it != removed.crend(); ++it)
        restoreRemoval(*it);

    const QList<Record*> dirty = std::exchange(m_dirty, {});
    m_dirtySet.clear();
    for (Record* record : dirty)
        record->restoreSavedValues();

    // Children first: a new meeting takes its new segments with it anyway.
    const QList<Record*> inserted = std::exchange(m_inserted, {});
    for (auto it = inserted.crbegin(); it != inserted.crend(); ++it)
        discardInsert(*it);
}
