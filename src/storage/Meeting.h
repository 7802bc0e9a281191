#pragma once

#include "storage/StoredRecord.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUuid>
#include <optional>

class ChatMessage;
class Folder;
class ModelContext;
class TranscriptSegment;

// The stored fields of a meeting, with their defaults.
struct MeetingFields
{
    QUuid id;
    QString title;
    std::optional<QString> summary;
    QString userNotes;
    QDateTime date;
    double duration = 0;
    bool isRecording = false;
    std::optional<QString> calendarEventId;
    QStringList attendeeNames;
    std::optional<QString> organizer;
    std::optional<QString> calendarName;
    std::optional<QDateTime> scheduledStart;
    std::optional<QDateTime> scheduledEnd;
    QString source = QStringLiteral("quick-note");
    bool titleIsUserEdited = false;
    bool autoStartEnabled = false;
    bool autoStartFired = false;
    bool linkBannerDismissed = false;

    bool operator==(const MeetingFields&) const = default;
};

// One meeting or quick note. Every field notifies its own change signal on write; nothing is
// saved until the context saves. Used on the main thread only.
class Meeting final : public QObject, public StoredRecord<Meeting, MeetingFields, Folder>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Meeting)

public:
    Meeting(const QString& title, const QDateTime& date, QObject* parent = nullptr);
    ~Meeting() override;

    QUuid id() const { return m_fields.id; }
    QString title() const { return m_fields.title; }
    std::optional<QString> summary() const { return m_fields.summary; }
    QString userNotes() const { return m_fields.userNotes; }
    QDateTime date() const { return m_fields.date; }
    double duration() const { return m_fields.duration; }
    bool isRecording() const { return m_fields.isRecording; }
    std::optional<QString> calendarEventId() const { return m_fields.calendarEventId; }
    QStringList attendeeNames() const { return m_fields.attendeeNames; }
    std::optional<QString> organizer() const { return m_fields.organizer; }
    std::optional<QString> calendarName() const { return m_fields.calendarName; }
    std::optional<QDateTime> scheduledStart() const { return m_fields.scheduledStart; }
    std::optional<QDateTime> scheduledEnd() const { return m_fields.scheduledEnd; }
    QString source() const { return m_fields.source; }
    bool titleIsUserEdited() const { return m_fields.titleIsUserEdited; }
    bool autoStartEnabled() const { return m_fields.autoStartEnabled; }
    bool autoStartFired() const { return m_fields.autoStartFired; }
    bool linkBannerDismissed() const { return m_fields.linkBannerDismissed; }
    Folder* folder() const { return m_parent; }

    void setId(const QUuid& id);
    void setTitle(const QString& title);
    void setSummary(const std::optional<QString>& summary);
    void setUserNotes(const QString& userNotes);
    void setDate(const QDateTime& date);
    void setDuration(double seconds);
    void setIsRecording(bool isRecording);
    void setCalendarEventId(const std::optional<QString>& calendarEventId);
    void setAttendeeNames(const QStringList& attendeeNames);
    void setOrganizer(const std::optional<QString>& organizer);
    void setCalendarName(const std::optional<QString>& calendarName);
    void setScheduledStart(const std::optional<QDateTime>& scheduledStart);
    void setScheduledEnd(const std::optional<QDateTime>& scheduledEnd);
    void setSource(const QString& source);
    void setTitleIsUserEdited(bool edited);
    void setAutoStartEnabled(bool enabled);
    void setAutoStartFired(bool fired);
    void setLinkBannerDismissed(bool dismissed);
    // Files the meeting in a folder (nullptr takes it out); the folder's meetings() follows.
    void setFolder(Folder* folder);

    // The relationship lists. A stored meeting reads them from the file on first access.
    QList<TranscriptSegment*> segments() const;
    QList<ChatMessage*> chatMessages() const;
    // Take ownership; when the meeting is in a context, the context inserts them too. A record
    // that belongs to another meeting moves here.
    void appendSegment(TranscriptSegment* segment);
    void appendChatMessage(ChatMessage* message);

    bool hasUserNotes() const;
    bool allowsAITitle() const;
    // The plain-text transcript handed to the language model: runs of one speaker per line.
    QString formattedTranscript() const;
    QList<TranscriptSegment*> sortedSegments() const;
    QList<ChatMessage*> sortedChatMessages() const;

    ModelContext* context() const { return m_state.context; }

signals:
    void idChanged();
    void titleChanged();
    void summaryChanged();
    void userNotesChanged();
    void dateChanged();
    void durationChanged();
    void isRecordingChanged();
    void calendarEventIdChanged();
    void attendeeNamesChanged();
    void organizerChanged();
    void calendarNameChanged();
    void scheduledStartChanged();
    void scheduledEndChanged();
    void sourceChanged();
    void titleIsUserEditedChanged();
    void autoStartEnabledChanged();
    void autoStartFiredChanged();
    void linkBannerDismissedChanged();
    void folderChanged();
    void segmentsChanged();
    void chatMessagesChanged();

private:
    friend class ModelContext;
    friend class TranscriptSegment;
    friend class ChatMessage;
    friend class Folder;
    friend StoredRecord;

    // The materialising constructor of the context: defaults, then the stored values.
    Meeting(const Fields& fields, QObject* parent);

    static const Layout& layout();
    void fieldChanged(void (Meeting::*changed)());
    void restoreParent(Folder* folder) { moveToFolder(folder); }
    void moveToFolder(Folder* folder);
    void ensureChildrenLoaded() const;
    void attachSegment(TranscriptSegment* segment, qsizetype index);
    void detachSegment(TranscriptSegment* segment);
    void attachChatMessage(ChatMessage* message, qsizetype index);
    void detachChatMessage(ChatMessage* message);
    void notifyTranscriptChanged();
    void notifyChatChanged();

    QList<TranscriptSegment*> m_segments;
    QList<ChatMessage*> m_chatMessages;
    mutable bool m_childrenLoaded = true;
};

extern template class StoredRecord<Meeting, MeetingFields, Folder>;
