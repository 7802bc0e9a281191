#include "app/RecordingController.h"

#include "app/AppState.h"
#include "app/CalendarHooks.h"
#include "app/JoinCall.h"
#include "archive/ArchiveSync.h"
#include "platform/Scheduler.h"
#include "platform/UrlOpener.h"
#include "recording/TranscriptionSession.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

RecordingController::RecordingController(const Services& services, QObject* parent)
    : QObject(parent)
    , m_services(services)
{
    connect(
        &services.session, &TranscriptionSession::isRecordingChanged, this, &RecordingController::isRecordingChanged);
}

RecordingController::~RecordingController() = default;

bool RecordingController::isRecording() const
{
    return m_services.session.isRecording();
}

Meeting* RecordingController::recordingMeeting() const
{
    return m_services.store
        .fetchMeetings({ [](const Meeting& m) { return m.isRecording(); }, MeetingSort::DateDescending, 1 })
        .value(0);
}

// --- Starting --------------------------------------------------------------------------------

void RecordingController::startAdHocRecording()
{
    m_services.session.startRecording(m_services.store);
    m_services.scheduler.schedule(kFollowUpDelay, this, [this] {
        if (Meeting* recording = recordingMeeting())
            emit showMeeting(recording);
    });
}

void RecordingController::startRecording(Meeting* into)
{
    if (!into) {
        startAdHocRecording();
        return;
    }
    if (isRecording()) {
        const Meeting* recording = recordingMeeting();
        if (recording && recording->id() == into->id())
            return;
        const QString title = recording ? recording->title() : QStringLiteral("current meeting");
        ask(Ask::switchRecording,
            QStringLiteral("Stop recording \u201C") + title + QStringLiteral("\u201D and start a new one?"),
            Pending { into->id(), std::nullopt });
        return;
    }
    m_services.session.startRecording(m_services.store, into);
}

void RecordingController::quickNote()
{
    if (!isRecording()) {
        startAdHocRecording();
        return;
    }
    if (m_asking == Ask::quickNote)
        return;
    ask(Ask::quickNote, QStringLiteral("Stop the current recording and start a new note?"), Pending {});
}

void RecordingController::openAndRecord(const QString& eventId)
{
    TranscriptionSession& session = m_services.session;
    const std::optional<CalendarHooks::EventMeeting> event
        = m_services.calendar.meetingForEvent(eventId, m_services.store);
    if (!event || !event->meeting) {
        if (!session.isRecording())
            session.startRecording(m_services.store);
        return;
    }
    Meeting* meeting = event->meeting;
    emit showMeeting(meeting);
    if (session.isRecording()) {
        const Meeting* recording = recordingMeeting();
        if (recording && recording->id() == meeting->id())
            return;
        const QString title = recording ? recording->title() : QStringLiteral("current meeting");
        ask(Ask::switchRecording,
            QStringLiteral("Stop recording \u201C") + title + QStringLiteral("\u201D and start a new one?"),
            Pending { meeting->id(), event->callLink });
        return;
    }
    record(meeting, event->callLink);
}

// Records into the meeting and opens the call link at once, whatever the start gave. A link that
// is not opened leaves the recording running; the person is told to open the call another way.
void RecordingController::record(Meeting* meeting, const std::optional<QUrl>& callLink)
{
    m_services.session.startRecording(m_services.store, meeting);
    if (callLink)
        joinCall(m_services.urlOpener, *callLink, this, [this](const QString& why) { emit joinFailed(why); });
}

void RecordingController::ask(Ask kind, const QString& question, const Pending& pending)
{
    // A later request replaces the one waiting; the question stays up with its new words.
    m_pending = pending;
    m_asking = kind;
    if (question == m_question)
        return;
    m_question = question;
    emit questionChanged();
}

void RecordingController::answer(bool stopAndStart)
{
    if (m_asking == Ask::nothing)
        return;
    const Ask asked = std::exchange(m_asking, Ask::nothing);
    const std::optional<Pending> pending = std::exchange(m_pending, std::nullopt);
    m_question.clear();
    emit questionChanged();
    if (!stopAndStart || !pending)
        return;
    if (asked == Ask::quickNote) {
        stopRecording();
        startAdHocRecording();
        return;
    }
    // Deleted while the question was up: nothing to switch to.
    Meeting* meeting = m_services.store.meetingById(pending->meetingId);
    if (!meeting)
        return;
    stopRecording();
    record(meeting, pending->callLink);
}

// --- Stopping and deleting -----------------------------------------------------------------------

void RecordingController::stopRecording()
{
    m_services.session.stopRecording();
    m_services.appState.refreshRecentMeetings(m_services.store);
}

void RecordingController::pauseRecording()
{
    m_services.session.pauseRecording();
}

void RecordingController::resumeRecording()
{
    m_services.session.resumeRecording();
}

void RecordingController::deleteMeeting(Meeting* meeting)
{
    if (!meeting || !m_services.store.contains(meeting))
        return;
    // Deleting the meeting being recorded would leave the microphone and its uploads running
    // for a record that is gone.
    if (m_services.session.meeting() == meeting)
        stopRecording();
    // The archive drops its file once the store has committed the removal, so a commit that
    // fails leaves both the stored meeting and its file.
    m_services.store.remove(meeting);
}

// --- Housekeeping --------------------------------------------------------------------------------

void RecordingController::runHousekeeping()
{
    ModelContext& context = m_services.store;
    AppState& state = m_services.appState;
    state.finalizeStaleRecordings(context);
    state.purgeEmptyMeetings(context);
    state.refreshRecentMeetings(context);
    m_services.archive.backfill();
    m_services.calendar.startAutoStart(context);
}

AutoStartScheduler::Recorder RecordingController::autoStartRecorder(TranscriptionSession& session)
{
    return {
        [&session]() -> std::optional<const Meeting*> {
            if (!session.isRecording())
                return std::nullopt;
            return session.meeting();
        },
        [&session](ModelContext& context, Meeting& meeting) -> std::optional<QString> {
            session.startRecording(context, &meeting);
            if (session.isRecording())
                return std::nullopt;
            return session.error();
        },
    };
}
