#pragma once

#include "format/Result.h"
#include "storage/StoreError.h"

#include <QStringList>
#include <QtGlobal>
#include <memory>

class AccountService;
class AppNotices;
class AppQuit;
class AppState;
class AutoStartScheduler;
class CalendarHooks;
class CalendarService;
class Clock;
class DesktopSettingsOpener;
class DualStreamMixer;
class EventLinks;
class GoogleCalendarAPI;
class GoogleCalendarService;
class GoogleOAuth;
class Keychain;
class LaunchHousekeeping;
class RecordingActions;
class MeetingArchiver;
class MeetingChatService;
class MeetingSearchIndex;
struct ModelContextBox;
class MeetingReminders;
class MeetingSummarizer;
class MicRecorder;
class MicrophonePermission;
class ModelContext;
class NotificationCenter;
class QNetworkAccessManager;
class QObject;
class QString;
class QuilletCloud;
class RecordingController;
class SaveHealth;
class Scheduler;
class SecretStore;
class Settings;
class SoundFeedback;
class SystemAudioRecorder;
class TessraOAuth;
class TranscriptionSession;
class UpdateChecker;
class UrlOpener;
class UrlRouter;
class ArchiveQueue;
struct AppConfig;
struct HomeServices;
struct OnboardingServices;
struct SettingsServices;
struct WindowServices;

// The composition root: every long-lived service of the application, each made once, in an
// order where everything a service needs is made before it. main() makes one instance; the
// windows and pages get the few services each uses as a bundle made here (homeServices() and
// the like) and never make their own. Tests make one through tests/support/AppRig.h with a
// Config that points at temporary folders, local servers and stand-ins for the desktop.
//
// Making it starts nothing: no network request is sent and no sound is played or recorded until
// launch() or a view asks for it. Main thread only.
class AppServices final
{
    Q_DISABLE_COPY_MOVE(AppServices)

public:
    // Where things live, which servers are asked, and which desktop services are stand-ins
    // (app/AppConfig.h).
    using Config = AppConfig;

    // Opens the store and makes every service; fails with the store's reason when it cannot be
    // opened (the application cannot run without its store).
    static Result<std::unique_ptr<AppServices>, StoreError> open(const Config& config);
    // Commits the store's pending changes, then destroys the services in the reverse order: the
    // session stops any recording, the archiver writes what it was handed, then the store closes.
    ~AppServices();

    // For an end that does not run the normal quit (the session manager saving before a logout,
    // the display going away): commits what was typed and hands what the store holds to the
    // archive; with untilArchived, returns once the archive has written it.
    void saveBeforeEnd(bool untilArchived);

    // The schemes besides "quillet" that the application's URLs may come in: the Google
    // sign-in's redirect scheme, when Google is set up.
    static QStringList redirectSchemes(const Config& config);

    // The work of a launch, before the main window shows: the archive removals the store
    // recorded and a process ended before running are handed to the archive first (the store
    // they were deleted from is never refilled by the import either), and the archive writes an
    // earlier run left owed (a full notes folder, a process ended first); when the store holds
    // meetings, the archive forgets those whose deletion reached the store but not the archive
    // (never on a store the import is about to refill: the prune would delete the files the
    // import skips); then the calendar service starts.
    void launch();

    // The tasks of each time the main window is shown anew, after its housekeeping(), in this
    // order: the account's refresh, the import that rebuilds an empty store from the archive,
    // and the update check. The two network requests return at once.
    void runWindowTasks();

    // A chat service for one meeting view (each view has its own).
    std::unique_ptr<MeetingChatService> makeChatService(QObject* parent = nullptr);
    // What saving means for a chat: the question and the answer are committed, and so archived,
    // as soon as each is added, even once the view that asked has gone.
    ModelContextBox chatSaving();
    // The folder the archive writes to.
    QString archiveRoot() const;

    // What each window and page uses (app/WindowServices.h and its neighbours).
    WindowServices windowServices();
    HomeServices homeServices();
    SettingsServices settingsServices();
    OnboardingServices onboardingServices();

    const Clock& clock() const;
    Settings& settings();
    ModelContext& store();
    MeetingArchiver& archiver();
    // The archive's side of the store: writes what is saved, after a pause in the typing, until
    // it is through, back-fills what the archive lacks, and says whether its writes go through.
    ArchiveQueue& archiveQueue();
    // The lower-cased copy of every meeting's texts that the sidebar's search reads.
    MeetingSearchIndex& searchIndex();
    // Whether the store's saves go through; failed ones are tried again until they do.
    SaveHealth& saveHealth();
    // The quit the user or a signal asks for: saved first, held when the save fails.
    AppQuit& quit();
    Scheduler& scheduler();
    // The calendar's offers of an event to link a quick note to.
    EventLinks& eventLinks();
    SecretStore& secretStore();
    Keychain& keychain();
    QNetworkAccessManager& network();
    UrlOpener& urlOpener();
    DesktopSettingsOpener& desktopSettings();
    UrlRouter& router();
    QuilletCloud& cloud();
    TessraOAuth& oauth();
    AccountService& account();
    UpdateChecker& updateChecker();
    NotificationCenter& notifications();
    MicrophonePermission& microphonePermission();
    MicRecorder& microphone();
    SystemAudioRecorder& systemAudio();
    DualStreamMixer& mixer();
    SoundFeedback& sounds();
    MeetingSummarizer& summarizer();
    TranscriptionSession& session();
    GoogleOAuth& googleOAuth();
    const GoogleCalendarAPI& googleAPI() const;
    GoogleCalendarService& google();
    CalendarService& calendar();
    AppState& appState();
    AppNotices& notices();
    CalendarHooks& calendarHooks();
    MeetingReminders& reminders();
    AutoStartScheduler& autoStart();
    RecordingController& recordings();
    // Start, stop, pause and resume, and the quick note, as the actions every menu shows.
    RecordingActions& recordingActions();
    // Each window show's housekeeping, before runWindowTasks().
    LaunchHousekeeping& housekeeping();

private:
    struct Services;

    explicit AppServices(std::unique_ptr<Services> services);

    // Every service, in the order they are made (AppServices.cpp).
    std::unique_ptr<Services> d;
};
