#pragma once

#include "storage/StoredRecord.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QUuid>

class Folder;
class Meeting;

struct FolderFields
{
    QUuid id;
    QString name;
    QString icon = QStringLiteral("folder");
    QString detail;
    QDateTime createdAt;

    bool operator==(const FolderFields&) const = default;
};

// A user-made group of meetings. A meeting is filed by setting its folder; meetings() follows.
class Folder final : public QObject, public StoredRecord<Folder, FolderFields, void>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Folder)

public:
    Folder(const QString& name, const QString& icon, const QString& detail, QObject* parent = nullptr);
    ~Folder() override;

    QUuid id() const { return m_fields.id; }
    QString name() const { return m_fields.name; }
    QString icon() const { return m_fields.icon; }
    QString detail() const { return m_fields.detail; }
    QDateTime createdAt() const { return m_fields.createdAt; }
    // The meetings filed here, in no particular order.
    QList<Meeting*> meetings() const { return m_meetings; }

    void setId(const QUuid& id);
    void setName(const QString& name);
    void setIcon(const QString& icon);
    void setDetail(const QString& detail);
    void setCreatedAt(const QDateTime& createdAt);

signals:
    void idChanged();
    void nameChanged();
    void iconChanged();
    void detailChanged();
    void createdAtChanged();
    void meetingsChanged();

private:
    friend class ModelContext;
    friend class Meeting;
    friend StoredRecord;

    Folder(const Fields& fields, QObject* parent);

    static const Layout& layout();
    void fieldChanged(void (Folder::*changed)());

    QList<Meeting*> m_meetings;
};

extern template class StoredRecord<Folder, FolderFields, void>;
