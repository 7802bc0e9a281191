#include "app/AppServices.h"

#include "storage/QuilletStore.h"
#include "chat/MeetingChatService.h"
#include "library/MeetingSearchIndex.h"
#include "platform/Clock.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/EdsCalendarStore.h"
#include "platform/GnomeSettingsOpener.h"
#include "platform/LibsecretStore.h"
#include "platform/PulseCuePlayer.h"
#include "platform/PulseMicrophonePermission.h"
#include "platform/Scheduler.h"
#include "storage/Meeting.h"
#include "archive/MeetingImporter.h"

QString AppServices::Config::defaultStoreFile()
{
    return QuilletStore::storeFilePath();
}

QString AppServices::Config::defaultImportFolder()
{
    return MeetingImporter::archiveFolder();
}

template <typename Real, typename Service> AppServices::Chosen<Service> AppServices::realUnless(Service* standIn)
{
    if (standIn)
        return { nullptr, standIn };
    auto real = std::make_unique<Real>();
    Service* service = real.get();
    return { std::move(real), service };
}

std::unique_ptr<AppServices> AppServices::open(const Config& config, QString* error)
{
    std::unique_ptr<ModelContext> store = QuilletStore::open(config.storeFile, error);
    if (!store)
        return nullptr;
    return std::unique_ptr<AppServices>(new AppServices(config, std::move(store)));
}

AppServices::AppServices(const Config& config, std::unique_ptr<ModelContext> store)
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
    , m_archiveDebouncer(m_archiver, *m_store, m_scheduler)
    , m_archiveRemovals(m_archiver, *m_store)
    , m_saveHealth(*m_store, m_scheduler)
    , m_keychain(*m_secretStore.service)
    , m_cloud(m_settings, m_network, config.endpoints.cloudBase)
    , m_oauth(m_network, *m_urlOpener.service, m_clock, config.endpoints.providerWeb)
    , m_account(m_keychain, m_settings, m_cloud, m_oauth, *m_urlOpener.service, m_network, m_clock, config.endpoints)
    , m_updateChecker(m_network, config.updateSite, UpdateChecker::applicationVersion(),
          [this](const QUrl& url) { return m_urlOpener.service->open(url); })
    , m_notifications(*m_notificationServer.service, m_clock, nullptr, config.notificationRecheckInterval)
    , m_mixer(m_microphone, m_systemAudio)
    , m_sounds(*m_cuePlayer.service)
    , m_summarizer([this] { return m_account.modelCredentials(); }, m_archiver)
    , m_session(m_settings, TranscriptionSession::ModelAccess::of(m_account), m_mixer, *m_microphonePermission.service,
          m_sounds, m_archiver, m_summarizer, m_clock)
    , m_googleOAuth(m_network, *m_urlOpener.service, m_clock, config.google)
    , m_googleAPI(m_network, config.google.calendarBase)
    , m_google(m_googleOAuth, m_googleAPI, m_keychain, m_settings, m_clock)
    , m_calendar(*m_calendarStore.service, m_settings, m_clock, *m_desktopSettings.service, &m_google)
    , m_eventLinks([&]() -> Chosen<EventLinks> {
        if (config.eventLinks)
            return { nullptr, config.eventLinks };
        auto links = std::make_unique<CalendarEventLinks>(m_calendar);
        EventLinks* service = links.get();
        return { std::move(links), service };
    }())
    , m_reminders(m_notifications, m_calendar, m_settings, m_clock)
    , m_autoStart(m_session, m_notifications, m_clock, config.autoStartCheckInterval)
    , m_calendarHooks([&]() -> Chosen<CalendarHooks> {
        if (config.calendarHooks)
            return { nullptr, config.calendarHooks };
        auto hooks = std::make_unique<CalendarServiceHooks>(m_calendar, m_reminders, m_autoStart, m_archiver);
        CalendarHooks* service = hooks.get();
        return { std::move(hooks), service };
    }())
    , m_appState(m_session, m_archiver)
{
    m_router.setOAuthCallbackHandler([this](const QUrl& url) { m_oauth.handleCallback(url); });
    m_router.setOpenUrlHandler([this](const QUrl& url) { m_account.handleOpenURL(url); });
    for (const QString& scheme : redirectSchemes(config))
        m_router.addRedirectScheme(scheme, [this](const QUrl& url) { m_googleOAuth.handleRedirect(url); });
    QObject::connect(&m_google, &GoogleCalendarService::eventsOutdated, &m_calendar, &CalendarService::refreshGoogle);
    m_microphone.setCaptureEnabled(config.capture);
    m_systemAudio.setCaptureEnabled(config.capture);
}

AppServices::~AppServices() = default;

QStringList AppServices::redirectSchemes(const Config& config)
{
    // None without a client id: no sign-in could ever wait for a redirect.
    if (const std::optional<QString> google = config.google.redirectScheme())
        return { *google };
    return {};
}

void AppServices::launch()
{
    m_archiveRemovals.run();
    QSet<QUuid> storedIds;
    const QList<Meeting*> meetings = m_store->fetchMeetings();
    for (const Meeting* meeting : meetings)
        storedIds.insert(meeting->id());
    if (!storedIds.isEmpty())
        m_archiver.prune(storedIds);
    m_calendar.start();
}

void AppServices::runWindowTasks()
{
    m_account.refresh();
    MeetingImporter::runIfNeeded(*m_store, m_clock, m_config.importFolder);
    m_updateChecker.check();
}

std::unique_ptr<MeetingChatService> AppServices::makeChatService(QObject* parent)
{
    return std::make_unique<MeetingChatService>([this] { return m_account.modelCredentials(); }, m_settings, parent);
}
