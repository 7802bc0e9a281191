#pragma once

class AccountService;
class DesktopSettingsOpener;
class MeetingArchiver;
class MicrophonePermission;
class Settings;
class SystemAudioRecorder;
class UrlOpener;

// What the welcome window reads and changes, made by the composition root
// (AppServices::onboardingServices).
struct OnboardingServices
{
    AccountService& account;
    Settings& settings;
    MicrophonePermission& microphonePermission;
    SystemAudioRecorder& systemAudio; // the system-audio check
    UrlOpener& urlOpener;
    MeetingArchiver& archiver; // the notes folder it shows
    DesktopSettingsOpener& desktopSettings;
};
