#pragma once

// The definitions of StoredRecord, included by the source file of each kind of record, which
// instantiates it once.
#include "storage/ModelContext.h"
#include "storage/StoreDatabase.h"
#include "storage/StoreRows.h"
#include "storage/StoredRecord.h"
#include "storage/StoredText.h"

#include <QSqlQuery>
#include <QStringList>
#include <utility>

// A column of Fields::*field, named as in the store file.
template <auto field, typename Derived>
RecordColumn<Derived, typename Derived::Fields> recordColumn(const char* name, void (Derived::*changed)())
{
    using Fields = typename Derived::Fields;
    using T = std::remove_cvref_t<decltype(std::declval<Fields>().*field)>;
    return { name, StoreRows::isText<T>, [](const Fields& fields) { return StoreRows::toRow(fields.*field); },
        [](Fields& fields, const QVariant& value) { StoreRows::fromRow(value, fields.*field); },
        [](const Fields& a, const Fields& b) { return a.*field != b.*field; },
        [](Fields& fields) {
            if constexpr (!std::is_same_v<decltype(StoredText::wellFormed(fields.*field)), const T&>)
                fields.*field = StoredText::wellFormed(fields.*field);
        },
        changed };
}

template <typename Derived, typename Fields, typename Parent>
StoredRecord<Derived, Fields, Parent>::StoredRecord(const Fields& fields)
    : m_fields(fields)
{
    for (const auto& column : Derived::layout().columns)
        column.makeWellFormed(m_fields);
}

template <typename Derived, typename Fields, typename Parent>
template <typename T>
void StoredRecord<Derived, Fields, Parent>::write(
    T Fields::*field, const std::type_identity_t<T>& value, void (Derived::*changed)())
{
    if (m_fields.*field == value)
        return;
    const T& formed = StoredText::wellFormed(value);
    if (m_fields.*field == formed)
        return;
    willChange();
    m_fields.*field = formed;
    notify(changed);
}

template <typename Derived, typename Fields, typename Parent> void StoredRecord<Derived, Fields, Parent>::willChange()
{
    if (!m_state.context || m_state.removed)
        return;
    if (m_state.isStored() && !m_savedFields) {
        m_savedFields = m_fields;
        m_savedParent = QPointer<ParentObject>(m_parent);
    }
    m_state.context->markDirty(this);
}

template <typename Derived, typename Fields, typename Parent>
void StoredRecord<Derived, Fields, Parent>::notify(void (Derived::*changed)())
{
    emit(derived()->*changed)();
    derived()->fieldChanged(changed);
}

template <typename Derived, typename Fields, typename Parent>
void StoredRecord<Derived, Fields, Parent>::applyFields(const Fields& fields)
{
    const Fields old = std::exchange(m_fields, fields);
    for (const auto& column : Derived::layout().columns) {
        if (column.differs(old, fields))
            notify(column.changed);
    }
}

template <typename Derived, typename Fields, typename Parent>
const RecordTable& StoredRecord<Derived, Fields, Parent>::recordTable()
{
    static const RecordTable table = [] {
        const Layout& layout = Derived::layout();
        QList<StoreRows::Column> columns;
        for (const auto& column : layout.columns)
            columns.append({ StoreRows::quoted(QLatin1String(column.name)), column.text });
        if (!layout.parentColumn.isEmpty())
            columns.append({ StoreRows::quoted(layout.parentColumn), false });
        const int parentKeyIndex = layout.parentColumn.isEmpty() ? -1 : int(columns.size());
        return RecordTable { StoreRows::insertSql(layout.table, columns), StoreRows::updateSql(layout.table, columns),
            StoreRows::deleteSql(layout.table), StoreRows::selectSql(layout.table, columns), parentKeyIndex,
            layout.rank };
    }();
    return table;
}

template <typename Derived, typename Fields, typename Parent>
Derived* StoredRecord<Derived, Fields, Parent>::fromRow(const QSqlQuery& row, ModelContext* context, QObject* owner)
{
    Fields fields;
    int index = 1;
    for (const auto& column : Derived::layout().columns) {
        const QVariant value = row.value(index++);
        column.fromRow(fields, column.text ? context->m_database->textOf(value) : value);
    }
    auto* record = new Derived(fields, owner);
    record->m_state = RecordState { context, row.value(0).toLongLong(), false };
    return record;
}

template <typename Derived, typename Fields, typename Parent> QObject* StoredRecord<Derived, Fields, Parent>::object()
{
    return derived();
}

template <typename Derived, typename Fields, typename Parent>
const RecordTable& StoredRecord<Derived, Fields, Parent>::table() const
{
    return recordTable();
}

template <typename Derived, typename Fields, typename Parent>
QVariantList StoredRecord<Derived, Fields, Parent>::rowValues(qint64 parentKey) const
{
    const Layout& layout = Derived::layout();
    QVariantList values;
    values.reserve(layout.columns.size() + 1);
    for (const auto& column : layout.columns)
        values.append(column.toRow(m_fields));
    if (!layout.parentColumn.isEmpty())
        values.append(StoreRows::fromKey(parentKey));
    return values;
}

template <typename Derived, typename Fields, typename Parent>
Record* StoredRecord<Derived, Fields, Parent>::parentRecord() const
{
    if constexpr (std::is_void_v<Parent>)
        return nullptr;
    else
        return m_parent;
}

template <typename Derived, typename Fields, typename Parent>
void StoredRecord<Derived, Fields, Parent>::forgetSavedValues()
{
    m_savedFields.reset();
    m_savedParent.reset();
}

template <typename Derived, typename Fields, typename Parent>
void StoredRecord<Derived, Fields, Parent>::restoreSavedValues()
{
    if constexpr (!std::is_void_v<Parent>) {
        if (m_savedParent && m_parent != m_savedParent->data())
            derived()->restoreParent(m_savedParent->data());
    }
    if (m_savedFields)
        applyFields(*m_savedFields);
    forgetSavedValues();
}
