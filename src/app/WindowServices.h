#pragma once

#include "app/HomeServices.h"
#include "app/SettingsServices.h"
#include "app/WorkspaceServices.h"

class AccountService;
class AppNotices;
class Clock;
class MeetingSearchIndex;
class UpdateChecker;
class AppState;
class ArchiveHealth;
class ArchiveSync;
class CalendarHooks;
class DesktopSettingsOpener;
class MicrophonePermission;
class ModelContext;
class SaveHealth;
class TranscriptionSession;
class UrlOpener;

// What the main window and its content use, with the bundles of the pages it makes, made by
// the composition root (AppServices::windowServices).
struct WindowServices
{
    ModelContext& store;
    ArchiveSync& archive; // the back-fill of each show
    SaveHealth& saveHealth;
    ArchiveHealth& archiveHealth; // with the store's, the strip over the page
    TranscriptionSession& session;
    AppState& appState;
    AppNotices& notices;
    CalendarHooks& calendarHooks;
    UrlOpener& urlOpener; // call links
    AccountService& account; // the fix-it banner
    MicrophonePermission& microphonePermission;
    DesktopSettingsOpener& desktopSettings;
    HomeServices home;
    SettingsServices settings;
    // The sidebar's.
    const Clock& clock;
    UpdateChecker& updateChecker;
    MeetingSearchIndex& searchIndex;
    // Each meeting page's.
    WorkspaceServices workspace;
};
