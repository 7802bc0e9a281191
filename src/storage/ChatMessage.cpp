#include "storage/ChatMessage.h"

#include "storage/Meeting.h"
#include "storage/ModelContext.h"

ChatMessage::ChatMessage(ChatRole role, const QString& text, const std::optional<QString>& modelId, QObject* parent)
    : QObject(parent)
{
    m_fields.id = QUuid::createUuid();
    m_fields.roleRaw = chatRoleRawValue(role);
    m_fields.text = text;
    m_fields.modelId = modelId;
    m_fields.createdAt = QDateTime::currentDateTimeUtc();
}

ChatMessage::ChatMessage(const Fields& fields, QObject* parent)
    : QObject(parent)
    , m_fields(fields)
{ }

ChatMessage::~ChatMessage()
{
    if (m_meeting)
        m_meeting->detachChatMessage(this);
}

template <typename T> bool ChatMessage::assign(T& field, const T& value)
{
    if (field == value)
        return false;
    willChange();
    field = value;
    return true;
}

void ChatMessage::willChange()
{
    if (!m_state.context || m_state.removed)
        return;
    if (m_state.isStored() && !m_savedFields) {
        m_savedFields = m_fields;
        m_savedMeeting = QPointer<Meeting>(m_meeting);
    }
    m_state.context->markDirty(this);
}

void ChatMessage::setId(const QUuid& id)
{
    if (assign(m_fields.id, id))
        emit idChanged();
}

void ChatMessage::setRoleRaw(const QString& roleRaw)
{
    if (assign(m_fields.roleRaw, roleRaw))
        emit roleRawChanged();
}

void ChatMessage::setRole(ChatRole role)
{
    setRoleRaw(chatRoleRawValue(role));
}

void ChatMessage::setText(const QString& text)
{
    if (assign(m_fields.text, text))
        emit textChanged();
}

void ChatMessage::setModelId(const std::optional<QString>& modelId)
{
    if (assign(m_fields.modelId, modelId))
        emit modelIdChanged();
}

void ChatMessage::setCreatedAt(const QDateTime& createdAt)
{
    if (assign(m_fields.createdAt, createdAt))
        emit createdAtChanged();
}

void ChatMessage::applyFields(const Fields& fields)
{
    const Fields old = std::exchange(m_fields, fields);
    if (old.id != fields.id)
        emit idChanged();
    if (old.roleRaw != fields.roleRaw)
        emit roleRawChanged();
    if (old.text != fields.text)
        emit textChanged();
    if (old.modelId != fields.modelId)
        emit modelIdChanged();
    if (old.createdAt != fields.createdAt)
        emit createdAtChanged();
}
