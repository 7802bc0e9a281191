#pragma once

#include "storage/RecordState.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QUuid>
#include <optional>

class Meeting;

// A user-made group of meetings. A meeting is filed by setting its folder; meetings() follows.
class Folder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Folder)

public:
    struct Fields
    {
        QUuid id;
        QString name;
        QString icon = QStringLiteral("folder");
        QString detail;
        QDateTime createdAt;

        bool operator==(const Fields&) const = default;
    };

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

    const Fields& fields() const { return m_fields; }

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

    Folder(const Fields& fields, QObject* parent);

    template <typename T> bool assign(T& field, const T& value);
    void willChange();
    void notify(void (Folder::*fieldSignal)());
    void applyFields(const Fields& fields);

    Fields m_fields;
    QList<Meeting*> m_meetings;

    RecordState m_state;
    std::optional<Fields> m_savedFields;
};
