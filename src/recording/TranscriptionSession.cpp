#include "recording/TranscriptionSession.h"

#include "account/AccountService.h"
#include "audio/DualStreamMixer.h"
#include "format/TextPrefix.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Mailbox.h"
#include "platform/MicrophonePermission.h"
#include "platform/Settings.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "summary/MeetingSummarizer.h"
#include "system/CustomDictionary.h"
#include "system/SoundFeedback.h"
#include "transcription/EchoSuppressor.h"
#include "transcription/LiveDraftRecognizer.h"
#include "transcription/TessraTranscriber.h"
#include "transcription/TranscriptionLanguage.h"

#include <QFuture>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <mutex>

namespace {

const QString kMicrophoneOff
    = QStringLiteral("No microphone found. Connect one or turn it on in the sound settings, then try again.");
const QString kSignInFirst
    = QStringLiteral("Sign in to start transcribing \u2014 or add your own Tessra key in Settings");
const QString kAllowanceUsed = QStringLiteral("You've used your free minutes this month \u2014 they reset on the 1st");

constexpr double kDraftSampleRate = 24000;

bool isMe(const TranscriptSegment& segment)
{
    return segment.speaker().kind == Speaker::Kind::Me;
}
bool isThem(const TranscriptSegment& segment)
{
    return segment.speaker().kind == Speaker::Kind::Them;
}

} // namespace

// One recording from its start until its last upload has ended. Everything the stop's
// finalisation decides on belongs to the recording, not to the session, because the next
// recording may already be running by then.
struct TranscriptionSession::Recording
{
    quint64 serial = 0;
    QPointer<ModelContext> context;
    QUuid meetingId;
    QDateTime startDate;
    std::unique_ptr<TessraTranscriber> me;
    std::unique_ptr<TessraTranscriber> them;
    bool sawTranscriptionError = false;
    // The failure this recording's microphone stream published as the session's error, taken
    // back once that stream's text flows again.
    QString publishedTranscriptionError;
    // The stop's wait ended at the limit with uploads still running: the meeting is kept
    // for the text still to come.
    bool stillUploadingAtLimit = false;
    // The stop's wait is over and the meeting was finalised (or deleted).
    bool waitEnded = false;
    int chainsOpen = 0;
    std::unique_ptr<QTimer> limitTimer;

    Meeting* meeting() const { return context ? context->meetingById(meetingId) : nullptr; }
};

TranscriptionSession::ModelAccess TranscriptionSession::ModelAccess::of(const AccountService& account)
{
    return { [&account] { return account.modelCredentials(); }, [&account] { return account.allowanceExhausted(); } };
}

TranscriptionSession::TranscriptionSession(Settings& settings, ModelAccess modelAccess, DualStreamMixer& mixer,
    MicrophonePermission& microphone, SoundFeedback& sounds, MeetingSummarizer& summarizer, const Clock& clock,
    QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_modelAccess(std::move(modelAccess))
    , m_mixer(mixer)
    , m_microphone(microphone)
    , m_sounds(sounds)
    , m_summarizer(summarizer)
    , m_clock(clock)
    , m_mailbox(std::make_shared<Mailbox>(this))
{
    connect(&m_summarizer, &MeetingSummarizer::isGeneratingSummaryChanged, this,
        &TranscriptionSession::isGeneratingSummaryChanged);
    connect(&m_summarizer, &MeetingSummarizer::generatingSummaryMeetingIDChanged, this,
        &TranscriptionSession::generatingSummaryMeetingIDChanged);
    connect(&m_summarizer, &MeetingSummarizer::summaryFailed, this, [this](const QUuid&, const QString& description) {
        setError(QStringLiteral("Summary failed: ") + description);
    });
    connect(&m_summarizer, &MeetingSummarizer::summaryFinished, this, &TranscriptionSession::summaryFinished);
    // A microphone plugged in since the refusal: the record button no longer tells to connect one.
    connect(&m_microphone, &MicrophonePermission::statusChanged, this, [this] {
        if (m_error == kMicrophoneOff && m_microphone.status() == MicrophonePermission::Status::Authorized)
            setError(QString());
    });
}

TranscriptionSession::~TranscriptionSession()
{
    // Transcriber callbacks arrive on upload threads, possibly after the session is gone (an
    // upload under way outlives its transcriber): from here on they report to nobody.
    m_mailbox->close();
    // Capture must be over before the transcribers and recognisers it feeds go.
    if (m_isRecording)
        m_mixer.stop();
    m_mixer.setOnMicSamples(nullptr);
    m_mixer.setOnSystemSamples(nullptr);
    if (m_current) {
        m_mixer.micChunker().setOnChunkReady(nullptr);
        m_mixer.systemChunker().setOnChunkReady(nullptr);
    }
}

Meeting* TranscriptionSession::meeting() const
{
    return m_current ? m_current->meeting() : nullptr;
}

bool TranscriptionSession::isGeneratingSummary() const
{
    return m_summarizer.isGeneratingSummary();
}

QUuid TranscriptionSession::generatingSummaryMeetingID() const
{
    return m_summarizer.generatingSummaryMeetingID();
}

int TranscriptionSession::drainingRecordings() const
{
    return int(m_draining.size());
}

bool TranscriptionSession::isFinishing(const QUuid& meetingId) const
{
    return std::any_of(m_draining.begin(), m_draining.end(),
        [&](const std::shared_ptr<Recording>& recording) { return recording->meetingId == meetingId; });
}

// --- Published state -------------------------------------------------------------------

void TranscriptionSession::setError(const QString& error)
{
    if (m_error == error && m_error.isNull() == error.isNull())
        return;
    m_error = error;
    emit errorChanged();
}

void TranscriptionSession::setIsRecording(bool value)
{
    if (std::exchange(m_isRecording, value) != value)
        emit isRecordingChanged();
}

void TranscriptionSession::setIsPaused(bool value)
{
    if (std::exchange(m_isPaused, value) != value)
        emit isPausedChanged();
}

void TranscriptionSession::setSystemAudioActive(bool value)
{
    if (std::exchange(m_systemAudioActive, value) != value)
        emit systemAudioActiveChanged();
}

void TranscriptionSession::setLiveDraft(const QString& text)
{
    if (m_liveDraft == text)
        return;
    m_liveDraft = text;
    emit liveDraftChanged();
}

void TranscriptionSession::playStartCue()
{
    if (m_settings.get(SettingsKeys::soundEnabled))
        m_sounds.playStart();
}

void TranscriptionSession::playStopCue()
{
    if (m_settings.get(SettingsKeys::soundEnabled))
        m_sounds.playStop();
}

// --- Start, pause, resume, stop --------------------------------------------------------

void TranscriptionSession::startRecording(ModelContext& modelContext, Meeting* into)
{
    if (m_isRecording)
        return;

    switch (m_microphone.status()) {
    case MicrophonePermission::Status::Denied:
        setError(kMicrophoneOff);
        return;
    case MicrophonePermission::Status::NotDetermined: {
        QPointer<ModelContext> context(&modelContext);
        QPointer<Meeting> target(into);
        const bool hadTarget = into != nullptr;
        m_microphone.requestAccess(this, [this, context, target, hadTarget](bool granted) {
            if (!granted) {
                setError(kMicrophoneOff);
                return;
            }
            // The context or the meeting may have gone while the user was deciding.
            if (context && (!hadTarget || target))
                startRecording(*context, target);
        });
        return;
    }
    case MicrophonePermission::Status::Authorized:
        break;
    }

    setError(QString());
    const std::optional<ModelCredentials> credentials
        = m_modelAccess.modelCredentials ? m_modelAccess.modelCredentials() : std::nullopt;
    if (!credentials) {
        setError(kSignInFirst);
        return;
    }
    if (credentials->viaAccount() && m_modelAccess.allowanceExhausted && m_modelAccess.allowanceExhausted()) {
        setError(kAllowanceUsed);
        return;
    }

    const bool createdHere = into == nullptr;
    const QDateTime startDate = m_clock.now();
    Meeting* meeting = into;
    if (createdHere) {
        meeting = new Meeting(QStringLiteral("New Meeting"), startDate);
        modelContext.insert(meeting);
    }
    meeting->setIsRecording(true);
    meeting->setDate(startDate);
    modelContext.save();

    auto recording = std::make_shared<Recording>();
    recording->serial = ++m_recordingSerial;
    recording->context = &modelContext;
    recording->meetingId = meeting->id();
    recording->startDate = startDate;
    setTranscriptionFailure(recording->meetingId, QString());

    const QString recordingId = meeting->id().toString(QUuid::WithoutBraces).toUpper();
    const std::optional<QString> language = TranscriptionLanguage::current(m_settings).code();
    TranscriberOptions options;
    options.vocabularyPrompt
        = [&settings = m_settings] { return CustomDictionary::promptFragment(settings).value_or(QString()); };
    options.clock = &m_clock;
    recording->me = std::make_unique<TessraTranscriber>(*credentials, recordingId, language, startDate, options);
    recording->them = std::make_unique<TessraTranscriber>(*credentials, recordingId, language, startDate, options);
    installTranscriber(recording, Speaker::me());
    installTranscriber(recording, Speaker::them());
    recording->me->connect();
    recording->them->connect();

    if (const std::optional<MicRecorderError> failure = m_mixer.start()) {
        setError(failure->description());
        recording->me->disconnect();
        recording->them->disconnect();
        m_mixer.micChunker().setOnChunkReady(nullptr);
        m_mixer.systemChunker().setOnChunkReady(nullptr);
        // Nothing was recorded: the meeting must not stay flagged as recording, and one made
        // only for this start must not stay behind as an empty "New Meeting".
        if (createdHere) {
            modelContext.remove(meeting);
        } else {
            meeting->setIsRecording(false);
        }
        modelContext.save();
        return;
    }

    m_current = recording;
    const bool systemAudio = m_mixer.systemAudioAvailable();
    setSystemAudioActive(systemAudio);
    if (!systemAudio)
        recording->them->disconnect();
    setIsRecording(true);
    startLiveDraft();
    playStartCue();
    Log::line("[Quillet] Recording session started (system audio: %@)", systemAudio ? "active" : "unavailable");
}

void TranscriptionSession::installTranscriber(const std::shared_ptr<Recording>& recording, const Speaker& speaker)
{
    const bool isMicrophone = speaker.kind == Speaker::Kind::Me;
    TessraTranscriber& transcriber = isMicrophone ? *recording->me : *recording->them;
    const std::weak_ptr<Recording> weak = recording;
    const std::shared_ptr<Mailbox> mailbox = m_mailbox;

    transcriber.setOnTranscriptCompleted([this, mailbox, weak, speaker](const QString& text, double startOffset) {
        mailbox->post([this, weak, speaker, text, startOffset] {
            if (const auto recording = weak.lock())
                append(text, speaker, recording, startOffset);
        });
    });
    transcriber.setOnError([this, mailbox, weak, isMicrophone](const TessraTranscriber::TessraError& error) {
        const QString description = error.localizedDescription();
        Log::line(isMicrophone ? "[Quillet] Me transcriber error: %@" : "[Quillet] Them transcriber error: %@",
            error.logText());
        mailbox->post([this, weak, description, isMicrophone] {
            if (const auto recording = weak.lock())
                noteTranscriptionError(recording, description, isMicrophone);
        });
    });

    AudioChunker& chunker = isMicrophone ? m_mixer.micChunker() : m_mixer.systemChunker();
    chunker.clear();
    // The chunker is fed on the capture thread; the transcriber outlives every call, because
    // the callback is removed after capture has stopped and before the transcriber goes.
    TessraTranscriber* target = &transcriber;
    chunker.setOnChunkReady([target](const QString& base64Chunk) { target->sendAudio(base64Chunk); });
}

void TranscriptionSession::pauseRecording()
{
    if (!m_isRecording || m_isPaused)
        return;
    m_mixer.pause();
    setIsPaused(true);
    playStopCue();
    Log::line("[Quillet] Recording paused");
}

void TranscriptionSession::resumeRecording()
{
    if (!m_isRecording || !m_isPaused)
        return;
    m_mixer.resume();
    setIsPaused(false);
    playStartCue();
    Log::line("[Quillet] Recording resumed");
}

void TranscriptionSession::stopRecording()
{
    if (!m_isRecording)
        return;
    // Stopping capture flushes both chunkers, so the samples still buffered reach the
    // transcribers as a last, shorter chunk.
    m_mixer.stop();
    m_mixer.micChunker().flush();
    m_mixer.systemChunker().flush();
    m_mixer.micChunker().setOnChunkReady(nullptr);
    m_mixer.systemChunker().setOnChunkReady(nullptr);

    const std::shared_ptr<Recording> recording = std::move(m_current);
    m_current.reset();
    if (recording->me)
        recording->me->commitBuffer();
    if (recording->them)
        recording->them->commitBuffer();

    setIsRecording(false);
    setIsPaused(false);
    setSystemAudioActive(false);
    stopLiveDraft();
    playStopCue();
    Log::line("[Quillet] Recording stopped, waiting for final transcripts...");

    m_draining.push_back(recording);
    drain(recording);
}

// --- The wait after a stop -------------------------------------------------------------

void TranscriptionSession::drain(const std::shared_ptr<Recording>& recording)
{
    const std::weak_ptr<Recording> weak = recording;
    const auto watch = [&](TessraTranscriber* transcriber, const Speaker& speaker) {
        if (!transcriber)
            return;
        ++recording->chainsOpen;
        // Only learns when the uploads are over; it never cancels them. Always reaches the
        // main thread through a later turn of its event loop, also when nothing is pending.
        transcriber->pendingUploads().then([this, mailbox = m_mailbox, weak, speaker] {
            mailbox->post([this, weak, speaker] {
                if (const auto recording = weak.lock())
                    chainEnded(recording, speaker);
            });
        });
    };
    watch(recording->me.get(), Speaker::me());
    watch(recording->them.get(), Speaker::them());

    recording->limitTimer = std::make_unique<QTimer>();
    recording->limitTimer->setSingleShot(true);
    connect(recording->limitTimer.get(), &QTimer::timeout, this, [this, weak] {
        if (const auto recording = weak.lock())
            endWait(recording, true);
    });
    recording->limitTimer->start(m_drainLimit);
    if (recording->chainsOpen == 0)
        endWait(recording, false);
}

void TranscriptionSession::chainEnded(const std::shared_ptr<Recording>& recording, const Speaker& speaker)
{
    // A transcriber lives until its chain has drained: destroying it earlier would drop the
    // utterances still queued.
    std::unique_ptr<TessraTranscriber>& transcriber
        = speaker.kind == Speaker::Kind::Me ? recording->me : recording->them;
    if (transcriber)
        transcriber->disconnect();
    transcriber.reset();
    if (--recording->chainsOpen > 0)
        return;

    if (!recording->waitEnded) {
        endWait(recording, false);
        return;
    }
    // The last uploads ended after the limit. If they brought nothing, the meeting was kept
    // for nothing: the empty-meeting rule applies now.
    if (recording->stillUploadingAtLimit) {
        recording->stillUploadingAtLimit = false;
        Meeting* meeting = recording->meeting();
        if (meeting && isEmpty(*meeting, *recording))
            deleteEmptyMeeting(meeting, *recording);
    }
    retire(recording);
}

void TranscriptionSession::endWait(const std::shared_ptr<Recording>& recording, bool reachedLimit)
{
    if (recording->waitEnded)
        return;
    recording->waitEnded = true;
    recording->limitTimer.reset();
    recording->stillUploadingAtLimit = reachedLimit && recording->chainsOpen > 0;
    if (recording->me)
        recording->me->disconnect();
    if (recording->them)
        recording->them->disconnect();
    finalizeRecording(recording);
    if (recording->chainsOpen == 0)
        retire(recording);
    emit recordingFinalized(recording->meetingId);
}

void TranscriptionSession::retire(const std::shared_ptr<Recording>& recording)
{
    m_draining.remove(recording);
}

bool TranscriptionSession::isEmpty(const Meeting& meeting, const Recording& recording) const
{
    return meeting.segments().isEmpty() && !meeting.calendarEventId() && !meeting.hasUserNotes()
        && !recording.sawTranscriptionError && !recording.stillUploadingAtLimit;
}

void TranscriptionSession::deleteEmptyMeeting(Meeting* meeting, Recording& recording)
{
    recording.context->remove(meeting);
    recording.context->save();
    Log::line("[Quillet] Empty meeting deleted");
}

void TranscriptionSession::finalizeRecording(const std::shared_ptr<Recording>& recording)
{
    Meeting* meeting = recording->meeting();
    if (!meeting || !recording->startDate.isValid())
        return;
    meeting->setIsRecording(false);
    meeting->setDuration(double(recording->startDate.msecsTo(m_clock.now())) / 1000.0);

    if (isEmpty(*meeting, *recording)) {
        deleteEmptyMeeting(meeting, *recording);
        return;
    }
    recording->context->save();
    Log::line("[Quillet] Recording finalized");
    m_summarizer.summarizeStoppedRecording(*meeting, *recording->context);
}

// --- Transcript intake -----------------------------------------------------------------

void TranscriptionSession::append(
    const QString& text, const Speaker& speaker, const std::shared_ptr<Recording>& recording, double startOffset)
{
    ModelContext* context = recording->context;
    if (!context)
        return;
    if (text.trimmed().isEmpty())
        return;
    // Looked up by id: text that arrives after the stop still finds its own meeting, and
    // never one that has been deleted meanwhile.
    Meeting* meeting = recording->meeting();
    if (!meeting) {
        Log::line("[Quillet] Late transcript dropped: meeting gone");
        return;
    }

    if (EchoSuppressor::isEnabled(m_settings)) {
        const QList<TranscriptSegment*> segments = meeting->segments();
        QList<TranscriptSegment*> candidates;
        const bool fromMicrophone = speaker.kind == Speaker::Kind::Me;
        for (TranscriptSegment* segment : segments)
            if (fromMicrophone ? isThem(*segment) : isMe(*segment))
                candidates.append(segment);
        if (TranscriptSegment* duplicate = EchoSuppressor::duplicate(text, startOffset, candidates)) {
            if (fromMicrophone) {
                Log::line("[Quillet] Echo dropped: %@", TextPrefix::graphemes(text, 48));
                return;
            }
            Log::line("[Quillet] Echo replaced: %@", TextPrefix::graphemes(text, 48));
            context->remove(duplicate);
        }
    }

    auto* segment = new TranscriptSegment(text, speaker, startOffset);
    segment->setIsFinal(true);
    meeting->appendSegment(segment);
    setLiveDraft(QString());
    // The microphone's text flows again: its failure is history, kept for the finished meeting.
    if (speaker.kind == Speaker::Kind::Me && !recording->publishedTranscriptionError.isEmpty()) {
        if (m_error == recording->publishedTranscriptionError)
            clearError();
        recording->publishedTranscriptionError.clear();
    }
    context->save();
    Log::line("[Quillet] [%@] %@", speaker.rawValue(), TextPrefix::graphemes(text, 60));
}

void TranscriptionSession::noteTranscriptionError(
    const std::shared_ptr<Recording>& recording, const QString& description, bool publish)
{
    recording->sawTranscriptionError = true;
    setTranscriptionFailure(recording->meetingId, description);
    if (publish) {
        setError(description);
        recording->publishedTranscriptionError = description;
    }
}

void TranscriptionSession::setTranscriptionFailure(const QUuid& meetingId, const QString& description)
{
    if (m_transcriptionFailures.value(meetingId) == description)
        return;
    if (description.isEmpty())
        m_transcriptionFailures.remove(meetingId);
    else
        m_transcriptionFailures.insert(meetingId, description);
    emit transcriptionFailureChanged(meetingId);
}

// --- Live draft ------------------------------------------------------------------------

void TranscriptionSession::startLiveDraft()
{
    if (!LiveDraftRecognizer::isEnabled(m_settings) || !LiveDraftRecognizer::isAvailable())
        return;
    const quint64 serial = m_current->serial;
    // Off the start's own path, as asking for the recogniser may take a moment.
    QTimer::singleShot(0, this, [this, serial] {
        if (!LiveDraftRecognizer::authorize()) {
            Log::line("[Quillet] Live draft unavailable: speech recognition not authorised");
            return;
        }
        if (!m_isRecording || !m_current || m_current->serial != serial || m_micDraft)
            return;
        const auto make = [this] {
            return m_draftFactory ? m_draftFactory(kDraftSampleRate)
                                  : std::make_unique<LiveDraftRecognizer>(kDraftSampleRate);
        };
        m_micDraft = make();
        m_systemDraft = make();
        for (LiveDraftRecognizer* draft : { m_micDraft.get(), m_systemDraft.get() })
            connect(draft, &LiveDraftRecognizer::draftChanged, this, &TranscriptionSession::setLiveDraft);
        LiveDraftRecognizer::takeTurns({ m_micDraft.get(), m_systemDraft.get() });
        // The observers run on the capture threads; they are removed before the recognisers go.
        m_mixer.setOnMicSamples([draft = m_micDraft.get()](const AudioSamples& samples) {
            draft->feed(std::span<const float>(samples.constData(), std::size_t(samples.size())));
        });
        m_mixer.setOnSystemSamples([draft = m_systemDraft.get()](const AudioSamples& samples) {
            draft->feed(std::span<const float>(samples.constData(), std::size_t(samples.size())));
        });
        m_micDraft->start();
        m_systemDraft->start();
        Log::line("[Quillet] Live draft running on-device");
    });
}

void TranscriptionSession::stopLiveDraft()
{
    m_mixer.setOnMicSamples(nullptr);
    m_mixer.setOnSystemSamples(nullptr);
    if (m_micDraft)
        m_micDraft->stop();
    if (m_systemDraft)
        m_systemDraft->stop();
    m_micDraft.reset();
    m_systemDraft.reset();
    setLiveDraft(QString());
}
