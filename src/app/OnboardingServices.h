#pragma once

#include <QString>

class AccountService;
class DesktopSettingsOpener;
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
    QString archiveRoot; // the notes folder it shows
    DesktopSettingsOpener& desktopSettings;
};
