#pragma once

#include "calendar/AutoStartScheduler.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <chrono>
#include <optional>

class AppState;
class ArchiveSync;
class CalendarHooks;
class Meeting;
class ModelContext;
class Scheduler;
class TranscriptionSession;
class UrlOpener;

// Every way a recording starts and ends, whoever asks: the recording bar, the quick note, a
// meeting's record action, the tray menu, a reminder's "Open & record" and the automatic start;
// the deletion of a meeting (stopping its recording first) and the housekeeping of each time
// the window is shown anew. It outlives the views that ask it and holds no widget: the window
// shows its question and the meeting it wants shown, and answers.
//
// Before it interrupts a recording it asks: `question` holds the sentence to put to the user
// until answer() is called (a later request replaces the one waiting). Meetings are held by
// identifier across turns of the event loop, so a meeting deleted meanwhile starts nothing.
class RecordingController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecordingController)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
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
        CalendarHooks& calendar;
        UrlOpener& urlOpener; // call links
        ArchiveSync& archive; // the back-fill of each show
        Scheduler& scheduler;
    };

    // After an ad-hoc start, the new meeting is asked to be shown this much later.
    static constexpr std::chrono::milliseconds kFollowUpDelay { 300 };

    explicit RecordingController(const Services& services, QObject* parent = nullptr);
    ~RecordingController() override;

    bool isRecording() const;
    // The newest meeting flagged as recording.
    Meeting* recordingMeeting() const;

    Ask asking() const { return m_asking; }
    // The sentence put to the user; empty when nothing is asked.
    QString question() const { return m_question; }
    // The user's answer to the question: stop the recording and start the one asked for, or
    // leave everything as it is.
    void answer(bool stopAndStart);

    // A recording into a new meeting, which is asked to be shown shortly after.
    void startAdHocRecording();
    // A meeting's record action: into the meeting (a new one when null); asks first when
    // another meeting records.
    void startRecording(Meeting* into);
    // The quick note: a new recording, asking first when one runs.
    void quickNote();
    // A reminder's request: shows the event's meeting and records it, asking first when another
    // meeting records; an event no longer current starts a new recording when none runs.
    void openAndRecord(const QString& eventId);
    void stopRecording();
    void pauseRecording();
    void resumeRecording();
    // Deletes the meeting (its record, and its archive file once the store has committed the
    // removal), stopping its recording first. Asks nothing: callers ask when they want to.
    void deleteMeeting(Meeting* meeting);

    // The housekeeping of each time the window is shown anew: repairs recordings left open,
    // drops empty meetings, refreshes the recent list, back-fills the archive and starts the
    // calendar's automatic start.
    void runHousekeeping();

    // What the automatic start records through.
    static AutoStartScheduler::Recorder autoStartRecorder(TranscriptionSession& session);

signals:
    void isRecordingChanged();
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

    void ask(Ask kind, const QString& question, const Pending& pending);
    void record(Meeting* meeting, const std::optional<QUrl>& callLink);

    Services m_services;
    Ask m_asking = Ask::nothing;
    QString m_question;
    std::optional<Pending> m_pending;
};
