#pragma once

#include "app/CalendarHooks.h"
#include "calendar/AutoStartScheduler.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <optional>

class AppState;
class Meeting;
class ModelContext;
class TranscriptionSession;
class UrlOpener;

// The one road to a recording. Whoever asks (the recording bar, the quick note, a meeting's
// record action, the tray menu, a reminder's "Open & record" and the automatic start) sends its
// command here, and every view reads what it shows of the recording from here: whether one runs
// or is paused, into which meeting, whether the computer's sound is captured, the live draft,
// the level of the microphone and the session's error. It outlives the views and holds no
// widget: the window shows its question and the meeting it wants shown, and answers.
//
// Before it interrupts a recording it asks: `question` holds the sentence to put to the user
// until answer() is called (a later request replaces the one waiting). Meetings are held by
// identifier across turns of the event loop, so a meeting deleted meanwhile starts nothing.
class RecordingController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecordingController)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(bool systemAudioActive READ systemAudioActive NOTIFY systemAudioActiveChanged)
    Q_PROPERTY(QString liveDraft READ liveDraft NOTIFY liveDraftChanged)
    Q_PROPERTY(bool isGeneratingSummary READ isGeneratingSummary NOTIFY isGeneratingSummaryChanged)
    Q_PROPERTY(QString question READ question NOTIFY questionChanged)

public:
    // What the question is about; the window words its buttons by it.
    enum class Ask { nothing, switchRecording, quickNote };
    Q_ENUM(Ask)

    struct Services
    {
        ModelContext& store;
        TranscriptionSession& session;
        AppState& appState;
        UrlOpener& urlOpener; // call links
    };

    explicit RecordingController(const Services& services, QObject* parent = nullptr);
    ~RecordingController() override;

    // --- What the views show --------------------------------------------------------------
    bool isRecording() const;
    bool isPaused() const;
    bool systemAudioActive() const;
    QString liveDraft() const;
    // The user's words for the last failure; empty when there is none.
    QString error() const;
    bool isGeneratingSummary() const;
    // The meeting whose summary is being written; null when none is.
    QUuid generatingSummaryMeetingID() const;
    // Why a finished recording of the meeting lost some of its transcript; empty when it did not.
    QString transcriptionFailure(const QUuid& meetingId) const;
    // The microphone's level, 0 to 1.
    float microphoneLevel() const;
    // The meeting the session records into; null while nothing records.
    Meeting* meeting() const;
    // The newest meeting flagged as recording.
    Meeting* recordingMeeting() const;

    Ask asking() const { return m_asking; }
    // The sentence put to the user; empty when nothing is asked.
    QString question() const { return m_question; }
    // The user's answer to the question: stop the recording and start the one asked for, or
    // leave everything as it is.
    void answer(bool stopAndStart);

    // --- Commands -------------------------------------------------------------------------
    // A recording into a new meeting; the window turns to it as it turns to any recording.
    void startAdHocRecording();
    // A meeting's record action: into the meeting (a new one when null); asks first when
    // another meeting records.
    void startRecording(Meeting* into);
    // The quick note: a new recording, asking first when one runs.
    void quickNote();
    // A reminder's request: shows the event's meeting and records it, asking first when another
    // meeting records; an event no longer current starts a new recording when none runs.
    void openAndRecord(const CalendarHooks::EventMeeting& event);
    void stopRecording();
    void pauseRecording();
    void resumeRecording();
    // Before a meeting is deleted: its recording stops, so the microphone and its uploads do
    // not run on for a record that is gone.
    void releaseMeeting(const Meeting& meeting);

    // What the automatic start records through: it never interrupts a recording, and a meeting
    // that records already is left alone.
    AutoStartScheduler::Recorder autoStartRecorder();

signals:
    void isRecordingChanged();
    void isPausedChanged();
    void errorChanged();
    void systemAudioActiveChanged();
    void liveDraftChanged();
    void isGeneratingSummaryChanged();
    void generatingSummaryMeetingIDChanged();
    void transcriptionFailureChanged(const QUuid& meetingId);
    void questionChanged();
    // An event's call link was not opened; `why` says so in words for the person.
    void joinFailed(const QString& why);
    // The window should show this meeting.
    void showMeeting(Meeting* meeting);

private:
    struct Pending
    {
        QUuid meetingId; // null: a new meeting
        std::optional<QUrl> callLink;
    };

    // Records into the meeting unless it records already; asks first when another one does.
    void recordOrAsk(Meeting& meeting, const std::optional<QUrl>& callLink);
    void ask(Ask kind, const QString& question, const Pending& pending);
    void record(Meeting* meeting, const std::optional<QUrl>& callLink);

    Services m_services;
    Ask m_asking = Ask::nothing;
    QString m_question;
    std::optional<Pending> m_pending;
};
