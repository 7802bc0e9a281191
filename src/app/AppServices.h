#pragma once

#include "account/AccountEndpoints.h"
#include "account/AccountService.h"
#include "account/QuilletCloud.h"
#include "account/TessraOAuth.h"
#include "app/AppNotices.h"
#include "app/AppState.h"
#include "app/CalendarEventLinks.h"
#include "app/CalendarHooks.h"
#include "app/EventLinks.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"
#include "calendar/AutoStartScheduler.h"
#include "calendar/CalendarService.h"
#include "calendar/GoogleCalendarAPI.h"
#include "calendar/GoogleCalendarService.h"
#include "calendar/GoogleOAuth.h"
#include "calendar/MeetingReminders.h"
#include "platform/CalendarStore.h"
#include "platform/CuePlayer.h"
#include "platform/DesktopSettingsOpener.h"
#include "platform/MicrophonePermission.h"
#include "platform/NotificationCenter.h"
#include "platform/SecretStore.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "platform/UrlRouter.h"
#include "archive/ArchiveDebouncer.h"
#include "archive/ArchiveRemovals.h"
#include "archive/MeetingArchiver.h"
#include "storage/ModelContext.h"
#include "storage/SaveHealth.h"
#include "summary/MeetingSummarizer.h"
#include "system/Keychain.h"
#include "system/SoundFeedback.h"
#include "system/UpdateChecker.h"
#include "transcription/TranscriptionSession.h"

#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>
#include <memory>

class Clock;
class Scheduler;
class MeetingChatService;
class MeetingSearchIndex;

// The composition root: every long-lived service of the application, each made once, in an
// order where everything a service needs is made before it. main() makes one instance and
// hands it to the windows by reference; views take the services they need from it and never
// make their own. Tests make one through tests/support/AppRig.h with a Config that points at
// temporary folders, local servers and stand-ins for the desktop.
//
// Making it starts nothing: no network request is sent and no sound is played or recorded until
// launch() or a view asks for it. Main thread only.
class AppServices final
{
    Q_DISABLE_COPY_MOVE(AppServices)

public:
    // Where things live, which servers are asked, and which desktop services are stand-ins.
    // Every field has the application's own value by default.
    struct Config
    {
        QString settingsFile = Settings::defaultFilePath();
        QString storeFile = defaultStoreFile();
        QString archiveRoot = MeetingArchiver::defaultRoot();
        // What an empty store is rebuilt from (the archive folder of the released application).
        QString importFolder = defaultImportFolder();
        AccountEndpoints endpoints = AccountEndpoints::builtIn();
        // Google's OAuth client and addresses (an empty client id: Google is not set up).
        GoogleOAuth::Config google = GoogleOAuth::Config::builtIn();
        QUrl updateSite = UpdateChecker::defaultSiteOrigin();

        // Stand-ins, owned by the caller and outliving the services; null is the real one.
        const Clock* clock = nullptr;
        SecretStore* secretStore = nullptr; // the desktop's keyring
        MicrophonePermission* microphonePermission = nullptr;
        UrlOpener* urlOpener = nullptr; // the desktop's browser
        CuePlayer* cuePlayer = nullptr; // the sound server
        NotificationServer* notificationServer = nullptr; // the desktop's notifications
        CalendarStore* calendarStore = nullptr; // the desktop's calendar store
        DesktopSettingsOpener* desktopSettings = nullptr; // the desktop's settings panes
        // The calendar features the shell calls; null: the real ones (the calendar service,
        // the meetings made from its events, their reminders and automatic start).
        CalendarHooks* calendarHooks = nullptr;
        Scheduler* scheduler = nullptr; // Qt's timers
        EventLinks* eventLinks = nullptr; // none: the calendar service's events

        // False: recordings cannot start, and capture never reaches the sound server.
        bool capture = true;

        // How often held notifications look at the clock, and meetings set to record by
        // themselves are checked; tests with a fake clock shorten them.
        std::chrono::milliseconds notificationRecheckInterval = NotificationCenter::kDefaultRecheckInterval;
        std::chrono::milliseconds autoStartCheckInterval = AutoStartScheduler::kCheckInterval;

        static QString defaultStoreFile();
        static QString defaultImportFolder();
    };

    // Opens the store and makes every service; nothing when the store cannot be opened (the
    // reason is in `error`: the application cannot run without its store).
    static std::unique_ptr<AppServices> open(const Config& config, QString* error);
    // Destroys the services in the reverse order: the session stops any recording, the
    // archiver writes what it was handed, then the store closes.
    ~AppServices();

    // The schemes besides "quillet" that the application's URLs may come in: the Google
    // sign-in's redirect scheme, when Google is set up.
    static QStringList redirectSchemes(const Config& config);

    // The work of a launch, before the main window shows: the archive removals the store
    // recorded and a process ended before running are handed to the archive first (the store
    // they were deleted from is never refilled by the import either); when the store holds
    // meetings, the archive forgets those whose deletion reached the store but not the archive
    // (never on a store the import is about to refill: the prune would delete the files the
    // import skips); then the calendar service starts.
    void launch();

    // The tasks of each time the main window is shown anew, after its housekeeping, in this
    // order: the account's refresh, the import that rebuilds an empty store from the archive,
    // and the update check. The two network requests return at once.
    void runWindowTasks();

    // A chat service for one meeting view (each view has its own).
    std::unique_ptr<MeetingChatService> makeChatService(QObject* parent = nullptr);

    const Clock& clock() const { return m_clock; }
    Settings& settings() { return m_settings; }
    ModelContext& store() { return *m_store; }
    // The lower-cased copy of every meeting's texts that the sidebar's search reads.
    MeetingSearchIndex& searchIndex() { return *m_searchIndex; }
    MeetingArchiver& archiver() { return m_archiver; }
    // The delayed archive writes of edits, one pending write per meeting.
    ArchiveDebouncer& archiveDebouncer() { return m_archiveDebouncer; }
    // Whether the store's saves go through; failed ones are tried again until they do.
    SaveHealth& saveHealth() { return m_saveHealth; }
    Scheduler& scheduler() { return m_scheduler; }
    // The calendar's offers of an event to link a quick note to.
    EventLinks& eventLinks() { return *m_eventLinks.service; }
    SecretStore& secretStore() { return *m_secretStore.service; }
    Keychain& keychain() { return m_keychain; }
    QNetworkAccessManager& network() { return m_network; }
    UrlOpener& urlOpener() { return *m_urlOpener.service; }
    DesktopSettingsOpener& desktopSettings() { return *m_desktopSettings.service; }
    UrlRouter& router() { return m_router; }
    QuilletCloud& cloud() { return m_cloud; }
    TessraOAuth& oauth() { return m_oauth; }
    AccountService& account() { return m_account; }
    UpdateChecker& updateChecker() { return m_updateChecker; }
    NotificationCenter& notifications() { return m_notifications; }
    MicrophonePermission& microphonePermission() { return *m_microphonePermission.service; }
    MicRecorder& microphone() { return m_microphone; }
    SystemAudioRecorder& systemAudio() { return m_systemAudio; }
    DualStreamMixer& mixer() { return m_mixer; }
    SoundFeedback& sounds() { return m_sounds; }
    MeetingSummarizer& summarizer() { return m_summarizer; }
    TranscriptionSession& session() { return m_session; }
    GoogleOAuth& googleOAuth() { return m_googleOAuth; }
    const GoogleCalendarAPI& googleAPI() const { return m_googleAPI; }
    GoogleCalendarService& google() { return m_google; }
    CalendarService& calendar() { return m_calendar; }
    AppState& appState() { return m_appState; }
    AppNotices& notices() { return m_notices; }
    CalendarHooks& calendarHooks() { return *m_calendarHooks.service; }
    MeetingReminders& reminders() { return m_reminders; }
    AutoStartScheduler& autoStart() { return m_autoStart; }

private:
    // A desktop service: the stand-in the config names, else the real one, owned here.
    template <typename Service> struct Chosen
    {
        std::unique_ptr<Service> owned;
        Service* service = nullptr;
    };
    template <typename Real, typename Service> static Chosen<Service> realUnless(Service* standIn);

    AppServices(const Config& config, std::unique_ptr<ModelContext> store);

    const Config m_config;
    const Clock& m_clock;
    Scheduler& m_scheduler;
    Chosen<SecretStore> m_secretStore;
    Chosen<UrlOpener> m_urlOpener;
    Chosen<MicrophonePermission> m_microphonePermission;
    Chosen<CuePlayer> m_cuePlayer;
    Chosen<NotificationServer> m_notificationServer;
    Chosen<CalendarStore> m_calendarStore;
    Chosen<DesktopSettingsOpener> m_desktopSettings;

    Settings m_settings;
    std::unique_ptr<ModelContext> m_store;
    std::unique_ptr<MeetingSearchIndex> m_searchIndex;
    MarkdownArchiver m_archiver;
    // Destroyed before the archiver, to which it hands its pending writes.
    ArchiveDebouncer m_archiveDebouncer;
    ArchiveRemovals m_archiveRemovals;
    SaveHealth m_saveHealth;
    Keychain m_keychain;
    QNetworkAccessManager m_network;
    UrlRouter m_router;
    QuilletCloud m_cloud;
    TessraOAuth m_oauth;
    AccountService m_account;
    UpdateChecker m_updateChecker;
    NotificationCenter m_notifications;
    MicRecorder m_microphone;
    SystemAudioRecorder m_systemAudio;
    DualStreamMixer m_mixer;
    SoundFeedback m_sounds;
    MeetingSummarizer m_summarizer;
    TranscriptionSession m_session;
    GoogleOAuth m_googleOAuth;
    GoogleCalendarAPI m_googleAPI;
    // The calendar service's Google source; its eventsOutdated() asks for a fetch again.
    GoogleCalendarService m_google;
    CalendarService m_calendar;
    Chosen<EventLinks> m_eventLinks;
    MeetingReminders m_reminders;
    AutoStartScheduler m_autoStart;
    Chosen<CalendarHooks> m_calendarHooks;
    AppState m_appState;
    AppNotices m_notices;
};
