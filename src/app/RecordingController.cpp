#include "app/RecordingController.h"

#include "app/AppState.h"
#include "app/JoinCall.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "platform/UrlOpener.h"
#include "recording/TranscriptionSession.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

namespace {

QString switchQuestion(const Meeting* recording)
{
    const QString title = recording ? recording->title() : QStringLiteral("current meeting");
    return QStringLiteral("Stop recording \u201C") + title + QStringLiteral("\u201D and start a new one?");
}

} // namespace

RecordingController::RecordingController(const Services& services, QObject* parent)
    : QObject(parent)
    , m_services(services)
{
    TranscriptionSession* session = &services.session;
    connect(session, &TranscriptionSession::isRecordingChanged, this, &RecordingController::isRecordingChanged);
    connect(session, &TranscriptionSession::isPausedChanged, this, &RecordingController::isPausedChanged);
    connect(session, &TranscriptionSession::errorChanged, this, &RecordingController::errorChanged);
    connect(session, &TranscriptionSession::systemAudioActiveChanged, this,
        &RecordingController::systemAudioActiveChanged);
    connect(session, &TranscriptionSession::liveDraftChanged, this, &RecordingController::liveDraftChanged);
    connect(session, &TranscriptionSession::isGeneratingSummaryChanged, this,
        &RecordingController::isGeneratingSummaryChanged);
    connect(session, &TranscriptionSession::generatingSummaryMeetingIDChanged, this,
        &RecordingController::generatingSummaryMeetingIDChanged);
    connect(session, &TranscriptionSession::transcriptionFailureChanged, this,
        &RecordingController::transcriptionFailureChanged);
}

RecordingController::~RecordingController() = default;

// --- What the views show ---------------------------------------------------------------------

bool RecordingController::isRecording() const
{
    return m_services.session.isRecording();
}

bool RecordingController::isPaused() const
{
    return m_services.session.isPaused();
}

bool RecordingController::systemAudioActive() const
{
    return m_services.session.systemAudioActive();
}

QString RecordingController::liveDraft() const
{
    return m_services.session.liveDraft();
}

QString RecordingController::error() const
{
    return m_services.session.error();
}

bool RecordingController::isGeneratingSummary() const
{
    return m_services.session.isGeneratingSummary();
}

QUuid RecordingController::generatingSummaryMeetingID() const
{
    return m_services.session.generatingSummaryMeetingID();
}

QString RecordingController::transcriptionFailure(const QUuid& meetingId) const
{
    return m_services.session.transcriptionFailure(meetingId);
}

float RecordingController::microphoneLevel() const
{
    return m_services.session.mixer().micRecorder().audioLevel();
}

Meeting* RecordingController::meeting() const
{
    return m_services.session.meeting();
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
}

void RecordingController::startRecording(Meeting* into)
{
    if (!into) {
        startAdHocRecording();
        return;
    }
    recordOrAsk(*into, std::nullopt);
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

void RecordingController::openAndRecord(const CalendarHooks::EventMeeting& event)
{
    if (!event.meeting) {
        if (!isRecording())
            startAdHocRecording();
        return;
    }
    emit showMeeting(event.meeting);
    recordOrAsk(*event.meeting, event.callLink);
}

void RecordingController::recordOrAsk(Meeting& meeting, const std::optional<QUrl>& callLink)
{
    if (!isRecording()) {
        record(&meeting, callLink);
        return;
    }
    const Meeting* recording = recordingMeeting();
    if (recording && recording->id() == meeting.id())
        return;
    ask(Ask::switchRecording, switchQuestion(recording), Pending { meeting.id(), callLink });
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

AutoStartScheduler::Recorder RecordingController::autoStartRecorder()
{
    return {
        [this]() -> std::optional<const Meeting*> {
            if (!isRecording())
                return std::nullopt;
            return meeting();
        },
        [this](ModelContext&, Meeting& into) -> std::optional<QString> {
            record(&into, std::nullopt);
            if (isRecording())
                return std::nullopt;
            return error();
        },
    };
}

// --- Stopping ----------------------------------------------------------------------------------

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

void RecordingController::releaseMeeting(const Meeting& meeting)
{
    if (m_services.session.meeting() == &meeting)
        stopRecording();
}
