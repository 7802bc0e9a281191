#pragma once

#include "storage/ChatRole.h"
#include "storage/RecordState.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <optional>

class Meeting;

// One question to, or answer from, the language model about a meeting.
class ChatMessage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatMessage)

public:
    struct Fields
    {
        QUuid id;
        QString roleRaw = QStringLiteral("user");
        QString text;
        std::optional<QString> modelId;
        QDateTime createdAt;

        bool operator==(const Fields&) const = default;
    };

    ChatMessage(ChatRole role, const QString& text, const std::optional<QString>& modelId, QObject* parent = nullptr);
    ~ChatMessage() override;

    QUuid id() const { return m_fields.id; }
    QString roleRaw() const { return m_fields.roleRaw; }
    ChatRole role() const { return chatRoleFromRawValue(m_fields.roleRaw); }
    QString text() const { return m_fields.text; }
    std::optional<QString> modelId() const { return m_fields.modelId; }
    QDateTime createdAt() const { return m_fields.createdAt; }
    Meeting* meeting() const { return m_meeting; }

    void setId(const QUuid& id);
    void setRoleRaw(const QString& roleRaw);
    void setRole(ChatRole role);
    void setText(const QString& text);
    void setModelId(const std::optional<QString>& modelId);
    void setCreatedAt(const QDateTime& createdAt);

    const Fields& fields() const { return m_fields; }

signals:
    void idChanged();
    void roleRawChanged();
    void textChanged();
    void modelIdChanged();
    void createdAtChanged();
    void meetingChanged();

private:
    friend class ModelContext;
    friend class Meeting;

    ChatMessage(const Fields& fields, QObject* parent);

    template <typename T> bool assign(T& field, const T& value);
    void willChange();
    void applyFields(const Fields& fields);

    Fields m_fields;
    Meeting* m_meeting = nullptr;

    RecordState m_state;
    std::optional<Fields> m_savedFields;
    std::optional<QPointer<Meeting>> m_savedMeeting;
};
