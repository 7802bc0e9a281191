#pragma once

#include "storage/ChatRole.h"
#include "storage/StoredRecord.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <optional>

class Meeting;

struct ChatMessageFields
{
    QUuid id;
    QString roleRaw = QStringLiteral("user");
    QString text;
    std::optional<QString> modelId;
    QDateTime createdAt;

    bool operator==(const ChatMessageFields&) const = default;
};

// One question to, or answer from, the language model about a meeting.
class ChatMessage final : public QObject, public StoredRecord<ChatMessage, ChatMessageFields, Meeting>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatMessage)

public:
    ChatMessage(ChatRole role, const QString& text, const std::optional<QString>& modelId, QObject* parent = nullptr);
    ~ChatMessage() override;

    QUuid id() const { return m_fields.id; }
    QString roleRaw() const { return m_fields.roleRaw; }
    ChatRole role() const { return chatRoleFromRawValue(m_fields.roleRaw); }
    QString text() const { return m_fields.text; }
    std::optional<QString> modelId() const { return m_fields.modelId; }
    QDateTime createdAt() const { return m_fields.createdAt; }
    Meeting* meeting() const { return m_parent; }

    void setId(const QUuid& id);
    void setRoleRaw(const QString& roleRaw);
    void setRole(ChatRole role);
    void setText(const QString& text);
    void setModelId(const std::optional<QString>& modelId);
    void setCreatedAt(const QDateTime& createdAt);

signals:
    void idChanged();
    void roleRawChanged();
    void textChanged();
    void modelIdChanged();
    void createdAtChanged();
    void meetingChanged();

private:
    friend class Meeting;
    friend StoredRecord;

    ChatMessage(const Fields& fields, QObject* parent);

    static const Layout& layout();
    void fieldChanged(void (ChatMessage::*changed)());
    void restoreParent(Meeting* meeting);
};

extern template class StoredRecord<ChatMessage, ChatMessageFields, Meeting>;
