#pragma once

// How the store's fields become row values and back, and the statements built from a table's
// columns. Shared by the context's reading and saving and by each kind of record's layout.
#include "storage/StoreDatabase.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <optional>
#include <type_traits>

namespace StoreRows {

// Column lists in the order the statements below bind and read them.
inline const QString kMeetingColumns
    = QStringLiteral(R"("id", "title", "summary", "userNotes", "date", "duration", "isRecording", )"
                     R"("calendarEventId", "attendeeNames", "organizer", "calendarName", "scheduledStart", )"
                     R"("scheduledEnd", "source", "titleIsUserEdited", "autoStartEnabled", "autoStartFired", )"
                     R"("linkBannerDismissed", "folder")");
inline const QString kSegmentColumns
    = QStringLiteral(R"("id", "text", "speakerRaw", "timestamp", "isFinal", "meeting")");
inline const QString kFolderColumns = QStringLiteral(R"("id", "name", "icon", "detail", "createdAt")");
inline const QString kChatColumns = QStringLiteral(R"("id", "roleRaw", "text", "modelId", "createdAt", "meeting")");

inline QString quoted(const QString& name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// A column of a statement; a text column is bound as its bytes and read as them (see
// StoredText.h): CAST makes the bound bytes a TEXT value in the file's encoding, so the column
// keeps its type for every reader.
struct Column
{
    QString name;
    bool text = false;
};

// The field types stored as text.
template <typename T>
inline constexpr bool isText = std::disjunction_v<std::is_same<T, QString>, std::is_same<T, std::optional<QString>>,
    std::is_same<T, QStringList>, std::is_same<T, QUuid>>;

inline QString boundValue(const Column& column)
{
    return column.text ? QStringLiteral("CAST(? AS TEXT)") : QStringLiteral("?");
}

inline QString insertSql(const QString& table, const QList<Column>& columns)
{
    QStringList names;
    QStringList marks;
    for (const Column& column : columns) {
        names.append(column.name);
        marks.append(boundValue(column));
    }
    return QStringLiteral(R"(INSERT INTO "%1" (%2) VALUES (%3))")
        .arg(table, names.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
}

inline QString updateSql(const QString& table, const QList<Column>& columns)
{
    QStringList assignments;
    for (const Column& column : columns)
        assignments.append(column.name + QLatin1String(" = ") + boundValue(column));
    return QStringLiteral(R"(UPDATE "%1" SET %2 WHERE "rowKey" = ?)").arg(table, assignments.join(QLatin1String(", ")));
}

inline QString deleteSql(const QString& table)
{
    return QStringLiteral(R"(DELETE FROM "%1" WHERE "rowKey" = ?)").arg(table);
}

inline QString selectSql(const QString& table, const QList<Column>& columns)
{
    QStringList values;
    for (const Column& column : columns)
        values.append(column.text ? QStringLiteral("CAST(%1 AS BLOB)").arg(column.name) : column.name);
    return QStringLiteral(R"(SELECT "rowKey", %2 FROM "%1")").arg(table, values.join(QLatin1String(", ")));
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
    // Qt's JSON reader drops U+FEFF at the start of a string it reads without escapes; escaped,
    // it is read as written, by every JSON reader.
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact))
        .replace(QChar(QChar::ByteOrderMark), QLatin1String("\\ufeff"));
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

inline bool execute(QSqlQuery& query, QString* error)
{
    if (query.exec())
        return true;
    if (error)
        *error = StoreDatabase::describe(query.lastError());
    return false;
}

inline const QString kMeetingsDeletedFlag = QStringLiteral("meetingsDeleted");

// One overload per field type, for the columns of each kind of record.
inline QVariant toRow(const QUuid& value)
{
    return fromUuid(value);
}
inline QVariant toRow(const QString& value)
{
    return fromText(value);
}
inline QVariant toRow(const std::optional<QString>& value)
{
    return fromOptional(value);
}
inline QVariant toRow(const QDateTime& value)
{
    return fromDate(value);
}
inline QVariant toRow(const std::optional<QDateTime>& value)
{
    return fromOptionalDate(value);
}
inline QVariant toRow(const QStringList& value)
{
    return fromStringList(value);
}
inline QVariant toRow(double value)
{
    return value;
}
inline QVariant toRow(bool value)
{
    return value;
}

inline void fromRow(const QVariant& value, QUuid& field)
{
    field = toUuid(value);
}
inline void fromRow(const QVariant& value, QString& field)
{
    field = value.toString();
}
inline void fromRow(const QVariant& value, std::optional<QString>& field)
{
    field = toOptional(value);
}
inline void fromRow(const QVariant& value, QDateTime& field)
{
    field = toDate(value);
}
inline void fromRow(const QVariant& value, std::optional<QDateTime>& field)
{
    field = toOptionalDate(value);
}
inline void fromRow(const QVariant& value, QStringList& field)
{
    field = toStringList(value);
}
inline void fromRow(const QVariant& value, double& field)
{
    field = value.toDouble();
}
inline void fromRow(const QVariant& value, bool& field)
{
    field = value.toBool();
}

} // namespace StoreRows
