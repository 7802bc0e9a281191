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
class CalendarHooks;
class DesktopSettingsOpener;
class MicrophonePermission;
class ModelContext;
class RecordingController;
class SaveHealth;
class TranscriptionSession;

// What the main window and its content use, with the bundles of the pages it makes, made by
// the composition root (AppServices::windowServices).
struct WindowServices
{
    ModelContext& store;
    SaveHealth& saveHealth;
    ArchiveHealth& archiveHealth; // with the store's, the strip over the page
    TranscriptionSession& session; // what the recording bar shows
    RecordingController& recordings; // what the window asks of them
    AppState& appState;
    AppNotices& notices;
    CalendarHooks& calendarHooks;
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
