#pragma once

#include "account/ModelCredentials.h"
#include "storage/Speaker.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>

class AccountService;
class Clock;
class DualStreamMixer;
class LiveDraftRecognizer;
class Meeting;
class MeetingSummarizer;
class MicrophonePermission;
class ModelContext;
class Mailbox;
class Settings;
class SoundFeedback;

// The one recording session of the application: it checks the microphone permission, the
// model credentials and the monthly allowance, records into a meeting through one transcriber
// per stream ("me" for the microphone, "them" for the system audio), stores what they
// transcribe, and after a stop waits for the last uploads, finalises the meeting, archives it
// and hands it to the summarizer for its summary and title. Main thread only; nothing here
// waits on the network.
//
// A new recording may start while the previous one is still draining: each recording keeps
// its own meeting, context, transcribers and error flag until it is completely done.
class TranscriptionSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptionSession)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(bool systemAudioActive READ systemAudioActive NOTIFY systemAudioActiveChanged)
    Q_PROPERTY(QString liveDraft READ liveDraft NOTIFY liveDraftChanged)
    Q_PROPERTY(bool isGeneratingSummary READ isGeneratingSummary NOTIFY isGeneratingSummaryChanged)
    Q_PROPERTY(
        QUuid generatingSummaryMeetingID READ generatingSummaryMeetingID NOTIFY generatingSummaryMeetingIDChanged)

public:
    // What the session asks of the account: the credentials of every model call (none when
    // the user has no way to reach the service) and whether the cloud account's monthly
    // minutes are used up.
    struct ModelAccess
    {
        std::function<std::optional<ModelCredentials>()> modelCredentials;
        std::function<bool()> allowanceExhausted;

        // Both read from the application's account service, which must outlive the session.
        static ModelAccess of(const AccountService& account);
    };

    // Makes the live draft's recogniser for one stream at the given rate.
    using DraftFactory = std::function<std::unique_ptr<LiveDraftRecognizer>(double sampleRate)>;

    static constexpr std::chrono::milliseconds kDrainLimit { 35'000 };

    TranscriptionSession(Settings& settings, ModelAccess modelAccess, DualStreamMixer& mixer,
        MicrophonePermission& microphone, SoundFeedback& sounds, MeetingSummarizer& summarizer, const Clock& clock,
        QObject* parent = nullptr);
    ~TranscriptionSession() override;

    bool isRecording() const { return m_isRecording; }
    bool isPaused() const { return m_isPaused; }
    // The user-facing text of the last failure; empty when there is none.
    QString error() const { return m_error; }
    void setError(const QString& error);
    void clearError() { setError(QString()); }
    bool systemAudioActive() const { return m_systemAudioActive; }
    QString liveDraft() const { return m_liveDraft; }
    // The summarizer's progress on the summary of a stopped recording.
    bool isGeneratingSummary() const;
    // Null when no summary is being written.
    QUuid generatingSummaryMeetingID() const;

    DualStreamMixer& mixer() { return m_mixer; }
    // The meeting being recorded, if any.
    Meeting* meeting() const;

    // Records into `into`, or into a new "New Meeting" when it is null. Refusals and
    // failures are reported through error().
    void startRecording(ModelContext& modelContext, Meeting* into = nullptr);
    // Returns at once; the wait for the last transcripts, the finalisation, the archive and
    // the summary go on afterwards.
    void stopRecording();
    void pauseRecording();
    void resumeRecording();

    // Tests shorten the wait for the last uploads and replace the draft's recogniser.
    void setDrainLimit(std::chrono::milliseconds limit) { m_drainLimit = limit; }
    void setDraftFactory(DraftFactory factory) { m_draftFactory = std::move(factory); }
    // Recordings whose meeting is not finished yet, or whose uploads still run.
    int drainingRecordings() const;
    // True from the stop of the recording into this meeting until its last upload has ended:
    // the meeting may still be flagged as recording, or still be waiting for its text.
    bool isFinishing(const QUuid& meetingId) const;
    // Why audio of the meeting's last recording in this run was not transcribed (the user's
    // text of its last failed upload, of either stream); empty when all of it was.
    QString transcriptionFailure(const QUuid& meetingId) const { return m_transcriptionFailures.value(meetingId); }

signals:
    void isRecordingChanged();
    void isPausedChanged();
    void errorChanged();
    void systemAudioActiveChanged();
    void liveDraftChanged();
    void isGeneratingSummaryChanged();
    void generatingSummaryMeetingIDChanged();
    // The stop of a recording is complete: its meeting was finalised (or deleted as empty).
    void recordingFinalized(const QUuid& meetingId);
    // A summary run ended, successfully or not.
    void summaryFinished(const QUuid& meetingId);
    void transcriptionFailureChanged(const QUuid& meetingId);

private:
    struct Recording;

    void setIsRecording(bool value);
    void setIsPaused(bool value);
    void setSystemAudioActive(bool value);
    void setLiveDraft(const QString& text);
    void playStartCue();
    void playStopCue();

    void startLiveDraft();
    void stopLiveDraft();
    void installTranscriber(const std::shared_ptr<Recording>& recording, const Speaker& speaker);
    void drain(const std::shared_ptr<Recording>& recording);
    void endWait(const std::shared_ptr<Recording>& recording, bool reachedLimit);
    void chainEnded(const std::shared_ptr<Recording>& recording, const Speaker& speaker);
    void finalizeRecording(const std::shared_ptr<Recording>& recording);
    bool isEmpty(const Meeting& meeting, const Recording& recording) const;
    void deleteEmptyMeeting(Meeting* meeting, Recording& recording);
    void retire(const std::shared_ptr<Recording>& recording);
    void append(
        const QString& text, const Speaker& speaker, const std::shared_ptr<Recording>& recording, double startOffset);
    void noteTranscriptionError(const std::shared_ptr<Recording>& recording, const QString& description, bool publish);
    void setTranscriptionFailure(const QUuid& meetingId, const QString& description);

    Settings& m_settings;
    ModelAccess m_modelAccess;
    DualStreamMixer& m_mixer;
    MicrophonePermission& m_microphone;
    SoundFeedback& m_sounds;
    MeetingSummarizer& m_summarizer;
    const Clock& m_clock;
    std::shared_ptr<Mailbox> m_mailbox;

    bool m_isRecording = false;
    bool m_isPaused = false;
    QString m_error;
    bool m_systemAudioActive = false;
    QString m_liveDraft;
    QHash<QUuid, QString> m_transcriptionFailures;

    std::shared_ptr<Recording> m_current;
    // Stopped recordings that are still waiting for uploads or for their finalisation.
    std::list<std::shared_ptr<Recording>> m_draining;
    std::unique_ptr<LiveDraftRecognizer> m_micDraft;
    std::unique_ptr<LiveDraftRecognizer> m_systemDraft;
    quint64 m_recordingSerial = 0;
    std::chrono::milliseconds m_drainLimit = kDrainLimit;
    DraftFactory m_draftFactory;
};
