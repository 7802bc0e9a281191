// The context's saving: its changes written in one transaction, and the records put back as
// they were when a save fails.
#include "storage/ModelContext.h"

#include "platform/Log.h"
#include "storage/StoreRows.h"

#include <QSqlError>
#include <algorithm>

using namespace StoreRows;

bool ModelContext::hasChanges() const
{
    return !m_inserted.isEmpty() || !m_dirty.isEmpty() || !m_removed.isEmpty();
}

bool ModelContext::writeChanges(QHash<QObject*, qint64>& newKeys, QString* error)
{
    // A record saved in this same transaction has no key of its own until the commit.
    const auto keyOf = [&newKeys](auto* record) -> qint64 {
        if (!record)
            return 0;
        return record->m_state.isStored() ? record->m_state.key : newKeys.value(record);
    };
    const auto insertRow = [&](QObject* record, const QString& sql, const QVariantList& values) {
        QSqlQuery& query = m_database->statement(sql);
        bindAll(query, values);
        if (!execute(query, error))
            return false;
        newKeys.insert(record, query.lastInsertId().toLongLong());
        return true;
    };
    const auto updateRow = [&](const QString& sql, QVariantList values, qint64 key) {
        QSqlQuery& query = m_database->statement(sql);
        values.append(key);
        bindAll(query, values);
        return execute(query, error);
    };
    const auto deleteRow = [&](const QString& sql, qint64 key) {
        QSqlQuery& query = m_database->statement(sql);
        query.bindValue(0, key);
        return execute(query, error);
    };

    static const QString insertFolder = insertSql(QStringLiteral("Folder"), kFolderColumns);
    static const QString insertMeeting = insertSql(QStringLiteral("Meeting"), kMeetingColumns);
    static const QString insertSegment = insertSql(QStringLiteral("TranscriptSegment"), kSegmentColumns);
    static const QString insertChat = insertSql(QStringLiteral("ChatMessage"), kChatColumns);
    static const QString updateFolder = updateSql(QStringLiteral("Folder"), kFolderColumns);
    static const QString updateMeeting = updateSql(QStringLiteral("Meeting"), kMeetingColumns);
    static const QString updateSegment = updateSql(QStringLiteral("TranscriptSegment"), kSegmentColumns);
    static const QString updateChat = updateSql(QStringLiteral("ChatMessage"), kChatColumns);
    static const QString deleteFolder = deleteSql(QStringLiteral("Folder"));
    static const QString deleteMeeting = deleteSql(QStringLiteral("Meeting"));
    static const QString deleteSegment = deleteSql(QStringLiteral("TranscriptSegment"));
    static const QString deleteChat = deleteSql(QStringLiteral("ChatMessage"));

    // Parents before children, so that every reference names a row that exists.
    for (QObject* record : std::as_const(m_inserted)) {
        if (auto* folder = qobject_cast<Folder*>(record)) {
            if (!insertRow(folder, insertFolder, folderValues(folder->m_fields)))
                return false;
        }
    }
    for (QObject* record : std::as_const(m_inserted)) {
        if (auto* meeting = qobject_cast<Meeting*>(record)) {
            if (!insertRow(meeting, insertMeeting, meetingValues(meeting->m_fields, keyOf(meeting->m_folder))))
                return false;
        }
    }
    for (QObject* record : std::as_const(m_dirty)) {
        if (auto* folder = qobject_cast<Folder*>(record)) {
            if (!folder->m_state.removed
                && !updateRow(updateFolder, folderValues(folder->m_fields), folder->m_state.key))
                return false;
        } else if (auto* meeting = qobject_cast<Meeting*>(record)) {
            if (!meeting->m_state.removed
                && !updateRow(
                    updateMeeting, meetingValues(meeting->m_fields, keyOf(meeting->m_folder)), meeting->m_state.key))
                return false;
        }
    }
    for (QObject* record : std::as_const(m_inserted)) {
        if (auto* segment = qobject_cast<TranscriptSegment*>(record)) {
            if (!insertRow(segment, insertSegment, segmentValues(segment->m_fields, keyOf(segment->m_meeting))))
                return false;
        } else if (auto* message = qobject_cast<ChatMessage*>(record)) {
            if (!insertRow(message, insertChat, chatValues(message->m_fields, keyOf(message->m_meeting))))
                return false;
        }
    }
    for (QObject* record : std::as_const(m_dirty)) {
        if (auto* segment = qobject_cast<TranscriptSegment*>(record)) {
            if (!segment->m_state.removed
                && !updateRow(
                    updateSegment, segmentValues(segment->m_fields, keyOf(segment->m_meeting)), segment->m_state.key))
                return false;
        } else if (auto* message = qobject_cast<ChatMessage*>(record)) {
            if (!message->m_state.removed
                && !updateRow(
                    updateChat, chatValues(message->m_fields, keyOf(message->m_meeting)), message->m_state.key))
                return false;
        }
    }
    // The file's cascades take the children of a deleted meeting, read or not.
    for (const Removal& removal : std::as_const(m_removed)) {
        bool ok = true;
        if (auto* segment = qobject_cast<TranscriptSegment*>(removal.record))
            ok = deleteRow(deleteSegment, segment->m_state.key);
        else if (auto* message = qobject_cast<ChatMessage*>(removal.record))
            ok = deleteRow(deleteChat, message->m_state.key);
        else if (auto* meeting = qobject_cast<Meeting*>(removal.record))
            ok = deleteRow(deleteMeeting, meeting->m_state.key) && recordMeetingDeletion(meeting->id(), error);
        else if (auto* folder = qobject_cast<Folder*>(removal.record))
            ok = deleteRow(deleteFolder, folder->m_state.key);
        if (!ok)
            return false;
    }
    return true;
}

bool ModelContext::save(QString* error)
{
    if (!hasChanges())
        return true;

    QString reason;
    QHash<QObject*, qint64> newKeys;
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
        if (error)
            *error = reason;
        emit saveFailed(reason);
        return false;
    }

    for (auto it = newKeys.cbegin(); it != newKeys.cend(); ++it) {
        if (auto* meeting = qobject_cast<Meeting*>(it.key()))
            meeting->m_state.key = it.value();
        else if (auto* folder = qobject_cast<Folder*>(it.key()))
            folder->m_state.key = it.value();
        else if (auto* segment = qobject_cast<TranscriptSegment*>(it.key()))
            segment->m_state.key = it.value();
        else if (auto* message = qobject_cast<ChatMessage*>(it.key()))
            message->m_state.key = it.value();
    }
    for (QObject* record : std::as_const(m_dirty)) {
        if (auto* meeting = qobject_cast<Meeting*>(record)) {
            meeting->m_savedFields.reset();
            meeting->m_savedFolder.reset();
        } else if (auto* folder = qobject_cast<Folder*>(record)) {
            folder->m_savedFields.reset();
        } else if (auto* segment = qobject_cast<TranscriptSegment*>(record)) {
            segment->m_savedFields.reset();
            segment->m_savedMeeting.reset();
        } else if (auto* message = qobject_cast<ChatMessage*>(record)) {
            message->m_savedFields.reset();
            message->m_savedMeeting.reset();
        }
    }
    for (const Removal& removal : std::as_const(m_removed)) {
        if (auto* meeting = qobject_cast<Meeting*>(removal.record)) {
            m_pendingArchiveRemovals.insert(meeting->id());
            m_meetingsDeleted = true;
        }
        removal.record->deleteLater();
    }
    m_inserted.clear();
    m_dirty.clear();
    m_dirtySet.clear();
    m_removed.clear();
    emit saved();
    return true;
}

void ModelContext::restoreRemoval(const Removal& removal)
{
    if (auto* meeting = qobject_cast<Meeting*>(removal.record)) {
        meeting->m_state.removed = false;
        m_meetings.insert(std::min(removal.index, m_meetings.size()), meeting);
        if (auto* folder = qobject_cast<Folder*>(removal.owner)) {
            meeting->m_folder = folder;
            folder->m_meetings.append(meeting);
            emit folder->meetingsChanged();
        }
        emit meetingInserted(meeting);
    } else if (auto* folder = qobject_cast<Folder*>(removal.record)) {
        folder->m_state.removed = false;
        m_folders.insert(std::min(removal.index, m_folders.size()), folder);
        emit folderInserted(folder);
    } else if (auto* segment = qobject_cast<TranscriptSegment*>(removal.record)) {
        segment->m_state.removed = false;
        if (auto* meeting = qobject_cast<Meeting*>(removal.owner))
            meeting->attachSegment(segment, removal.index);
    } else if (auto* message = qobject_cast<ChatMessage*>(removal.record)) {
        message->m_state.removed = false;
        if (auto* meeting = qobject_cast<Meeting*>(removal.owner))
            meeting->attachChatMessage(message, removal.index);
    }
}

void ModelContext::restoreSavedValues(QObject* record)
{
    if (auto* meeting = qobject_cast<Meeting*>(record)) {
        if (meeting->m_savedFolder)
            meeting->moveToFolder(meeting->m_savedFolder->data());
        if (meeting->m_savedFields)
            meeting->applyFields(*meeting->m_savedFields);
        meeting->m_savedFields.reset();
        meeting->m_savedFolder.reset();
    } else if (auto* folder = qobject_cast<Folder*>(record)) {
        if (folder->m_savedFields)
            folder->applyFields(*folder->m_savedFields);
        folder->m_savedFields.reset();
    } else if (auto* segment = qobject_cast<TranscriptSegment*>(record)) {
        if (segment->m_savedMeeting && segment->m_meeting != segment->m_savedMeeting->data()) {
            if (segment->m_meeting)
                segment->m_meeting->detachSegment(segment);
            if (Meeting* meeting = segment->m_savedMeeting->data())
                meeting->attachSegment(segment, meeting->m_segments.size());
        }
        if (segment->m_savedFields)
            segment->applyFields(*segment->m_savedFields);
        segment->m_savedFields.reset();
        segment->m_savedMeeting.reset();
    } else if (auto* message = qobject_cast<ChatMessage*>(record)) {
        if (message->m_savedMeeting && message->m_meeting != message->m_savedMeeting->data()) {
            if (message->m_meeting)
                message->m_meeting->detachChatMessage(message);
            if (Meeting* meeting = message->m_savedMeeting->data())
                meeting->attachChatMessage(message, meeting->m_chatMessages.size());
        }
        if (message->m_savedFields)
            message->applyFields(*message->m_savedFields);
        message->m_savedFields.reset();
        message->m_savedMeeting.reset();
    }
}

void ModelContext::discardInsert(QObject* record)
{
    if (auto* segment = qobject_cast<TranscriptSegment*>(record)) {
        if (segment->m_meeting)
            segment->m_meeting->detachSegment(segment);
        segment->m_state.context = nullptr;
    } else if (auto* message = qobject_cast<ChatMessage*>(record)) {
        if (message->m_meeting)
            message->m_meeting->detachChatMessage(message);
        message->m_state.context = nullptr;
    } else if (auto* meeting = qobject_cast<Meeting*>(record)) {
        emit meetingAboutToBeRemoved(meeting);
        const QUuid id = meeting->id();
        m_meetings.removeOne(meeting);
        meeting->moveToFolder(nullptr);
        meeting->m_state.context = nullptr;
        emit meetingRemoved(id);
    } else if (auto* folder = qobject_cast<Folder*>(record)) {
        emit folderAboutToBeRemoved(folder);
        const QUuid id = folder->id();
        m_folders.removeOne(folder);
        const QList<Meeting*> filed = folder->m_meetings;
        for (Meeting* meeting : filed)
            meeting->moveToFolder(nullptr);
        folder->m_state.context = nullptr;
        emit folderRemoved(id);
    }
    record->deleteLater();
}

void ModelContext::rollback()
{
    const QList<Removal> removed = std::exchange(m_removed, {});
    for (auto it = removed.crbegin(); it != removed.crend(); ++it)
        restoreRemoval(*it);

    const QList<QObject*> dirty = std::exchange(m_dirty, {});
    m_dirtySet.clear();
    for (QObject* record : dirty)
        restoreSavedValues(record);

    // Children first: a new meeting takes its new segments with it anyway.
    const QList<QObject*> inserted = std::exchange(m_inserted, {});
    for (auto it = inserted.crbegin(); it != inserted.crend(); ++it)
        discardInsert(*it);
}
