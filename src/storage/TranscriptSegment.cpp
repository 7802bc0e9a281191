#include "storage/TranscriptSegment.h"

#include "storage/Meeting.h"
#include "storage/StoredRecordImpl.h"

template class StoredRecord<TranscriptSegment, TranscriptSegmentFields, Meeting>;

const TranscriptSegment::Layout& TranscriptSegment::layout()
{
    static const Layout layout { QStringLiteral("TranscriptSegment"), 2, QStringLiteral("meeting"),
        {
            recordColumn<&Fields::id>("id", &TranscriptSegment::idChanged),
            recordColumn<&Fields::text>("text", &TranscriptSegment::textChanged),
            recordColumn<&Fields::speakerRaw>("speakerRaw", &TranscriptSegment::speakerRawChanged),
            recordColumn<&Fields::timestamp>("timestamp", &TranscriptSegment::timestampChanged),
            recordColumn<&Fields::isFinal>("isFinal", &TranscriptSegment::isFinalChanged),
        } };
    return layout;
}

TranscriptSegment::TranscriptSegment(const QString& text, const Speaker& speaker, double timestamp, QObject* parent)
    : QObject(parent)
    , StoredRecord({ QUuid::createUuid(), text, speaker.rawValue(), timestamp })
{ }

TranscriptSegment::TranscriptSegment(const Fields& fields, QObject* parent)
    : QObject(parent)
    , StoredRecord(fields)
{ }

TranscriptSegment::~TranscriptSegment()
{
    if (m_parent)
        m_parent->detachSegment(this);
}

void TranscriptSegment::fieldChanged(void (TranscriptSegment::*changed)())
{
    // The meeting's transcript is its segments' texts; the rest of a segment is not part of it.
    if (changed == &TranscriptSegment::textChanged && m_parent)
        m_parent->notifyTranscriptChanged();
}

void TranscriptSegment::restoreParent(Meeting* meeting)
{
    if (m_parent)
        m_parent->detachSegment(this);
    if (meeting)
        meeting->attachSegment(this, meeting->m_segments.size());
}

Speaker TranscriptSegment::speaker() const
{
    return Speaker::fromRawValue(m_fields.speakerRaw).value_or(Speaker::me());
}

void TranscriptSegment::setId(const QUuid& id)
{
    write(&Fields::id, id, &TranscriptSegment::idChanged);
}

void TranscriptSegment::setText(const QString& text)
{
    write(&Fields::text, text, &TranscriptSegment::textChanged);
}

void TranscriptSegment::setSpeakerRaw(const QString& speakerRaw)
{
    write(&Fields::speakerRaw, speakerRaw, &TranscriptSegment::speakerRawChanged);
}

void TranscriptSegment::setSpeaker(const Speaker& speaker)
{
    setSpeakerRaw(speaker.rawValue());
}

void TranscriptSegment::setTimestamp(double seconds)
{
    write(&Fields::timestamp, seconds, &TranscriptSegment::timestampChanged);
}

void TranscriptSegment::setIsFinal(bool isFinal)
{
    write(&Fields::isFinal, isFinal, &TranscriptSegment::isFinalChanged);
}
