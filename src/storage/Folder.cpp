#include "storage/Folder.h"

#include "storage/Meeting.h"
#include "storage/ModelContext.h"

Folder::Folder(const QString& name, const QString& icon, const QString& detail, QObject* parent)
    : QObject(parent)
{
    m_fields.id = QUuid::createUuid();
    m_fields.name = name;
    m_fields.icon = icon;
    m_fields.detail = detail;
    m_fields.createdAt = QDateTime::currentDateTimeUtc();
}

Folder::Folder(const Fields& fields, QObject* parent)
    : QObject(parent)
    , m_fields(fields)
{ }

Folder::~Folder()
{
    // A folder that disappears leaves its meetings unfiled rather than pointing at nothing.
    const QList<Meeting*> filed = m_meetings;
    for (Meeting* meeting : filed) {
        meeting->m_folder = nullptr;
        emit meeting->folderChanged();
    }
}

template <typename T> bool Folder::assign(T& field, const T& value)
{
    if (field == value)
        return false;
    willChange();
    field = value;
    return true;
}

void Folder::willChange()
{
    if (!m_state.context || m_state.removed)
        return;
    if (m_state.isStored() && !m_savedFields)
        m_savedFields = m_fields;
    m_state.context->markDirty(this);
}

void Folder::notify(void (Folder::*fieldSignal)())
{
    emit(this->*fieldSignal)();
    if (m_state.context && !m_state.removed)
        emit m_state.context->folderUpdated(this);
}

void Folder::setId(const QUuid& id)
{
    if (assign(m_fields.id, id))
        notify(&Folder::idChanged);
}

void Folder::setName(const QString& name)
{
    if (assign(m_fields.name, name))
        notify(&Folder::nameChanged);
}

void Folder::setIcon(const QString& icon)
{
    if (assign(m_fields.icon, icon))
        notify(&Folder::iconChanged);
}

void Folder::setDetail(const QString& detail)
{
    if (assign(m_fields.detail, detail))
        notify(&Folder::detailChanged);
}

void Folder::setCreatedAt(const QDateTime& createdAt)
{
    if (assign(m_fields.createdAt, createdAt))
        notify(&Folder::createdAtChanged);
}

void Folder::applyFields(const Fields& fields)
{
    const Fields old = std::exchange(m_fields, fields);
    if (old.id != fields.id)
        notify(&Folder::idChanged);
    if (old.name != fields.name)
        notify(&Folder::nameChanged);
    if (old.icon != fields.icon)
        notify(&Folder::iconChanged);
    if (old.detail != fields.detail)
        notify(&Folder::detailChanged);
    if (old.createdAt != fields.createdAt)
        notify(&Folder::createdAtChanged);
}
