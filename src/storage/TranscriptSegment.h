#pragma once

#include "storage/Speaker.h"
#include "storage/StoredRecord.h"

#include <QObject>
#include <QPointer>
#include <QUuid>
#include <optional>

class Meeting;

struct TranscriptSegmentFields
{
    QUuid id;
    QString text;
    QString speakerRaw = QStringLiteral("Me");
    double timestamp = 0;
    bool isFinal = false;

    bool operator==(const TranscriptSegmentFields&) const = default;
};

// One transcribed turn of a meeting: its text, who spoke and when (seconds from the start of
// the recording). Used on the main thread only.
class TranscriptSegment final : public QObject, public StoredRecord<TranscriptSegment, TranscriptSegmentFields, Meeting>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptSegment)

public:
    TranscriptSegment(const QString& text, const Speaker& speaker, double timestamp, QObject* parent = nullptr);
    ~TranscriptSegment() override;

    QUuid id() const { return m_fields.id; }
    QString text() const { return m_fields.text; }
    QString speakerRaw() const { return m_fields.speakerRaw; }
    double timestamp() const { return m_fields.timestamp; }
    bool isFinal() const { return m_fields.isFinal; }
    Meeting* meeting() const { return m_parent; }
    // The speaker as every reader sees it: me when the raw value gives none.
    Speaker speaker() const;

    void setId(const QUuid& id);
    void setText(const QString& text);
    void setSpeakerRaw(const QString& speakerRaw);
    void setSpeaker(const Speaker& speaker);
    void setTimestamp(double seconds);
    void setIsFinal(bool isFinal);

signals:
    void idChanged();
    void textChanged();
    void speakerRawChanged();
    void timestampChanged();
    void isFinalChanged();
    void meetingChanged();

private:
    friend class Meeting;
    friend StoredRecord;

    TranscriptSegment(const Fields& fields, QObject* parent);

    static const Layout& layout();
    void fieldChanged(void (TranscriptSegment::*changed)());
    void restoreParent(Meeting* meeting);
};

extern template class StoredRecord<TranscriptSegment, TranscriptSegmentFields, Meeting>;
