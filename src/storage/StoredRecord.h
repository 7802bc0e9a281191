#pragma once

#include "storage/Record.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <optional>
#include <type_traits>

class QSqlQuery;

// One stored field of a kind of record: its column, how its value becomes a row value and back,
// and the signal that tells of its change. Made by recordColumn() in the record's source file.
// A text column (text is set) goes to the file and back as bytes (see StoredText.h).
template <typename Derived, typename Fields> struct RecordColumn
{
    const char* name;
    bool text;
    QVariant (*toRow)(const Fields&);
    void (*fromRow)(Fields&, const QVariant&);
    bool (*differs)(const Fields&, const Fields&);
    void (*makeWellFormed)(Fields&);
    void (Derived::*changed)();
};

// A kind of record as the store file holds it: its table, its rank in a save (see RecordTable),
// the column that holds its parent's key (empty when it has none), and its fields.
template <typename Derived, typename Fields> struct RecordLayout
{
    QString table;
    int rank = 0;
    QString parentColumn;
    QList<RecordColumn<Derived, Fields>> columns;
};

// The part every kind of record shares: its fields as one value, its link to its parent record,
// the values as last saved while a change is unsaved, and the writing of a field that keeps
// those and notifies. Derived declares its fields once, in layout(), and the hooks
// fieldChanged() and (when it has a parent) restoreParent().
template <typename Derived, typename FieldsType, typename Parent> class StoredRecord : public Record
{
public:
    using Fields = FieldsType;

    const Fields& fields() const { return m_fields; }

protected:
    // A folder has no parent; its link stays empty.
    using ParentObject = std::conditional_t<std::is_void_v<Parent>, QObject, Parent>;
    using Layout = RecordLayout<Derived, Fields>;

    // Every text of a new record is made well-formed (see StoredText::wellFormed), as is every
    // text write() takes.
    explicit StoredRecord(const Fields& fields);

    // Writes one field; an unchanged value writes and notifies nothing.
    template <typename T>
    void write(T Fields::*field, const std::type_identity_t<T>& value, void (Derived::*changed)());
    // Called before any change of a record in a context: keeps the saved values and marks it dirty.
    void willChange();
    void notify(void (Derived::*changed)());
    // Emits the signals of the fields that differ.
    void applyFields(const Fields& fields);

    Fields m_fields;
    ParentObject* m_parent = nullptr;

private:
    friend class ModelContext;

    static const RecordTable& recordTable();
    // The record of a row selected by recordTable().selectSql, as stored in the context.
    static Derived* fromRow(const QSqlQuery& row, ModelContext* context, QObject* owner);

    Derived* derived() { return static_cast<Derived*>(this); }
    const Derived* derived() const { return static_cast<const Derived*>(this); }

    QObject* object() override;
    const RecordTable& table() const override;
    QVariantList rowValues(qint64 parentKey) const override;
    Record* parentRecord() const override;
    void forgetSavedValues() override;
    void restoreSavedValues() override;

    std::optional<Fields> m_savedFields;
    std::optional<QPointer<ParentObject>> m_savedParent;
};
