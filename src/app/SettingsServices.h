#pragma once

#include <QString>

class AccountService;
class CalendarService;
class DesktopSettingsOpener;
class GoogleCalendarAPI;
class GoogleCalendarService;
class MeetingReminders;
class MicrophonePermission;
class Settings;

// What the settings page and its sections read and change, made by the composition root
// (AppServices::settingsServices).
struct SettingsServices
{
    Settings& settings;
    AccountService& account;
    MicrophonePermission& microphonePermission;
    DesktopSettingsOpener& desktopSettings;
    MeetingReminders& reminders;
    CalendarService& calendar;
    GoogleCalendarService& google;
    const GoogleCalendarAPI& googleAPI;
    // The build's Google OAuth client id; empty when Google sign-in is not configured.
    QString googleClientId;
};
