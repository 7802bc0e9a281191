#include "storage/ChatMessage.h"

#include "storage/Meeting.h"
#include "storage/StoredRecordImpl.h"

template class StoredRecord<ChatMessage, ChatMessageFields, Meeting>;

const ChatMessage::Layout& ChatMessage::layout()
{
    static const Layout layout { QStringLiteral("ChatMessage"), 2, QStringLiteral("meeting"),
        {
            recordColumn<&Fields::id>("id", &ChatMessage::idChanged),
            recordColumn<&Fields::roleRaw>("roleRaw", &ChatMessage::roleRawChanged),
            recordColumn<&Fields::text>("text", &ChatMessage::textChanged),
            recordColumn<&Fields::modelId>("modelId", &ChatMessage::modelIdChanged),
            recordColumn<&Fields::createdAt>("createdAt", &ChatMessage::createdAtChanged),
        } };
    return layout;
}

ChatMessage::ChatMessage(ChatRole role, const QString& text, const std::optional<QString>& modelId, QObject* parent)
    : QObject(parent)
    , StoredRecord({ QUuid::createUuid(), chatRoleRawValue(role), text, modelId, QDateTime::currentDateTimeUtc() })
{ }

ChatMessage::ChatMessage(const Fields& fields, QObject* parent)
    : QObject(parent)
    , StoredRecord(fields)
{ }

ChatMessage::~ChatMessage()
{
    if (m_parent)
        m_parent->detachChatMessage(this);
}

void ChatMessage::fieldChanged(void (ChatMessage::*)()) { }

void ChatMessage::restoreParent(Meeting* meeting)
{
    if (m_parent)
        m_parent->detachChatMessage(this);
    if (meeting)
        meeting->attachChatMessage(this, meeting->m_chatMessages.size());
}

void ChatMessage::setId(const QUuid& id)
{
    write(&Fields::id, id, &ChatMessage::idChanged);
}

void ChatMessage::setRoleRaw(const QString& roleRaw)
{
    write(&Fields::roleRaw, roleRaw, &ChatMessage::roleRawChanged);
}

void ChatMessage::setRole(ChatRole role)
{
    setRoleRaw(chatRoleRawValue(role));
}

void ChatMessage::setText(const QString& text)
{
    write(&Fields::text, text, &ChatMessage::textChanged);
}

void ChatMessage::setModelId(const std::optional<QString>& modelId)
{
    write(&Fields::modelId, modelId, &ChatMessage::modelIdChanged);
}

void ChatMessage::setCreatedAt(const QDateTime& createdAt)
{
    write(&Fields::createdAt, createdAt, &ChatMessage::createdAtChanged);
}
