#pragma once

#include "storage/RecordState.h"

#include <QString>
#include <QVariantList>

class ModelContext;
class QObject;

// The statements the context writes a kind of record with, and where the kind comes in a save.
struct RecordTable
{
    QString insertSql;
    QString updateSql;
    QString deleteSql;
    // "SELECT "rowKey", <columns>, <parent key>": the fields start at column 1.
    QString selectSql;
    // Where a selected row holds the parent's key; -1 for a kind without a parent.
    int parentKeyIndex = -1;
    // Kinds of a lower rank are written first, so that every reference names a row that exists.
    int rank = 0;
};

// What the context needs of a record to save it, or to put it back as it was saved, whatever
// its kind. Each kind gets it from StoredRecord.
class Record
{
public:
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

protected:
    Record() = default;
    virtual ~Record() = default;

    RecordState m_state;

private:
    friend class ModelContext;

    virtual QObject* object() = 0;
    virtual const RecordTable& table() const = 0;
    // The field values in the table's column order, the parent's key last when the kind has one.
    virtual QVariantList rowValues(qint64 parentKey) const = 0;
    virtual Record* parentRecord() const = 0;
    // The copies willChange() keeps of the saved values: dropped when a save commits, put back
    // by a rollback.
    virtual void forgetSavedValues() = 0;
    virtual void restoreSavedValues() = 0;
};
