#pragma once

#include "account/AccountEndpoints.h"
#include "archive/MeetingArchiver.h"
#include "calendar/AutoStartScheduler.h"
#include "calendar/GoogleOAuth.h"
#include "platform/NotificationCenter.h"
#include "platform/Settings.h"
#include "system/UpdateChecker.h"

#include <QString>
#include <QUrl>
#include <chrono>

class CalendarHooks;
class CalendarStore;
class Clock;
class CuePlayer;
class DesktopSettingsOpener;
class EventLinks;
class MicrophonePermission;
class NotificationServer;
class Scheduler;
class SecretStore;
class UrlOpener;

// Where the application's services keep things, which servers they ask, and which desktop
// services are stand-ins (AppServices::Config). Every field has the application's own value by
// default.
struct AppConfig
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
