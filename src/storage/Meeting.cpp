#include "storage/Meeting.h"

#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"

#include <algorithm>

Meeting::Meeting(const QString& title, const QDateTime& date, QObject* parent)
    : QObject(parent)
{
    m_fields.id = QUuid::createUuid();
    m_fields.title = title;
    m_fields.date = date;
}

Meeting::Meeting(const Fields& fields, QObject* parent)
    : QObject(parent)
    , m_fields(fields)
    , m_childrenLoaded(false)
{ }

Meeting::~Meeting()
{
    // Children are destroyed by QObject after this body; they must not reach back into us.
    for (TranscriptSegment* segment : std::as_const(m_segments))
        segment->m_meeting = nullptr;
    for (ChatMessage* message : std::as_const(m_chatMessages))
        message->m_meeting = nullptr;
    if (m_folder) {
        m_folder->m_meetings.removeOne(this);
        emit m_folder->meetingsChanged();
    }
}

template <typename T> bool Meeting::assign(T& field, const T& value)
{
    if (field == value)
        return false;
    willChange();
    field = value;
    return true;
}

void Meeting::willChange()
{
    if (!m_state.context || m_state.removed)
        return;
    if (m_state.isStored() && !m_savedFields) {
        m_savedFields = m_fields;
        m_savedFolder = QPointer<Folder>(m_folder);
    }
    m_state.context->markDirty(this);
}

void Meeting::setId(const QUuid& id)
{
    if (assign(m_fields.id, id))
        notify(&Meeting::idChanged);
}

void Meeting::setTitle(const QString& title)
{
    if (assign(m_fields.title, title))
        notify(&Meeting::titleChanged);
}

void Meeting::setSummary(const std::optional<QString>& summary)
{
    if (assign(m_fields.summary, summary))
        notify(&Meeting::summaryChanged);
}

void Meeting::setUserNotes(const QString& userNotes)
{
    if (assign(m_fields.userNotes, userNotes))
        notify(&Meeting::userNotesChanged);
}

void Meeting::setDate(const QDateTime& date)
{
    if (assign(m_fields.date, date))
        notify(&Meeting::dateChanged);
}

void Meeting::setDuration(double seconds)
{
    if (assign(m_fields.duration, seconds))
        notify(&Meeting::durationChanged);
}

void Meeting::setIsRecording(bool isRecording)
{
    if (assign(m_fields.isRecording, isRecording))
        notify(&Meeting::isRecordingChanged);
}

void Meeting::setCalendarEventId(const std::optional<QString>& calendarEventId)
{
    if (assign(m_fields.calendarEventId, calendarEventId))
        notify(&Meeting::calendarEventIdChanged);
}

void Meeting::setAttendeeNames(const QStringList& attendeeNames)
{
    if (assign(m_fields.attendeeNames, attendeeNames))
        notify(&Meeting::attendeeNamesChanged);
}

void Meeting::setOrganizer(const std::optional<QString>& organizer)
{
    if (assign(m_fields.organizer, organizer))
        notify(&Meeting::organizerChanged);
}

void Meeting::setCalendarName(const std::optional<QString>& calendarName)
{
    if (assign(m_fields.calendarName, calendarName))
        notify(&Meeting::calendarNameChanged);
}

void Meeting::setScheduledStart(const std::optional<QDateTime>& scheduledStart)
{
    if (assign(m_fields.scheduledStart, scheduledStart))
        notify(&Meeting::scheduledStartChanged);
}

void Meeting::setScheduledEnd(const std::optional<QDateTime>& scheduledEnd)
{
    if (assign(m_fields.scheduledEnd, scheduledEnd))
        notify(&Meeting::scheduledEndChanged);
}

void Meeting::setSource(const QString& source)
{
    if (assign(m_fields.source, source))
        notify(&Meeting::sourceChanged);
}

void Meeting::setTitleIsUserEdited(bool edited)
{
    if (assign(m_fields.titleIsUserEdited, edited))
        notify(&Meeting::titleIsUserEditedChanged);
}

void Meeting::setAutoStartEnabled(bool enabled)
{
    if (assign(m_fields.autoStartEnabled, enabled))
        notify(&Meeting::autoStartEnabledChanged);
}

void Meeting::setAutoStartFired(bool fired)
{
    if (assign(m_fields.autoStartFired, fired))
        notify(&Meeting::autoStartFiredChanged);
}

void Meeting::setLinkBannerDismissed(bool dismissed)
{
    if (assign(m_fields.linkBannerDismissed, dismissed))
        notify(&Meeting::linkBannerDismissedChanged);
}

void Meeting::notify(void (Meeting::*fieldSignal)())
{
    emit(this->*fieldSignal)();
    if (m_state.context && !m_state.removed)
        emit m_state.context->meetingUpdated(this);
}

void Meeting::setFolder(Folder* folder)
{
    if (folder == m_folder)
        return;
    willChange();
    moveToFolder(folder);
}

void Meeting::moveToFolder(Folder* folder)
{
    if (folder == m_folder)
        return;
    Folder* previous = m_folder;
    if (previous)
        previous->m_meetings.removeOne(this);
    m_folder = folder;
    if (folder) {
        folder->m_meetings.append(this);
        if (m_state.context && !m_state.removed && !folder->m_state.context)
            m_state.context->insert(folder);
    }
    if (previous)
        emit previous->meetingsChanged();
    if (folder)
        emit folder->meetingsChanged();
    notify(&Meeting::folderChanged);
}

void Meeting::applyFields(const Fields& fields)
{
    const Fields old = std::exchange(m_fields, fields);
    if (old.id != fields.id)
        notify(&Meeting::idChanged);
    if (old.title != fields.title)
        notify(&Meeting::titleChanged);
    if (old.summary != fields.summary)
        notify(&Meeting::summaryChanged);
    if (old.userNotes != fields.userNotes)
        notify(&Meeting::userNotesChanged);
    if (old.date != fields.date)
        notify(&Meeting::dateChanged);
    if (old.duration != fields.duration)
        notify(&Meeting::durationChanged);
    if (old.isRecording != fields.isRecording)
        notify(&Meeting::isRecordingChanged);
    if (old.calendarEventId != fields.calendarEventId)
        notify(&Meeting::calendarEventIdChanged);
    if (old.attendeeNames != fields.attendeeNames)
        notify(&Meeting::attendeeNamesChanged);
    if (old.organizer != fields.organizer)
        notify(&Meeting::organizerChanged);
    if (old.calendarName != fields.calendarName)
        notify(&Meeting::calendarNameChanged);
    if (old.scheduledStart != fields.scheduledStart)
        notify(&Meeting::scheduledStartChanged);
    if (old.scheduledEnd != fields.scheduledEnd)
        notify(&Meeting::scheduledEndChanged);
    if (old.source != fields.source)
        notify(&Meeting::sourceChanged);
    if (old.titleIsUserEdited != fields.titleIsUserEdited)
        notify(&Meeting::titleIsUserEditedChanged);
    if (old.autoStartEnabled != fields.autoStartEnabled)
        notify(&Meeting::autoStartEnabledChanged);
    if (old.autoStartFired != fields.autoStartFired)
        notify(&Meeting::autoStartFiredChanged);
    if (old.linkBannerDismissed != fields.linkBannerDismissed)
        notify(&Meeting::linkBannerDismissedChanged);
}

void Meeting::ensureChildrenLoaded() const
{
    if (m_childrenLoaded)
        return;
    m_childrenLoaded = true;
    if (m_state.context)
        m_state.context->loadChildren(const_cast<Meeting*>(this));
}

QList<TranscriptSegment*> Meeting::segments() const
{
    ensureChildrenLoaded();
    return m_segments;
}

QList<ChatMessage*> Meeting::chatMessages() const
{
    ensureChildrenLoaded();
    return m_chatMessages;
}

void Meeting::appendSegment(TranscriptSegment* segment)
{
    // Appending a segment removed since the last save takes the removal back.
    if (segment && segment->m_state.removed && segment->m_state.context)
        segment->m_state.context->revive(segment);
    if (!segment || segment->m_meeting == this)
        return;
    ensureChildrenLoaded();
    segment->willChange();
    if (Meeting* previous = segment->m_meeting)
        previous->detachSegment(segment);
    attachSegment(segment, m_segments.size());
    if (m_state.context && !m_state.removed && !segment->m_state.context)
        m_state.context->recordInsert(segment);
}

void Meeting::appendChatMessage(ChatMessage* message)
{
    if (message && message->m_state.removed && message->m_state.context)
        message->m_state.context->revive(message);
    if (!message || message->m_meeting == this)
        return;
    ensureChildrenLoaded();
    message->willChange();
    if (Meeting* previous = message->m_meeting)
        previous->detachChatMessage(message);
    attachChatMessage(message, m_chatMessages.size());
    if (m_state.context && !m_state.removed && !message->m_state.context)
        m_state.context->recordInsert(message);
}

void Meeting::attachSegment(TranscriptSegment* segment, qsizetype index)
{
    segment->setParent(this);
    segment->m_meeting = this;
    m_segments.insert(std::clamp<qsizetype>(index, 0, m_segments.size()), segment);
    emit segment->meetingChanged();
    emit segmentsChanged();
    notifyTranscriptChanged();
}

void Meeting::detachSegment(TranscriptSegment* segment)
{
    if (!m_segments.removeOne(segment))
        return;
    segment->m_meeting = nullptr;
    emit segment->meetingChanged();
    emit segmentsChanged();
    notifyTranscriptChanged();
}

void Meeting::notifyTranscriptChanged()
{
    if (m_state.context && !m_state.removed)
        emit m_state.context->transcriptChanged(this);
}

void Meeting::attachChatMessage(ChatMessage* message, qsizetype index)
{
    message->setParent(this);
    message->m_meeting = this;
    m_chatMessages.insert(std::clamp<qsizetype>(index, 0, m_chatMessages.size()), message);
    emit message->meetingChanged();
    emit chatMessagesChanged();
    notifyChatChanged();
}

void Meeting::detachChatMessage(ChatMessage* message)
{
    if (!m_chatMessages.removeOne(message))
        return;
    message->m_meeting = nullptr;
    emit message->meetingChanged();
    emit chatMessagesChanged();
    notifyChatChanged();
}

void Meeting::notifyChatChanged()
{
    if (m_state.context && !m_state.removed)
        emit m_state.context->chatChanged(this);
}

bool Meeting::hasUserNotes() const
{
    // QString::trimmed() covers Unicode white space, including the line and paragraph separators.
    return !m_fields.userNotes.trimmed().isEmpty();
}

bool Meeting::allowsAITitle() const
{
    return !m_fields.titleIsUserEdited && !m_fields.calendarEventId.has_value();
}

QList<TranscriptSegment*> Meeting::sortedSegments() const
{
    QList<TranscriptSegment*> sorted = segments();
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const TranscriptSegment* a, const TranscriptSegment* b) { return a->timestamp() < b->timestamp(); });
    return sorted;
}

QList<ChatMessage*> Meeting::sortedChatMessages() const
{
    QList<ChatMessage*> sorted = chatMessages();
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const ChatMessage* a, const ChatMessage* b) { return a->createdAt() < b->createdAt(); });
    return sorted;
}

QString Meeting::formattedTranscript() const
{
    QStringList lines;
    std::optional<Speaker> runSpeaker;
    QStringList runTexts;
    const auto closeRun = [&] {
        if (runSpeaker)
            lines.append(runSpeaker->transcriptLabel() + QLatin1String(": ") + runTexts.join(QLatin1Char(' ')));
        runTexts.clear();
    };
    for (const TranscriptSegment* segment : sortedSegments()) {
        const Speaker speaker = segment->speaker();
        if (!runSpeaker || !(*runSpeaker == speaker)) {
            closeRun();
            runSpeaker = speaker;
        }
        runTexts.append(segment->text());
    }
    closeRun();
    return lines.join(QLatin1Char('\n'));
}
