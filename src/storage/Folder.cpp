#include "storage/Folder.h"

#include "storage/Meeting.h"
#include "storage/StoredRecordImpl.h"

template class StoredRecord<Folder, FolderFields, void>;

const Folder::Layout& Folder::layout()
{
    static const Layout layout { QStringLiteral("Folder"), 0, QString(),
        {
            recordColumn<&Fields::id>("id", &Folder::idChanged),
            recordColumn<&Fields::name>("name", &Folder::nameChanged),
            recordColumn<&Fields::icon>("icon", &Folder::iconChanged),
            recordColumn<&Fields::detail>("detail", &Folder::detailChanged),
            recordColumn<&Fields::createdAt>("createdAt", &Folder::createdAtChanged),
        } };
    return layout;
}

Folder::Folder(const QString& name, const QString& icon, const QString& detail, QObject* parent)
    : QObject(parent)
    , StoredRecord({ QUuid::createUuid(), name, icon, detail, QDateTime::currentDateTimeUtc() })
{ }

Folder::Folder(const Fields& fields, QObject* parent)
    : QObject(parent)
    , StoredRecord(fields)
{ }

Folder::~Folder()
{
    // A folder that disappears leaves its meetings unfiled rather than pointing at nothing.
    const QList<Meeting*> filed = m_meetings;
    for (Meeting* meeting : filed) {
        meeting->m_parent = nullptr;
        emit meeting->folderChanged();
    }
}

void Folder::fieldChanged(void (Folder::*)())
{
    if (m_state.context && !m_state.removed)
        emit m_state.context->folderUpdated(this);
}

void Folder::setId(const QUuid& id)
{
    write(&Fields::id, id, &Folder::idChanged);
}

void Folder::setName(const QString& name)
{
    write(&Fields::name, name, &Folder::nameChanged);
}

void Folder::setIcon(const QString& icon)
{
    write(&Fields::icon, icon, &Folder::iconChanged);
}

void Folder::setDetail(const QString& detail)
{
    write(&Fields::detail, detail, &Folder::detailChanged);
}

void Folder::setCreatedAt(const QDateTime& createdAt)
{
    write(&Fields::createdAt, createdAt, &Folder::createdAtChanged);
}
