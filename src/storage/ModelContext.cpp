#include "storage/ModelContext.h"

#include "platform/Log.h"
#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/StoreDatabase.h"
#include "storage/StoreRows.h"
#include "storage/TranscriptSegment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <algorithm>

using namespace StoreRows;

ModelContext::ModelContext(std::unique_ptr<StoreDatabase> database)
    : m_database(std::move(database))
{ }

ModelContext::~ModelContext()
{
    // Records go before the connection, and without reporting to a half-destroyed context.
    const QList<QObject*> records = children();
    for (QObject* child : records) {
        if (auto* meeting = qobject_cast<Meeting*>(child))
            meeting->m_state.context = nullptr;
        else if (auto* folder = qobject_cast<Folder*>(child))
            folder->m_state.context = nullptr;
    }
    blockSignals(true);
    qDeleteAll(records);
    m_database.reset();
}

Result<std::unique_ptr<ModelContext>, StoreError> ModelContext::open(const QString& filePath)
{
    Result<std::unique_ptr<StoreDatabase>, StoreError> database = StoreDatabase::open(filePath);
    if (!database.ok())
        return database.error();
    std::unique_ptr<ModelContext> context(new ModelContext(std::move(database).value()));
    if (Result<void, StoreError> loaded = context->load(); !loaded.ok())
        return loaded.error();
    return context;
}

QString ModelContext::filePath() const
{
    return m_database->filePath();
}

Result<void, StoreError> ModelContext::load()
{
    QString reason;
    QHash<qint64, Folder*> foldersByKey;
    {
        QSqlQuery& query
            = m_database->statement(Folder::recordTable().selectSql + QLatin1String(R"( ORDER BY "rowKey")"));
        if (!execute(query, &reason))
            return StoreError { reason };
        while (query.next()) {
            Folder* folder = Folder::fromRow(query, this, this);
            foldersByKey.insert(folder->m_state.key, folder);
            m_folders.append(folder);
        }
        query.finish();
    }

    const RecordTable& meetings = Meeting::recordTable();
    QSqlQuery& query = m_database->statement(meetings.selectSql + QLatin1String(R"( ORDER BY "rowKey")"));
    if (!execute(query, &reason))
        return StoreError { reason };
    while (query.next()) {
        Meeting* meeting = Meeting::fromRow(query, this, this);
        if (Folder* folder = foldersByKey.value(query.value(meetings.parentKeyIndex).toLongLong())) {
            meeting->m_parent = folder;
            folder->m_meetings.append(meeting);
        }
        m_meetings.append(meeting);
    }
    query.finish();

    QSqlQuery& removals = m_database->statement(QStringLiteral(R"(SELECT "meetingId" FROM "ArchiveRemoval")"));
    if (!execute(removals, &reason))
        return StoreError { reason };
    while (removals.next())
        m_pendingArchiveRemovals.insert(toUuid(removals.value(0)));
    removals.finish();
    QSqlQuery& flag = m_database->statement(QStringLiteral(R"(SELECT 1 FROM "StoreFlag" WHERE "name" = ?)"));
    flag.bindValue(0, kMeetingsDeletedFlag);
    if (!execute(flag, &reason))
        return StoreError { reason };
    m_meetingsDeleted = flag.next();
    flag.finish();
    return Result<void, StoreError>::success();
}

bool ModelContext::recordMeetingDeletion(const QUuid& id, QString* error)
{
    QSqlQuery& removal
        = m_database->statement(QStringLiteral(R"(INSERT OR IGNORE INTO "ArchiveRemoval" ("meetingId") VALUES (?))"));
    removal.bindValue(0, fromUuid(id));
    if (!execute(removal, error))
        return false;
    QSqlQuery& flag = m_database->statement(QStringLiteral(R"(INSERT OR IGNORE INTO "StoreFlag" ("name") VALUES (?))"));
    flag.bindValue(0, kMeetingsDeletedFlag);
    return execute(flag, error);
}

bool ModelContext::clearArchiveRemovals(const QSet<QUuid>& ids)
{
    QString error;
    {
        StoreTransaction transaction(m_database->connection());
        bool ok = transaction.isActive();
        QSqlQuery& clear
            = m_database->statement(QStringLiteral(R"(DELETE FROM "ArchiveRemoval" WHERE "meetingId" = ?)"));
        for (auto it = ids.cbegin(); ok && it != ids.cend(); ++it) {
            clear.bindValue(0, fromUuid(*it));
            ok = execute(clear, &error);
        }
        if (!ok || !transaction.commit()) {
            if (error.isEmpty())
                error = StoreDatabase::describe(m_database->connection().lastError());
            Log::line("[Quillet] Store save failed: %@", error);
            return false;
        }
    }
    m_pendingArchiveRemovals.subtract(ids);
    return true;
}

void ModelContext::loadChildren(Meeting* meeting)
{
    const QVariant meetingKey = meeting->m_state.key;
    if (!meeting->m_state.isStored())
        return;

    const QString ofMeeting = QStringLiteral(R"( WHERE "meeting" = ? ORDER BY "rowKey")");
    QSqlQuery& segments = m_database->statement(TranscriptSegment::recordTable().selectSql + ofMeeting);
    segments.bindValue(0, meetingKey);
    QString error;
    if (!execute(segments, &error))
        Log::line("[Quillet] Store read failed for %@: %@", meeting->id(), error);
    while (segments.next()) {
        TranscriptSegment* segment = TranscriptSegment::fromRow(segments, this, meeting);
        segment->m_parent = meeting;
        meeting->m_segments.append(segment);
    }
    segments.finish();

    QSqlQuery& messages = m_database->statement(ChatMessage::recordTable().selectSql + ofMeeting);
    messages.bindValue(0, meetingKey);
    if (!execute(messages, &error))
        Log::line("[Quillet] Store read failed for %@: %@", meeting->id(), error);
    while (messages.next()) {
        ChatMessage* message = ChatMessage::fromRow(messages, this, meeting);
        message->m_parent = meeting;
        meeting->m_chatMessages.append(message);
    }
    messages.finish();
}

void ModelContext::commitChangesEachTurn()
{
    m_commitsEachTurn = true;
    if (hasChanges())
        scheduleCommit();
}

void ModelContext::scheduleCommit()
{
    // One queued commit at a time, however many records change in this turn.
    if (!m_commitsEachTurn || m_commitQueued)
        return;
    m_commitQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_commitQueued = false;
            // An explicit save may have written everything meanwhile.
            if (hasChanges())
                commit(false);
        },
        Qt::QueuedConnection);
}

void ModelContext::markDirty(Record* record)
{
    // Also for a record that is already dirty: a failed commit leaves it so, and the next
    // change must still bring a commit.
    scheduleCommit();
    // New records are written whole by the next save; only stored ones need an update.
    if (!record->m_state.isStored() || m_dirtySet.contains(record))
        return;
    m_dirtySet.insert(record);
    m_dirty.append(record);
}

// The segments and chat messages a meeting in this context takes on.
void ModelContext::recordInsert(Record* record)
{
    record->m_state = RecordState { this, 0, false };
    m_inserted.append(record);
    scheduleCommit();
}

bool ModelContext::revive(Record* record)
{
    const auto it = std::find_if(
        m_removed.begin(), m_removed.end(), [record](const Removal& removal) { return removal.record == record; });
    if (it == m_removed.end())
        return false;
    const Removal removal = *it;
    m_removed.erase(it);
    restoreRemoval(removal);
    return true;
}

void ModelContext::insert(Meeting* meeting)
{
    if (meeting && meeting->m_state.context == this && meeting->m_state.removed)
        revive(meeting); // inserting again undoes an unsaved removal
    if (!meeting || meeting->m_state.context)
        return;
    meeting->setParent(this);
    meeting->m_state = RecordState { this, 0, false };
    meeting->m_childrenLoaded = true;
    m_meetings.append(meeting);
    m_inserted.append(meeting);
    for (TranscriptSegment* segment : std::as_const(meeting->m_segments))
        recordInsert(segment);
    for (ChatMessage* message : std::as_const(meeting->m_chatMessages))
        recordInsert(message);
    if (meeting->m_parent && !meeting->m_parent->m_state.context)
        insert(meeting->m_parent);
    scheduleCommit();
    emit meetingInserted(meeting);
}

void ModelContext::insert(Folder* folder)
{
    if (folder && folder->m_state.context == this && folder->m_state.removed)
        revive(folder);
    if (!folder || folder->m_state.context)
        return;
    folder->setParent(this);
    folder->m_state = RecordState { this, 0, false };
    m_folders.append(folder);
    m_inserted.append(folder);
    scheduleCommit();
    emit folderInserted(folder);
}

// A stored record stays until the save deletes its row (or a rollback brings it back); one
// that was never saved goes at once.
void ModelContext::retire(Record* record, QObject* owner, qsizetype index)
{
    if (record->m_state.isStored()) {
        record->m_state.removed = true;
        m_removed.append(Removal { record, owner, index });
        scheduleCommit();
        return;
    }
    m_inserted.removeOne(record);
    record->m_state.context = nullptr;
    record->object()->deleteLater();
}

void ModelContext::dropUnsavedChildren(Meeting* meeting)
{
    const QList<TranscriptSegment*> segments = meeting->m_segments;
    for (TranscriptSegment* segment : segments) {
        if (!segment->m_state.isStored()) {
            meeting->detachSegment(segment);
            retire(segment, meeting, 0);
        }
    }
    const QList<ChatMessage*> messages = meeting->m_chatMessages;
    for (ChatMessage* message : messages) {
        if (!message->m_state.isStored()) {
            meeting->detachChatMessage(message);
            retire(message, meeting, 0);
        }
    }
}

void ModelContext::remove(Meeting* meeting)
{
    if (!meeting || meeting->m_state.context != this || meeting->m_state.removed)
        return;
    // Out of every fetch before anyone hears of it: a list made while the removal is announced
    // (a page replaced on the way) must not start with the meeting in it.
    const QUuid id = meeting->id();
    const qsizetype index = m_meetings.indexOf(meeting);
    m_meetings.removeAt(index);
    emit meetingAboutToBeRemoved(meeting);
    Folder* folder = meeting->m_parent;
    if (folder) {
        folder->m_meetings.removeOne(meeting);
        meeting->m_parent = nullptr;
        emit folder->meetingsChanged();
    }
    dropUnsavedChildren(meeting);
    retire(meeting, folder, index);
    emit meetingRemoved(id);
}

void ModelContext::remove(Folder* folder)
{
    if (!folder || folder->m_state.context != this || folder->m_state.removed)
        return;
    const QUuid id = folder->id();
    const qsizetype index = m_folders.indexOf(folder);
    m_folders.removeAt(index);
    emit folderAboutToBeRemoved(folder);
    // Deleting a folder unfiles its meetings and deletes none of them.
    const QList<Meeting*> filed = folder->m_meetings;
    for (Meeting* meeting : filed)
        meeting->setFolder(nullptr);
    retire(folder, nullptr, index);
    emit folderRemoved(id);
}

void ModelContext::remove(TranscriptSegment* segment)
{
    if (!segment || segment->m_state.context != this || segment->m_state.removed)
        return;
    Meeting* meeting = segment->m_parent;
    const qsizetype index = meeting ? meeting->m_segments.indexOf(segment) : 0;
    if (meeting)
        meeting->detachSegment(segment);
    retire(segment, meeting, index);
}

void ModelContext::remove(ChatMessage* message)
{
    if (!message || message->m_state.context != this || message->m_state.removed)
        return;
    Meeting* meeting = message->m_parent;
    const qsizetype index = meeting ? meeting->m_chatMessages.indexOf(message) : 0;
    if (meeting)
        meeting->detachChatMessage(message);
    retire(message, meeting, index);
}

QList<Meeting*> ModelContext::fetchMeetings(const MeetingFetch& fetch) const
{
    QList<Meeting*> result;
    result.reserve(m_meetings.size());
    for (Meeting* meeting : m_meetings) {
        if (!fetch.filter || fetch.filter(*meeting))
            result.append(meeting);
    }
    switch (fetch.sort) {
    case MeetingSort::DateDescending:
        std::stable_sort(result.begin(), result.end(),
            [](const Meeting* a, const Meeting* b) { return a->m_fields.date > b->m_fields.date; });
        break;
    case MeetingSort::DateAscending:
        std::stable_sort(result.begin(), result.end(),
            [](const Meeting* a, const Meeting* b) { return a->m_fields.date < b->m_fields.date; });
        break;
    case MeetingSort::ScheduledStartAscending:
        // Meetings without a scheduled start come last.
        std::stable_sort(result.begin(), result.end(), [](const Meeting* a, const Meeting* b) {
            const auto& x = a->m_fields.scheduledStart;
            const auto& y = b->m_fields.scheduledStart;
            if (x && y)
                return *x < *y;
            return x.has_value() && !y.has_value();
        });
        break;
    }
    if (fetch.limit >= 0 && result.size() > fetch.limit)
        result.resize(fetch.limit);
    return result;
}

int ModelContext::meetingCount() const
{
    return int(m_meetings.size());
}

qint64 ModelContext::storedKey(const Meeting& meeting) const
{
    return meeting.m_state.key;
}

bool ModelContext::hasUnreadSegments(const Meeting& meeting) const
{
    return !meeting.m_childrenLoaded;
}

Meeting* ModelContext::meetingById(const QUuid& id) const
{
    const auto it = std::find_if(
        m_meetings.cbegin(), m_meetings.cend(), [&id](const Meeting* meeting) { return meeting->id() == id; });
    return it == m_meetings.cend() ? nullptr : *it;
}

QList<Folder*> ModelContext::fetchFolders() const
{
    QList<Folder*> result = m_folders;
    std::stable_sort(
        result.begin(), result.end(), [](const Folder* a, const Folder* b) { return a->createdAt() < b->createdAt(); });
    return result;
}
