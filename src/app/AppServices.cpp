#include "app/AppServices.h"

#include "account/AccountEndpoints.h"
#include "account/AccountService.h"
#include "account/QuilletCloud.h"
#include "account/TessraOAuth.h"
#include "app/AppConfig.h"
#include "app/AppNotices.h"
#include "app/AppQuit.h"
#include "app/AppState.h"
#include "app/CalendarEventLinks.h"
#include "app/CalendarHooks.h"
#include "app/EventLinks.h"
#include "app/HomeServices.h"
#include "app/LaunchHousekeeping.h"
#include "app/OnboardingServices.h"
#include "app/RecordingActions.h"
#include "app/RecordingController.h"
#include "app/SettingsServices.h"
#include "app/WindowServices.h"
#include "archive/ArchiveQueue.h"
#include "archive/ArchiveRemovals.h"
#include "archive/MeetingArchiver.h"
#include "archive/MeetingImporter.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"
#include "calendar/AutoStartScheduler.h"
#include "calendar/CalendarService.h"
#include "calendar/GoogleCalendarAPI.h"
#include "calendar/GoogleCalendarService.h"
#include "calendar/GoogleOAuth.h"
#include "calendar/MeetingFactory.h"
#include "calendar/MeetingReminders.h"
#include "chat/MeetingChatService.h"
#include "chat/ModelContextBox.h"
#include "library/MeetingSearchIndex.h"
#include "platform/Clock.h"
#include "platform/CuePlayer.h"
#include "platform/DesktopSettingsOpener.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/GnomeSettingsOpener.h"
#include "platform/LibsecretStore.h"
#include "platform/MicrophonePermission.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"
#include "platform/SecretStore.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "platform/UrlRouter.h"
#include "platform/calendar/CalendarStore.h"
#include "platform/calendar/EdsCalendarStore.h"
#include "platform/pulse/PulseCuePlayer.h"
#include "platform/pulse/PulseMicrophonePermission.h"
#include "recording/TranscriptionSession.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/QuilletStore.h"
#include "storage/SaveHealth.h"
#include "summary/MeetingSummarizer.h"
#include "system/Keychain.h"
#include "system/SoundFeedback.h"
#include "system/UpdateChecker.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QPointer>

QString AppConfig::defaultStoreFile()
{
    return QuilletStore::storeFilePath();
}

QString AppConfig::defaultImportFolder()
{
    return MeetingImporter::archiveFolder();
}

namespace {
// A desktop service: the stand-in the config names, else the real one, owned here.
template <typename Service> struct Chosen
{
    std::unique_ptr<Service> owned;
    Service* service = nullptr;
};

template <typename Real, typename Service> Chosen<Service> realUnless(Service* standIn)
{
    if (standIn)
        return { nullptr, standIn };
    auto real = std::make_unique<Real>();
    Service* service = real.get();
    return { std::move(real), service };
}
} // namespace

struct AppServices::Services
{
    Services(const Config& config, std::unique_ptr<ModelContext> store);

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
    // The sidebar search's copy of the store's texts; goes before the store it reads.
    std::unique_ptr<MeetingSearchIndex> m_searchIndex;
    MarkdownArchiver m_archiver;
    // Destroyed before the archiver, to which it hands its pending writes.
    ArchiveQueue m_archiveQueue;
    ArchiveRemovals m_archiveRemovals;
    SaveHealth m_saveHealth;
    AppQuit m_quit;
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
    AppState m_appState;
    // Every start and stop of a recording goes through it, the automatic start's included.
    RecordingController m_recordings;
    GoogleOAuth m_googleOAuth;
    GoogleCalendarAPI m_googleAPI;
    // The calendar service's Google source; its eventsOutdated() asks for a fetch again.
    GoogleCalendarService m_google;
    CalendarService m_calendar;
    Chosen<EventLinks> m_eventLinks;
    MeetingReminders m_reminders;
    AutoStartScheduler m_autoStart;
    Chosen<CalendarHooks> m_calendarHooks;
    LaunchHousekeeping m_housekeeping;
    // Made when a window first asks: actions need the GUI application.
    std::unique_ptr<RecordingActions> m_recordingActions;
    AppNotices m_notices;
};

Result<std::unique_ptr<AppServices>, StoreError> AppServices::open(const Config& config)
{
    Result<std::unique_ptr<ModelContext>, StoreError> store = QuilletStore::open(config.storeFile);
    if (!store.ok())
        return store.error();
    return std::unique_ptr<AppServices>(new AppServices(std::make_unique<Services>(config, std::move(store).value())));
}

AppServices::AppServices(std::unique_ptr<Services> services)
    : d(std::move(services))
{ }

AppServices::Services::Services(const Config& config, std::unique_ptr<ModelContext> store)
    : m_config(config)
    , m_clock(config.clock ? *config.clock : Clock::system())
    , m_scheduler(config.scheduler ? *config.scheduler : Scheduler::system())
    , m_secretStore(realUnless<LibsecretStore>(config.secretStore))
    , m_urlOpener(realUnless<DesktopUrlOpener>(config.urlOpener))
    , m_microphonePermission(realUnless<PulseMicrophonePermission>(config.microphonePermission))
    , m_cuePlayer(realUnless<PulseCuePlayer>(config.cuePlayer))
    , m_notificationServer(realUnless<DBusNotificationServer>(config.notificationServer))
    , m_calendarStore(realUnless<EdsCalendarStore>(config.calendarStore))
    , m_desktopSettings(realUnless<GnomeSettingsOpener>(config.desktopSettings))
    , m_settings(config.settingsFile)
    , m_store(std::move(store))
    , m_searchIndex(std::make_unique<MeetingSearchIndex>(*m_store))
    , m_archiver(config.archiveRoot)
    , m_archiveQueue(*m_store, m_archiver, m_scheduler)
    , m_archiveRemovals(m_archiver, *m_store)
    , m_saveHealth(*m_store, m_scheduler)
    , m_quit(*m_store, m_saveHealth)
    , m_keychain(*m_secretStore.service)
    , m_cloud(m_settings, m_network, config.endpoints.cloudBase)
    , m_oauth(m_network, *m_urlOpener.service, m_clock, config.endpoints.providerWeb)
    , m_account(m_keychain, m_settings, m_cloud, m_oauth, *m_urlOpener.service, m_network, m_clock, config.endpoints)
    , m_updateChecker(m_network, config.updateSite, UpdateChecker::applicationVersion(),
          [this](const QUrl& url) { return m_urlOpener.service->open(url); })
    , m_notifications(*m_notificationServer.service, m_clock, nullptr, config.notificationRecheckInterval)
    , m_mixer(m_microphone, m_systemAudio)
    , m_sounds(*m_cuePlayer.service)
    , m_summarizer([this] { return m_account.modelCredentials(); })
    , m_session(m_settings, TranscriptionSession::ModelAccess::of(m_account), m_mixer, *m_microphonePermission.service,
          m_sounds, m_summarizer, m_clock)
    , m_appState(m_session)
    , m_recordings({ *m_store, m_session, m_appState, *m_urlOpener.service })
    , m_googleOAuth(m_network, *m_urlOpener.service, m_clock, config.google)
    , m_googleAPI(m_network, config.google.calendarBase)
    , m_google(m_googleOAuth, m_googleAPI, m_keychain, m_settings, m_clock)
    , m_calendar(*m_calendarStore.service, m_settings, m_clock, &m_google)
    , m_eventLinks([&]() -> Chosen<EventLinks> {
        if (config.eventLinks)
            return { nullptr, config.eventLinks };
        auto links = std::make_unique<CalendarEventLinks>(m_calendar);
        EventLinks* service = links.get();
        return { std::move(links), service };
    }())
    , m_reminders(m_notifications, m_calendar, m_settings, m_clock)
    , m_autoStart(m_recordings.autoStartRecorder(), m_notifications, m_clock, config.autoStartCheckInterval)
    , m_calendarHooks([&]() -> Chosen<CalendarHooks> {
        if (config.calendarHooks)
            return { nullptr, config.calendarHooks };
        auto hooks = std::make_unique<CalendarServiceHooks>(m_calendar, m_reminders, m_autoStart, *m_store);
        CalendarHooks* service = hooks.get();
        return { std::move(hooks), service };
    }())
    , m_housekeeping({ *m_store, m_appState, m_archiveQueue, *m_calendarHooks.service })
{
    // A reminder's "Open & record" reaches the recordings with the event's meeting; the window
    // follows them.
    QObject::connect(m_calendarHooks.service, &CalendarHooks::openAndRecordRequested, &m_recordings,
        &RecordingController::openAndRecord);
    // Meetings linked to an event take its new title at each publication of the week.
    QObject::connect(m_calendarHooks.service, &CalendarHooks::eventsPublished, m_calendarHooks.service,
        [this] { m_calendarHooks.service->syncTitles(*m_store); });
    m_router.setOAuthCallbackHandler([this](const QUrl& url) { m_oauth.handleCallback(url); });
    m_router.setOpenUrlHandler([this](const QUrl& url) { m_account.handleOpenURL(url); });
    // The summary at a recording's stop is sent with the session of that moment.
    m_account.setRecordingCheck([this] { return m_session.isRecording() || m_session.drainingRecordings() > 0; });
    for (const QString& scheme : redirectSchemes(config))
        m_router.addRedirectScheme(scheme, [this](const QUrl& url) { m_googleOAuth.handleRedirect(url); });
    QObject::connect(&m_google, &GoogleCalendarService::eventsOutdated, &m_calendar, &CalendarService::refreshGoogle);
    m_microphone.setCaptureEnabled(config.capture);
    m_systemAudio.setCaptureEnabled(config.capture);
    m_store->commitChangesEachTurn();
}

AppServices::~AppServices()
{
    // Nothing typed is lost when the application closes between an edit and its commit. A
    // quit asked for has saved already, or the person chose to quit without (AppQuit); a
    // failure here is logged by the store.
    d->m_store->save();
}

void AppServices::saveBeforeEnd(bool untilArchived)
{
    d->m_store->save();
    d->m_archiveQueue.flush();
    if (untilArchived)
        d->m_archiver.idle().waitForFinished();
}

QStringList AppServices::redirectSchemes(const Config& config)
{
    // None without a client id: no sign-in could ever wait for a redirect.
    if (const std::optional<QString> google = config.google.redirectScheme())
        return { *google };
    return {};
}

void AppServices::launch()
{
    d->m_archiveRemovals.run();
    d->m_archiveQueue.writeOwed();
    QSet<QUuid> storedIds;
    const QList<Meeting*> meetings = d->m_store->fetchMeetings();
    for (const Meeting* meeting : meetings)
        storedIds.insert(meeting->id());
    if (!storedIds.isEmpty())
        d->m_archiver.prune(storedIds);
    d->m_calendar.start();
}

void AppServices::runWindowTasks()
{
    d->m_account.refresh();
    // Where the import reads the folder the archive writes, the meetings keep their files.
    const auto same = [](const QString& a, const QString& b) {
        return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
    };
    MeetingArchiver* folderArchive
        = same(d->m_config.importFolder, d->m_archiver.archiveRoot()) ? &d->m_archiver : nullptr;
    MeetingImporter::runIfNeeded(*d->m_store, d->m_clock, d->m_config.importFolder, folderArchive);
    d->m_updateChecker.check();
}

ModelContextBox AppServices::chatSaving()
{
    return { [store = QPointer<ModelContext>(d->m_store.get())] {
        if (store)
            store->save();
    } };
}

QString AppServices::archiveRoot() const
{
    return d->m_archiver.archiveRoot();
}

std::unique_ptr<MeetingChatService> AppServices::makeChatService(QObject* parent)
{
    return std::make_unique<MeetingChatService>(
        [this] { return d->m_account.modelCredentials(); }, d->m_settings, d->m_scheduler, parent);
}

WindowServices AppServices::windowServices()
{
    return { store(), saveHealth(), archiveQueue(), recordings(), recordingActions(), appState(), notices(),
        calendarHooks(), account(), microphonePermission(), desktopSettings(), homeServices(), settingsServices(),
        clock(), updateChecker(), searchIndex(), scheduler(), WorkspaceServices::of(*this) };
}

HomeServices AppServices::homeServices()
{
    GoogleCalendarService* google = &d->m_google;
    return { store(), clock(), calendar(), urlOpener(), &MeetingFactory::noteForEvent, [google] { google->connect(); },
        d->m_googleOAuth.config().clientID };
}

SettingsServices AppServices::settingsServices()
{
    return { settings(), account(), microphonePermission(), desktopSettings(), reminders(), calendar(), google(),
        googleAPI(), d->m_googleOAuth.config().clientID };
}

OnboardingServices AppServices::onboardingServices()
{
    return { account(), settings(), microphonePermission(), systemAudio(), urlOpener(), archiveRoot(),
        desktopSettings() };
}

const Clock& AppServices::clock() const
{
    return d->m_clock;
}
Settings& AppServices::settings()
{
    return d->m_settings;
}
ModelContext& AppServices::store()
{
    return *d->m_store;
}
MeetingArchiver& AppServices::archiver()
{
    return d->m_archiver;
}
MeetingSearchIndex& AppServices::searchIndex()
{
    return *d->m_searchIndex;
}
ArchiveQueue& AppServices::archiveQueue()
{
    return d->m_archiveQueue;
}
SaveHealth& AppServices::saveHealth()
{
    return d->m_saveHealth;
}
AppQuit& AppServices::quit()
{
    return d->m_quit;
}
Scheduler& AppServices::scheduler()
{
    return d->m_scheduler;
}
EventLinks& AppServices::eventLinks()
{
    return *d->m_eventLinks.service;
}
SecretStore& AppServices::secretStore()
{
    return *d->m_secretStore.service;
}
Keychain& AppServices::keychain()
{
    return d->m_keychain;
}
QNetworkAccessManager& AppServices::network()
{
    return d->m_network;
}
UrlOpener& AppServices::urlOpener()
{
    return *d->m_urlOpener.service;
}
DesktopSettingsOpener& AppServices::desktopSettings()
{
    return *d->m_desktopSettings.service;
}
UrlRouter& AppServices::router()
{
    return d->m_router;
}
QuilletCloud& AppServices::cloud()
{
    return d->m_cloud;
}
TessraOAuth& AppServices::oauth()
{
    return d->m_oauth;
}
AccountService& AppServices::account()
{
    return d->m_account;
}
UpdateChecker& AppServices::updateChecker()
{
    return d->m_updateChecker;
}
NotificationCenter& AppServices::notifications()
{
    return d->m_notifications;
}
MicrophonePermission& AppServices::microphonePermission()
{
    return *d->m_microphonePermission.service;
}
MicRecorder& AppServices::microphone()
{
    return d->m_microphone;
}
SystemAudioRecorder& AppServices::systemAudio()
{
    return d->m_systemAudio;
}
DualStreamMixer& AppServices::mixer()
{
    return d->m_mixer;
}
SoundFeedback& AppServices::sounds()
{
    return d->m_sounds;
}
MeetingSummarizer& AppServices::summarizer()
{
    return d->m_summarizer;
}
TranscriptionSession& AppServices::session()
{
    return d->m_session;
}
GoogleOAuth& AppServices::googleOAuth()
{
    return d->m_googleOAuth;
}
const GoogleCalendarAPI& AppServices::googleAPI() const
{
    return d->m_googleAPI;
}
GoogleCalendarService& AppServices::google()
{
    return d->m_google;
}
CalendarService& AppServices::calendar()
{
    return d->m_calendar;
}
AppState& AppServices::appState()
{
    return d->m_appState;
}
AppNotices& AppServices::notices()
{
    return d->m_notices;
}
CalendarHooks& AppServices::calendarHooks()
{
    return *d->m_calendarHooks.service;
}
MeetingReminders& AppServices::reminders()
{
    return d->m_reminders;
}
RecordingController& AppServices::recordings()
{
    return d->m_recordings;
}

RecordingActions& AppServices::recordingActions()
{
    if (!d->m_recordingActions)
        d->m_recordingActions = std::make_unique<RecordingActions>(d->m_recordings);
    return *d->m_recordingActions;
}

LaunchHousekeeping& AppServices::housekeeping()
{
    return d->m_housekeeping;
}

AutoStartScheduler& AppServices::autoStart()
{
    return d->m_autoStart;
}
