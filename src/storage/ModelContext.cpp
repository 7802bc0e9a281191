#include "storage/ModelContext.h"

#include "platform/Log.h"
#include "platform/Scheduler.h"
#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/StoreDatabase.h"
#include "storage/TranscriptSegment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <algorithm>

namespace {

// Column lists in the order the statements below bind and read them.
const QString kMeetingColumns
    = QStringLiteral(R"("id", "title", "summary", "userNotes", "date", "duration", "isRecording", )"
                     R"("calendarEventId", "attendeeNames", "organizer", "calendarName", "scheduledStart", )"
                     R"("scheduledEnd", "source", "titleIsUserEdited", "autoStartEnabled", "autoStartFired", )"
                     R"("linkBannerDismissed", "folder")");
const QString kSegmentColumns = QStringLiteral(R"("id", "text", "speakerRaw", "timestamp", "isFinal", "meeting")");
const QString kFolderColumns = QStringLiteral(R"("id", "name", "icon", "detail", "createdAt")");
const QString kChatColumns = QStringLiteral(R"("id", "roleRaw", "text", "modelId", "createdAt", "meeting")");

QString insertSql(const QString& table, const QString& columns)
{
    const qsizetype count = columns.count(QLatin1Char(',')) + 1;
    QStringList marks;
    for (qsizetype i = 0; i < count; ++i)
        marks.append(QStringLiteral("?"));
    return QStringLiteral(R"(INSERT INTO "%1" (%2) VALUES (%3))").arg(table, columns, marks.join(QLatin1String(", ")));
}

QString updateSql(const QString& table, const QString& columns)
{
    QStringList assignments;
    for (const QString& column : columns.split(QLatin1String(", ")))
        assignments.append(column + QLatin1String(" = ?"));
    return QStringLiteral(R"(UPDATE "%1" SET %2 WHERE "rowKey" = ?)").arg(table, assignments.join(QLatin1String(", ")));
}

QString deleteSql(const QString& table)
{
    return QStringLiteral(R"(DELETE FROM "%1" WHERE "rowKey" = ?)").arg(table);
}

QVariant nullOf(QMetaType::Type type)
{
    return QVariant(QMetaType(type));
}

// Qt binds a null QString as SQL NULL; an empty text is a value, not an absent one.
QVariant fromText(const QString& value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

QVariant fromOptional(const std::optional<QString>& value)
{
    return value ? fromText(*value) : nullOf(QMetaType::QString);
}

QVariant fromDate(const QDateTime& value)
{
    return value.isValid() ? QVariant(value.toMSecsSinceEpoch()) : QVariant(qint64(0));
}

QVariant fromOptionalDate(const std::optional<QDateTime>& value)
{
    return value ? fromDate(*value) : nullOf(QMetaType::LongLong);
}

QVariant fromKey(qint64 key)
{
    return key ? QVariant(key) : nullOf(QMetaType::LongLong);
}

QVariant fromUuid(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces);
}

QVariant fromStringList(const QStringList& list)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact));
}

std::optional<QString> toOptional(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
}

QDateTime toDate(const QVariant& value)
{
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

std::optional<QDateTime> toOptionalDate(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<QDateTime>(toDate(value));
}

QStringList toStringList(const QVariant& value)
{
    QStringList list;
    for (const QJsonValue& item : QJsonDocument::fromJson(value.toString().toUtf8()).array())
        list.append(item.toString());
    return list;
}

QUuid toUuid(const QVariant& value)
{
    return QUuid::fromString(value.toString());
}

void bindAll(QSqlQuery& query, const QVariantList& values)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
}

bool execute(QSqlQuery& query, QString* error)
{
    if (query.exec())
        return true;
    if (error)
        *error = StoreDatabase::describe(query.lastError());
    return false;
}

QVariantList meetingValues(const Meeting::Fields& f, qint64 folderKey)
{
    return { fromUuid(f.id), fromText(f.title), fromOptional(f.summary), fromText(f.userNotes), fromDate(f.date),
        f.duration, f.isRecording, fromOptional(f.calendarEventId), fromStringList(f.attendeeNames),
        fromOptional(f.organizer), fromOptional(f.calendarName), fromOptionalDate(f.scheduledStart),
        fromOptionalDate(f.scheduledEnd), fromText(f.source), f.titleIsUserEdited, f.autoStartEnabled, f.autoStartFired,
        f.linkBannerDismissed, fromKey(folderKey) };
}

const QString kMeetingsDeletedFlag = QStringLiteral("meetingsDeleted");

QVariantList segmentValues(const TranscriptSegment::Fields& f, qint64 meetingKey)
{
    return { fromUuid(f.id), fromText(f.text), fromText(f.speakerRaw), f.timestamp, f.isFinal, fromKey(meetingKey) };
}

QVariantList folderValues(const Folder::Fields& f)
{
    return { fromUuid(f.id), fromText(f.name), fromText(f.icon), fromText(f.detail), fromDate(f.createdAt) };
}

QVariantList chatValues(const ChatMessage::Fields& f, qint64 meetingKey)
{
    return { fromUuid(f.id), fromText(f.roleRaw), fromText(f.text), fromOptional(f.modelId), fromDate(f.createdAt),
        fromKey(meetingKey) };
}

} // namespace

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

std::unique_ptr<ModelContext> ModelContext::open(const QString& filePath, QString* error)
{
    QString reason;
    std::unique_ptr<StoreDatabase> database = StoreDatabase::open(filePath, &reason);
    if (!database) {
        if (error)
            *error = reason;
        return nullptr;
    }
    std::unique_ptr<ModelContext> context(new ModelContext(std::move(database)));
    if (!context->load(&reason)) {
        if (error)
            *error = reason;
        return nullptr;
    }
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
