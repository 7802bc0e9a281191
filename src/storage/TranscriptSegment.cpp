#include "storage/TranscriptSegment.h"

#include "storage/Meeting.h"
#include "storage/ModelContext.h"

TranscriptSegment::TranscriptSegment(const QString& text, const Speaker& speaker, double timestamp, QObject* parent)
    : QObject(parent)
{
    m_fields.id = QUuid::createUuid();
    m_fields.text = text;
    m_fields.speakerRaw = speaker.rawValue();
    m_fields.timestamp = timestamp;
}

TranscriptSegment::TranscriptSegment(const Fields& fields, QObject* parent)
    : QObject(parent)
    , m_fields(fields)
{ }

TranscriptSegment::~TranscriptSegment()
{
    if (m_meeting)
        m_meeting->detachSegment(this);
}

template <typename T> bool TranscriptSegment::assign(T& field, const T& value)
{
    if (field == value)
        return false;
    willChange();
    field = value;
    return true;
}

void TranscriptSegment::willChange()
{
    if (!m_state.context || m_state.removed)
        return;
    if (m_state.isStored() && !m_savedFields) {
        m_savedFields = m_fields;
        m_savedMeeting = QPointer<Meeting>(m_meeting);
    }
    m_state.context->markDirty(this);
}

Speaker TranscriptSegment::speaker() const
{
    return Speaker::fromRawValue(m_fields.speakerRaw).value_or(Speaker::me());
}

void TranscriptSegment::setId(const QUuid& id)
{
    if (assign(m_fields.id, id))
        emit idChanged();
}

void TranscriptSegment::setText(const QString& text)
{
    if (assign(m_fields.text, text)) {
        emit textChanged();
        if (m_meeting)
            m_meeting->notifyTranscriptChanged();
    }
}

void TranscriptSegment::setSpeakerRaw(const QString& speakerRaw)
{
    if (assign(m_fields.speakerRaw, speakerRaw))
        emit speakerRawChanged();
}

void TranscriptSegment::setSpeaker(const Speaker& speaker)
{
    setSpeakerRaw(speaker.rawValue());
}

void TranscriptSegment::setTimestamp(double seconds)
{
    if (assign(m_fields.timestamp, seconds))
        emit timestampChanged();
}

void TranscriptSegment::setIsFinal(bool isFinal)
{
    if (assign(m_fields.isFinal, isFinal))
        emit isFinalChanged();
}

void TranscriptSegment::applyFields(const Fields& fields)
{
    const Fields old = std::exchange(m_fields, fields);
    if (old.id != fields.id)
        emit idChanged();
    if (old.text != fields.text) {
        emit textChanged();
        if (m_meeting)
            m_meeting->notifyTranscriptChanged();
    }
    if (old.speakerRaw != fields.speakerRaw)
        emit speakerRawChanged();
    if (old.timestamp != fields.timestamp)
        emit timestampChanged();
    if (old.isFinal != fields.isFinal)
        emit isFinalChanged();
}
