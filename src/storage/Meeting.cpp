#include "storage/Meeting.h"

#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/StoredRecordImpl.h"
#include "storage/TranscriptSegment.h"

#include <algorithm>

template class StoredRecord<Meeting, MeetingFields, Folder>;

namespace {

MeetingFields newMeetingFields(const QString& title, const QDateTime& date)
{
    MeetingFields fields;
    fields.id = QUuid::createUuid();
    fields.title = title;
    fields.date = date;
    return fields;
}

} // namespace

const Meeting::Layout& Meeting::layout()
{
    static const Layout layout { QStringLiteral("Meeting"), 1, QStringLiteral("folder"),
        {
            recordColumn<&Fields::id>("id", &Meeting::idChanged),
            recordColumn<&Fields::title>("title", &Meeting::titleChanged),
            recordColumn<&Fields::summary>("summary", &Meeting::summaryChanged),
            recordColumn<&Fields::userNotes>("userNotes", &Meeting::userNotesChanged),
            recordColumn<&Fields::date>("date", &Meeting::dateChanged),
            recordColumn<&Fields::duration>("duration", &Meeting::durationChanged),
            recordColumn<&Fields::isRecording>("isRecording", &Meeting::isRecordingChanged),
            recordColumn<&Fields::calendarEventId>("calendarEventId", &Meeting::calendarEventIdChanged),
            recordColumn<&Fields::attendeeNames>("attendeeNames", &Meeting::attendeeNamesChanged),
            recordColumn<&Fields::organizer>("organizer", &Meeting::organizerChanged),
            recordColumn<&Fields::calendarName>("calendarName", &Meeting::calendarNameChanged),
            recordColumn<&Fields::scheduledStart>("scheduledStart", &Meeting::scheduledStartChanged),
            recordColumn<&Fields::scheduledEnd>("scheduledEnd", &Meeting::scheduledEndChanged),
            recordColumn<&Fields::source>("source", &Meeting::sourceChanged),
            recordColumn<&Fields::titleIsUserEdited>("titleIsUserEdited", &Meeting::titleIsUserEditedChanged),
            recordColumn<&Fields::autoStartEnabled>("autoStartEnabled", &Meeting::autoStartEnabledChanged),
            recordColumn<&Fields::autoStartFired>("autoStartFired", &Meeting::autoStartFiredChanged),
            recordColumn<&Fields::linkBannerDismissed>("linkBannerDismissed", &Meeting::linkBannerDismissedChanged),
        } };
    return layout;
}

Meeting::Meeting(const QString& title, const QDateTime& date, QObject* parent)
    : QObject(parent)
    , StoredRecord(newMeetingFields(title, date))
{ }

Meeting::Meeting(const Fields& fields, QObject* parent)
    : QObject(parent)
    , StoredRecord(fields)
    , m_childrenLoaded(false)
{ }

Meeting::~Meeting()
{
    // Children are destroyed by QObject after this body; they must not reach back into us.
    for (TranscriptSegment* segment : std::as_const(m_segments))
        segment->m_parent = nullptr;
    for (ChatMessage* message : std::as_const(m_chatMessages))
        message->m_parent = nullptr;
    if (m_parent) {
        m_parent->m_meetings.removeOne(this);
        emit m_parent->meetingsChanged();
    }
}

void Meeting::setId(const QUuid& id)
{
    write(&Fields::id, id, &Meeting::idChanged);
}

void Meeting::setTitle(const QString& title)
{
    write(&Fields::title, title, &Meeting::titleChanged);
}

void Meeting::setSummary(const std::optional<QString>& summary)
{
    write(&Fields::summary, summary, &Meeting::summaryChanged);
}

void Meeting::setUserNotes(const QString& userNotes)
{
    write(&Fields::userNotes, userNotes, &Meeting::userNotesChanged);
}

void Meeting::setDate(const QDateTime& date)
{
    write(&Fields::date, date, &Meeting::dateChanged);
}

void Meeting::setDuration(double seconds)
{
    write(&Fields::duration, seconds, &Meeting::durationChanged);
}

void Meeting::setIsRecording(bool isRecording)
{
    write(&Fields::isRecording, isRecording, &Meeting::isRecordingChanged);
}

void Meeting::setCalendarEventId(const std::optional<QString>& calendarEventId)
{
    write(&Fields::calendarEventId, calendarEventId, &Meeting::calendarEventIdChanged);
}

void Meeting::setAttendeeNames(const QStringList& attendeeNames)
{
    write(&Fields::attendeeNames, attendeeNames, &Meeting::attendeeNamesChanged);
}

void Meeting::setOrganizer(const std::optional<QString>& organizer)
{
    write(&Fields::organizer, organizer, &Meeting::organizerChanged);
}

void Meeting::setCalendarName(const std::optional<QString>& calendarName)
{
    write(&Fields::calendarName, calendarName, &Meeting::calendarNameChanged);
}

void Meeting::setScheduledStart(const std::optional<QDateTime>& scheduledStart)
{
    write(&Fields::scheduledStart, scheduledStart, &Meeting::scheduledStartChanged);
}

void Meeting::setScheduledEnd(const std::optional<QDateTime>& scheduledEnd)
{
    write(&Fields::scheduledEnd, scheduledEnd, &Meeting::scheduledEndChanged);
}

void Meeting::setSource(const QString& source)
{
    write(&Fields::source, source, &Meeting::sourceChanged);
}

void Meeting::setTitleIsUserEdited(bool edited)
{
    write(&Fields::titleIsUserEdited, edited, &Meeting::titleIsUserEditedChanged);
}

void Meeting::setAutoStartEnabled(bool enabled)
{
    write(&Fields::autoStartEnabled, enabled, &Meeting::autoStartEnabledChanged);
}

void Meeting::setAutoStartFired(bool fired)
{
    write(&Fields::autoStartFired, fired, &Meeting::autoStartFiredChanged);
}

void Meeting::setLinkBannerDismissed(bool dismissed)
{
    write(&Fields::linkBannerDismissed, dismissed, &Meeting::linkBannerDismissedChanged);
}

void Meeting::fieldChanged(void (Meeting::*)())
{
    if (m_state.context && !m_state.removed)
        emit m_state.context->meetingUpdated(this);
}

void Meeting::setFolder(Folder* folder)
{
    if (folder == m_parent)
        return;
    willChange();
    moveToFolder(folder);
}

void Meeting::moveToFolder(Folder* folder)
{
    if (folder == m_parent)
        return;
    Folder* previous = m_parent;
    if (previous)
        previous->m_meetings.removeOne(this);
    m_parent = folder;
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
    if (!segment || segment->m_parent == this)
        return;
    ensureChildrenLoaded();
    segment->willChange();
    if (Meeting* previous = segment->m_parent)
        previous->detachSegment(segment);
    attachSegment(segment, m_segments.size());
    if (m_state.context && !m_state.removed && !segment->m_state.context)
        m_state.context->recordInsert(segment);
}

void Meeting::appendChatMessage(ChatMessage* message)
{
    if (message && message->m_state.removed && message->m_state.context)
        message->m_state.context->revive(message);
    if (!message || message->m_parent == this)
        return;
    ensureChildrenLoaded();
    message->willChange();
    if (Meeting* previous = message->m_parent)
        previous->detachChatMessage(message);
    attachChatMessage(message, m_chatMessages.size());
    if (m_state.context && !m_state.removed && !message->m_state.context)
        m_state.context->recordInsert(message);
}

void Meeting::attachSegment(TranscriptSegment* segment, qsizetype index)
{
    segment->setParent(this);
    segment->m_parent = this;
    m_segments.insert(std::clamp<qsizetype>(index, 0, m_segments.size()), segment);
    emit segment->meetingChanged();
    emit segmentsChanged();
    notifyTranscriptChanged();
}

void Meeting::detachSegment(TranscriptSegment* segment)
{
    if (!m_segments.removeOne(segment))
        return;
    segment->m_parent = nullptr;
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
    message->m_parent = this;
    m_chatMessages.insert(std::clamp<qsizetype>(index, 0, m_chatMessages.size()), message);
    emit message->meetingChanged();
    emit chatMessagesChanged();
    notifyChatChanged();
}

void Meeting::detachChatMessage(ChatMessage* message)
{
    if (!m_chatMessages.removeOne(message))
        return;
    message->m_parent = nullptr;
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
