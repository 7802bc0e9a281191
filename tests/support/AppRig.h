#pragma once

// The application's services exactly as main() makes them, on a folder of their own (store,
// settings, archive) and local servers, with stand-ins for the desktop: an in-memory secret
// store (or the test keyring), a fake clock, a microphone permission the test sets, a browser
// that notes what it was asked to open (and follows the page's redirect back into the router
// when a test asks), silent cues, in-memory notifications, an empty in-memory calendar store and
// a desktop-settings opener that notes the panes. Google is a local server too, with a client
// id of the test's own (none: Google is not set up).
//
//   AppRig rig;                                  // no sound, no request until asked
//   MainWindow window(rig->windowServices());    // views take the services they use
//   rig.cloud.on("GET", "/v1/me", ...);          // the cloud account server
//   rig->account().setByoKey("tq-...");          // model calls then go to rig.provider
//
// Capture is off unless asked for: a recording start fails at once, without the sound
// server. Tests that record pass { .capture = true } and are marked SOUND in CMake.
// A test of the calendar's call points passes its own CalendarHooks as { .calendarHooks = &hooks }.

// Every service the rig makes, so that a test reaches any of them through it.
#include "account/AccountService.h"
#include "account/QuilletCloud.h"
#include "account/TessraOAuth.h"
#include "app/AppConfig.h"
#include "app/AppNotices.h"
#include "app/AppServices.h"
#include "app/AppState.h"
#include "app/CalendarEventLinks.h"
#include "app/CalendarHooks.h"
#include "app/EventLinks.h"
#include "app/HomeServices.h"
#include "app/OnboardingServices.h"
#include "app/SettingsServices.h"
#include "app/WindowServices.h"
#include "archive/ArchiveQueue.h"
#include "archive/MeetingArchiver.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"
#include "calendar/AutoStartScheduler.h"
#include "calendar/CalendarService.h"
#include "calendar/GoogleCalendarAPI.h"
#include "calendar/GoogleCalendarService.h"
#include "calendar/GoogleOAuth.h"
#include "calendar/MeetingReminders.h"
#include "platform/DesktopSettingsOpener.h"
#include "platform/MicrophonePermission.h"
#include "platform/NotificationCenter.h"
#include "platform/SecretStore.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "platform/UrlRouter.h"
#include "recording/TranscriptionSession.h"
#include "storage/ModelContext.h"
#include "storage/SaveHealth.h"
#include "summary/MeetingSummarizer.h"
#include "support/BrowserStandIn.h"
#include "support/FakeCalendarStore.h"
#include "support/FakeClock.h"
#include "support/FakeHttpServer.h"
#include "support/FakeMicrophonePermission.h"
#include "support/FakeScheduler.h"
#include "support/InMemoryNotificationServer.h"
#include "support/InMemorySecretStore.h"
#include "support/IsolatedKeyring.h"
#include "support/RecordingCuePlayer.h"
#include "support/RecordingSettingsOpener.h"
#include "system/Keychain.h"
#include "system/SoundFeedback.h"
#include "system/UpdateChecker.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class AppRig final
{
public:
    struct Options
    {
        bool capture = false;
        bool realKeyring = false;
        // Delayed calls (the archive's debounce, the copy buttons' resets) wait for
        // scheduler.advance() instead of Qt's timers.
        bool steppedDelays = false;
        // The calendar's link offers; none: those of the rig's calendar service. Owned by the test.
        EventLinks* eventLinks = nullptr;
        QString googleClientId = kGoogleClientId;
        QString googleClientSecret = QString();
        // The calendar the shell calls; null: the hooks over the rig's calendar service.
        CalendarHooks* calendarHooks = nullptr;
        // The desktop's own calendar store (EDS) and notification service, on the test's
        // private bus, instead of the in-memory ones; held notifications then look at the
        // fake clock this often.
        bool desktopCalendar = false;
        bool desktopNotifications = false;
        std::chrono::milliseconds notificationRecheck = NotificationCenter::kDefaultRecheckInterval;
        // The folder of the store, settings and archive; empty: a temporary one, removed with
        // the rig (a child process that is killed keeps a folder its parent reads).
        QString folder = QString();
        // The notes folder (and the folder the import reads); empty: one in the rig's folder.
        QString archiveRoot = QString();
    };

    static inline const QString kGoogleClientId = QStringLiteral("1234-quillettest.apps.googleusercontent.com");

    AppRig()
        : AppRig(Options {})
    { }

    explicit AppRig(Options options)
        : m_options(options)
    {
        browser.follow = false;
        start();
    }

    AppRig(const AppRig&) = delete;
    AppRig& operator=(const AppRig&) = delete;

    AppServices& operator*() { return *m_services; }
    AppServices* operator->() { return m_services.get(); }

    // Destroys the services (the store closes, the archive is written) and makes them again on
    // the same folders, as a second launch would: shows what was really kept.
    AppServices& restart()
    {
        m_services.reset();
        start();
        return *m_services;
    }

    QString path(const QString& name) const
    {
        return m_options.folder.isEmpty() ? m_dir.filePath(name) : QDir(m_options.folder).filePath(name);
    }
    QString archiveRoot() const
    {
        return m_options.archiveRoot.isEmpty() ? path(QStringLiteral("QuilletNotes")) : m_options.archiveRoot;
    }

    FakeHttpServer cloud; // the cloud account server
    FakeHttpServer provider; // the provider's API and web site
    FakeHttpServer site; // the product's site with the update feed
    FakeHttpServer google; // Google's sign-in, token, user-information and Calendar API addresses
    FakeClock clock;
    FakeScheduler scheduler;
    InMemorySecretStore secrets;
    FakeMicrophonePermission microphonePermission { MicrophonePermission::Status::Authorized };
    BrowserStandIn browser { [this](const QUrl& url) { m_services->router().route(url); } };
    RecordingCuePlayer cues;
    InMemoryNotificationServer notifications;
    FakeCalendarStore calendars;
    RecordingSettingsOpener desktopSettings;

private:
    void start()
    {
        if (m_options.realKeyring && !m_keyring)
            m_keyring = std::make_unique<IsolatedKeyring>();
        AppServices::Config config;
        config.settingsFile = path(QStringLiteral("settings.ini"));
        config.storeFile = path(QStringLiteral("Quillet.store"));
        config.archiveRoot = archiveRoot();
        config.importFolder = archiveRoot();
        config.endpoints = { cloud.url(), provider.url(), provider.url() };
        config.updateSite = site.url();
        config.google = { m_options.googleClientId, m_options.googleClientSecret,
            google.url(QStringLiteral("/o/oauth2/v2/auth")), google.url(QStringLiteral("/token")),
            google.url(QStringLiteral("/v1/userinfo")), google.url(QStringLiteral("/calendar/v3/")) };
        config.clock = &clock;
        config.secretStore = m_keyring ? static_cast<SecretStore*>(m_keyring.get()) : &secrets;
        config.microphonePermission = &microphonePermission;
        config.urlOpener = &browser;
        config.cuePlayer = &cues;
        config.notificationServer = m_options.desktopNotifications ? nullptr : &notifications;
        config.calendarStore = m_options.desktopCalendar ? nullptr : &calendars;
        config.notificationRecheckInterval = m_options.notificationRecheck;
        config.desktopSettings = &desktopSettings;
        config.capture = m_options.capture;
        config.calendarHooks = m_options.calendarHooks;
        config.scheduler = m_options.steppedDelays ? &scheduler : nullptr;
        config.eventLinks = m_options.eventLinks;
        Result<std::unique_ptr<AppServices>, StoreError> opened = AppServices::open(config);
        if (!opened.ok())
            qFatal("AppRig could not open its store: %s", qPrintable(opened.error().message));
        m_services = std::move(opened).value();
    }

    Options m_options;
    QTemporaryDir m_dir;
    std::unique_ptr<IsolatedKeyring> m_keyring;
    std::unique_ptr<AppServices> m_services;
};
