#include "storage/ModelContext.h"

#include "platform/Log.h"
#include "platform/Scheduler.h"
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
    QString reason;
    if (!context->load(&reason))
        return StoreError { reason };
    return context;
}

QString ModelContext::filePath() const
{
    return m_database->filePath();
}

bool ModelContext::load(QString* error)
{
    QHash<qint64, Folder*> foldersByKey;
    {
        QSqlQuery& query = m_database->statement(
            QStringLiteral(R"(SELECT "rowKey", %1 FROM "Folder" ORDER BY "rowKey")").arg(kFolderColumns));
        if (!execute(query, error))
            return false;
        while (query.next()) {
            Folder::Fields f;
            f.id = toUuid(query.value(1));
            f.name = query.value(2).toString();
            f.icon = query.value(3).toString();
            f.detail = query.value(4).toString();
            f.createdAt = toDate(query.value(5));
            auto* folder = new Folder(f, this);
            folder->m_state.context = this;
            folder->m_state.key = query.value(0).toLongLong();
            foldersByKey.insert(folder->m_state.key, folder);
            m_folders.append(folder);
        }
        query.finish();
    }

    QSqlQuery& query = m_database->statement(
        QStringLiteral(R"(SELECT "rowKey", %1 FROM "Meeting" ORDER BY "rowKey")").arg(kMeetingColumns));
    if (!execute(query, error))
        return false;
    while (query.next()) {
        Meeting::Fields f;
        f.id = toUuid(query.value(1));
        f.title = query.value(2).toString();
        f.summary = toOptional(query.value(3));
        f.userNotes = query.value(4).toString();
        f.date = toDate(query.value(5));
        f.duration = query.value(6).toDouble();
        f.isRecording = query.value(7).toBool();
        f.calendarEventId = toOptional(query.value(8));
        f.attendeeNames = toStringList(query.value(9));
        f.organizer = toOptional(query.value(10));
        f.calendarName = toOptional(query.value(11));
        f.scheduledStart = toOptionalDate(query.value(12));
        f.scheduledEnd = toOptionalDate(query.value(13));
        f.source = query.value(14).toString();
        f.titleIsUserEdited = query.value(15).toBool();
        f.autoStartEnabled = query.value(16).toBool();
        f.autoStartFired = query.value(17).toBool();
        f.linkBannerDismissed = query.value(18).toBool();
        auto* meeting = new Meeting(f, this);
        meeting->m_state.context = this;
        meeting->m_state.key = query.value(0).toLongLong();
        if (Folder* folder = foldersByKey.value(query.value(19).toLongLong())) {
            meeting->m_folder = folder;
            folder->m_meetings.append(meeting);
        }
        m_meetings.append(meeting);
    }
    query.finish();

    QSqlQuery& removals = m_database->statement(QStringLiteral(R"(SELECT "meetingId" FROM "ArchiveRemoval")"));
    if (!execute(removals, error))
        return false;
    while (removals.next())
        m_pendingArchiveRemovals.insert(toUuid(removals.value(0)));
    removals.finish();
    QSqlQuery& flag = m_database->statement(QStringLiteral(R"(SELECT 1 FROM "StoreFlag" WHERE "name" = ?)"));
    flag.bindValue(0, kMeetingsDeletedFlag);
    if (!execute(flag, error))
        return false;
    m_meetingsDeleted = flag.next();
    flag.finish();
    return true;
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

    QSqlQuery& segments = m_database->statement(
        QStringLiteral(R"(SELECT "rowKey", %1 FROM "TranscriptSegment" WHERE "meeting" = ? ORDER BY "rowKey")")
            .arg(kSegmentColumns));
    segments.bindValue(0, meetingKey);
    QString error;
    if (!execute(segments, &error))
        Log::line("[Quillet] Store read failed for %@: %@", meeting->id(), error);
    while (segments.next()) {
        TranscriptSegment::Fields f;
        f.id = toUuid(segments.value(1));
        f.text = segments.value(2).toString();
        f.speakerRaw = segments.value(3).toString();
        f.timestamp = segments.value(4).toDouble();
        f.isFinal = segments.value(5).toBool();
        auto* segment = new TranscriptSegment(f, meeting);
        segment->m_state.context = this;
        segment->m_state.key = segments.value(0).toLongLong();
        segment->m_meeting = meeting;
        meeting->m_segments.append(segment);
    }
    segments.finish();

    QSqlQuery& messages = m_database->statement(
        QStringLiteral(R"(SELECT "rowKey", %1 FROM "ChatMessage" WHERE "meeting" = ? ORDER BY "rowKey")")
            .arg(kChatColumns));
    messages.bindValue(0, meetingKey);
    if (!execute(messages, &error))
        Log::line("[Quillet] Store read failed for %@: %@", meeting->id(), error);
    while (messages.next()) {
        ChatMessage::Fields f;
        f.id = toUuid(messages.value(1));
        f.roleRaw = messages.value(2).toString();
        f.text = messages.value(3).toString();
        f.modelId = toOptional(messages.value(4));
        f.createdAt = toDate(messages.value(5));
        auto* message = new ChatMessage(f, meeting);
        message->m_state.context = this;
        message->m_state.key = messages.value(0).toLongLong();
        message->m_meeting = meeting;
        meeting->m_chatMessages.append(message);
    }
    messages.finish();
}

void ModelContext::commitChangesWith(Scheduler* scheduler)
{
    m_commitScheduler = scheduler;
    if (hasChanges())
        scheduleCommit();
}

void ModelContext::scheduleCommit()
{
    // One timer at a time, however many records change: an import inserts thousands.
    if (m_commitQueued) {
        m_changedSinceCommitCheck = true;
        return;
    }
    if (!m_commitScheduler)
        return;
    m_commitQueued = true;
    m_changedSinceCommitCheck = false;
    m_commitDeferrals = 0;
    m_commitScheduler->schedule(kCommitDelay, this, [this] { commitWhenQuiet(); });
}

void ModelContext::commitWhenQuiet()
{
    if (!m_commitScheduler) {
        m_commitQueued = false;
        return;
    }
    if (m_changedSinceCommitCheck && m_commitDeferrals < kMaxCommitDeferrals) {
        m_changedSinceCommitCheck = false;
        ++m_commitDeferrals;
        m_commitScheduler->schedule(kCommitDelay, this, [this] { commitWhenQuiet(); });
        return;
    }
    m_commitQueued = false;
    // An explicit save may have written everything meanwhile.
    if (hasChanges())
        save();
}

void ModelContext::markDirty(QObject* record)
{
    // Also for a record that is already dirty: a failed commit leaves it so, and the next
    // change must still bring a commit.
    scheduleCommit();
    // New records are written whole by the next save; only stored ones need an update.
    const RecordState* state = nullptr;
    if (auto* meeting = qobject_cast<Meeting*>(record))
        state = &meeting->m_state;
    else if (auto* segment = qobject_cast<TranscriptSegment*>(record))
        state = &segment->m_state;
    else if (auto* message = qobject_cast<ChatMessage*>(record))
        state = &message->m_state;
    else if (auto* folder = qobject_cast<Folder*>(record))
        state = &folder->m_state;
    if (!state || !state->isStored() || m_dirtySet.contains(record))
        return;
    m_dirtySet.insert(record);
    m_dirty.append(record);
}

void ModelContext::recordInsert(QObject* record)
{
    if (auto* segment = qobject_cast<TranscriptSegment*>(record)) {
        segment->m_state = RecordState { this, 0, false };
    } else if (auto* message = qobject_cast<ChatMessage*>(record)) {
        message->m_state = RecordState { this, 0, false };
    } else {
        return;
    }
    m_inserted.append(record);
    scheduleCommit();
}

bool ModelContext::revive(QObject* record)
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
    if (meeting->m_folder && !meeting->m_folder->m_state.context)
        insert(meeting->m_folder);
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
template <typename Record> void ModelContext::retire(Record* record, QObject* owner, qsizetype index)
{
    if (record->m_state.isStored()) {
        record->m_state.removed = true;
        m_removed.append(Removal { record, owner, index });
        scheduleCommit();
        return;
    }
    m_inserted.removeOne(record);
    record->m_state.context = nullptr;
    record->deleteLater();
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
    emit meetingAboutToBeRemoved(meeting);
    const QUuid id = meeting->id();
    const qsizetype index = m_meetings.indexOf(meeting);
    m_meetings.removeAt(index);
    Folder* folder = meeting->m_folder;
    if (folder) {
        folder->m_meetings.removeOne(meeting);
        meeting->m_folder = nullptr;
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
    emit folderAboutToBeRemoved(folder);
    const QUuid id = folder->id();
    const qsizetype index = m_folders.indexOf(folder);
    m_folders.removeAt(index);
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
    Meeting* meeting = segment->m_meeting;
    const qsizetype index = meeting ? meeting->m_segments.indexOf(segment) : 0;
    if (meeting)
        meeting->detachSegment(segment);
    retire(segment, meeting, index);
}

void ModelContext::remove(ChatMessage* message)
{
    if (!message || message->m_state.context != this || message->m_state.removed)
        return;
    Meeting* meeting = message->m_meeting;
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
