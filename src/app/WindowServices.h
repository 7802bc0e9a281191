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
class ArchiveQueue;
class CalendarHooks;
class DesktopSettingsOpener;
class MicrophonePermission;
class ModelContext;
class RecordingActions;
class RecordingController;
class SaveHealth;
class Scheduler;

// What the main window and its content use, with the bundles of the pages it makes, made by
// the composition root (AppServices::windowServices).
struct WindowServices
{
    ModelContext& store;
    SaveHealth& saveHealth;
    const ArchiveQueue& archive; // its problem, with the store's, is the strip over the page
    RecordingController& recordings; // what the recording bar and the window show and ask
    RecordingActions& recordingActions; // the toolbar's and the recording bar's commands
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
    Scheduler& scheduler;
    // Each meeting page's.
    WorkspaceServices workspace;
};
