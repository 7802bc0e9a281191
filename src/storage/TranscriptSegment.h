#pragma once

#include "storage/RecordState.h"
#include "storage/Speaker.h"

#include <QObject>
#include <QPointer>
#include <QUuid>
#include <optional>

class Meeting;

// One transcribed turn of a meeting: its text, who spoke and when (seconds from the start of
// the recording). Used on the main thread only.
class TranscriptSegment final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptSegment)

public:
    struct Fields
    {
        QUuid id;
        QString text;
        QString speakerRaw = QStringLiteral("Me");
        double timestamp = 0;
        bool isFinal = false;

        bool operator==(const Fields&) const = default;
    };

    TranscriptSegment(const QString& text, const Speaker& speaker, double timestamp, QObject* parent = nullptr);
    ~TranscriptSegment() override;

    QUuid id() const { return m_fields.id; }
    QString text() const { return m_fields.text; }
    QString speakerRaw() const { return m_fields.speakerRaw; }
    double timestamp() const { return m_fields.timestamp; }
    bool isFinal() const { return m_fields.isFinal; }
    Meeting* meeting() const { return m_meeting; }
    // The speaker as every reader sees it: me when the raw value gives none.
    Speaker speaker() const;

    void setId(const QUuid& id);
    void setText(const QString& text);
    void setSpeakerRaw(const QString& speakerRaw);
    void setSpeaker(const Speaker& speaker);
    void setTimestamp(double seconds);
    void setIsFinal(bool isFinal);

    const Fields& fields() const { return m_fields; }

signals:
    void idChanged();
    void textChanged();
    void speakerRawChanged();
    void timestampChanged();
    void isFinalChanged();
    void meetingChanged();

private:
    friend class ModelContext;
    friend class Meeting;

    TranscriptSegment(const Fields& fields, QObject* parent);

    template <typename T> bool assign(T& field, const T& value);
    void willChange();
    void applyFields(const Fields& fields);

    Fields m_fields;
    Meeting* m_meeting = nullptr;

    RecordState m_state;
    std::optional<Fields> m_savedFields;
    // The meeting it belonged to when last saved, kept while it is moved without saving.
    std::optional<QPointer<Meeting>> m_savedMeeting;
};
