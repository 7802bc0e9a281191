#pragma once

// How the store's records become rows and back: the column lists in the order the statements
// bind and read them, the statements, and the conversions of each field. Shared by the context's
// reading and its saving.
#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/StoreDatabase.h"
#include "storage/TranscriptSegment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <optional>

namespace StoreRows {

// Column lists in the order the statements below bind and read them.
inline const QString kMeetingColumns
    = QStringLiteral(R"("id", "title", "summary", "userNotes", "date", "duration", "isRecording", )"
                     R"("calendarEventId", "attendeeNames", "organizer", "calendarName", "scheduledStart", )"
                     R"("scheduledEnd", "source", "titleIsUserEdited", "autoStartEnabled", "autoStartFired", )"
                     R"("linkBannerDismissed", "folder")");
inline const QString kSegmentColumns = QStringLiteral(R"("id", "text", "speakerRaw", "timestamp", "isFinal", "meeting")");
inline const QString kFolderColumns = QStringLiteral(R"("id", "name", "icon", "detail", "createdAt")");
inline const QString kChatColumns = QStringLiteral(R"("id", "roleRaw", "text", "modelId", "createdAt", "meeting")");

inline QString insertSql(const QString& table, const QString& columns)
{
    const qsizetype count = columns.count(QLatin1Char(',')) + 1;
    QStringList marks;
    for (qsizetype i = 0; i < count; ++i)
        marks.append(QStringLiteral("?"));
    return QStringLiteral(R"(INSERT INTO "%1" (%2) VALUES (%3))").arg(table, columns, marks.join(QLatin1String(", ")));
}

inline QString updateSql(const QString& table, const QString& columns)
{
    QStringList assignments;
    for (const QString& column : columns.split(QLatin1String(", ")))
        assignments.append(column + QLatin1String(" = ?"));
    return QStringLiteral(R"(UPDATE "%1" SET %2 WHERE "rowKey" = ?)").arg(table, assignments.join(QLatin1String(", ")));
}

inline QString deleteSql(const QString& table)
{
    return QStringLiteral(R"(DELETE FROM "%1" WHERE "rowKey" = ?)").arg(table);
}

inline QVariant nullOf(QMetaType::Type type)
{
    return QVariant(QMetaType(type));
}

// Qt binds a null QString as SQL NULL; an empty text is a value, not an absent one.
inline QVariant fromText(const QString& value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

inline QVariant fromOptional(const std::optional<QString>& value)
{
    return value ? fromText(*value) : nullOf(QMetaType::QString);
}

inline QVariant fromDate(const QDateTime& value)
{
    return value.isValid() ? QVariant(value.toMSecsSinceEpoch()) : QVariant(qint64(0));
}

inline QVariant fromOptionalDate(const std::optional<QDateTime>& value)
{
    return value ? fromDate(*value) : nullOf(QMetaType::LongLong);
}

inline QVariant fromKey(qint64 key)
{
    return key ? QVariant(key) : nullOf(QMetaType::LongLong);
}

inline QVariant fromUuid(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces);
}

inline QVariant fromStringList(const QStringList& list)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact));
}

inline std::optional<QString> toOptional(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
}

inline QDateTime toDate(const QVariant& value)
{
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

inline std::optional<QDateTime> toOptionalDate(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<QDateTime>(toDate(value));
}

inline QStringList toStringList(const QVariant& value)
{
    QStringList list;
    for (const QJsonValue& item : QJsonDocument::fromJson(value.toString().toUtf8()).array())
        list.append(item.toString());
    return list;
}

inline QUuid toUuid(const QVariant& value)
{
    return QUuid::fromString(value.toString());
}

inline void bindAll(QSqlQuery& query, const QVariantList& values)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
}

inline bool execute(QSqlQuery& query, QString* error)
{
    if (query.exec())
        return true;
    if (error)
        *error = StoreDatabase::describe(query.lastError());
    return false;
}

inline QVariantList meetingValues(const Meeting::Fields& f, qint64 folderKey)
{
    return { fromUuid(f.id), fromText(f.title), fromOptional(f.summary), fromText(f.userNotes), fromDate(f.date),
        f.duration, f.isRecording, fromOptional(f.calendarEventId), fromStringList(f.attendeeNames),
        fromOptional(f.organizer), fromOptional(f.calendarName), fromOptionalDate(f.scheduledStart),
        fromOptionalDate(f.scheduledEnd), fromText(f.source), f.titleIsUserEdited, f.autoStartEnabled, f.autoStartFired,
        f.linkBannerDismissed, fromKey(folderKey) };
}

inline const QString kMeetingsDeletedFlag = QStringLiteral("meetingsDeleted");

inline QVariantList segmentValues(const TranscriptSegment::Fields& f, qint64 meetingKey)
{
    return { fromUuid(f.id), fromText(f.text), fromText(f.speakerRaw), f.timestamp, f.isFinal, fromKey(meetingKey) };
}

inline QVariantList folderValues(const Folder::Fields& f)
{
    return { fromUuid(f.id), fromText(f.name), fromText(f.icon), fromText(f.detail), fromDate(f.createdAt) };
}

inline QVariantList chatValues(const ChatMessage::Fields& f, qint64 meetingKey)
{
    return { fromUuid(f.id), fromText(f.roleRaw), fromText(f.text), fromOptional(f.modelId), fromDate(f.createdAt),
        fromKey(meetingKey) };
}

} // namespace StoreRows
