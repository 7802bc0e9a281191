#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// One user setting: its name in the settings file, the type it is read as and the value it
// has until the user changes it. Every reader and writer goes through one of the keys below,
// so no two places can disagree about a type or a default.
template <typename T> struct SettingsKey
{
    const char* name;
    T defaultValue;

    QString key() const { return QString::fromLatin1(name); }
    bool is(const QString& changedKey) const { return changedKey == QLatin1String(name); }
};

// Calendar identifier -> shown or hidden.
using CalendarVisibilityMap = QMap<QString, bool>;

namespace SettingsKeys {

// Recording and transcription.
inline const SettingsKey<QString> transcriptionLanguage { "transcriptionLanguage", QStringLiteral("auto") };
inline const SettingsKey<bool> liveDraftEnabled { "liveDraftEnabled", false };
inline const SettingsKey<bool> echoSuppressionEnabled { "echoSuppressionEnabled", true };

// Platform services.
inline const SettingsKey<bool> soundEnabled { "soundEnabled", true };
inline const SettingsKey<QStringList> customDictionary { "customDictionary", {} };
inline const SettingsKey<bool> launchAtLogin { "launchAtLogin", false };

// Account. The cloud base override is read only when it was written; the legacy key is where
// older versions kept the user's own provider key in plain settings.
inline const SettingsKey<QString> quilletCloudBase { "quilletCloudBase", {} };
inline const SettingsKey<QString> legacyTessraKey { "tessraApiKey", {} };
// The last sign-in e-mail the user asked for: when (milliseconds since the epoch, UTC) and the
// address, so that its link is known for one, also after a restart.
inline const SettingsKey<qint64> signInRequestedAt { "signInRequestedAt", 0 };
inline const SettingsKey<QString> signInRequestedEmail { "signInRequestedEmail", {} };

// Chat.
inline const SettingsKey<QString> chatModel { "chatModel", QStringLiteral("fast") };

// Calendar and reminders.
inline const SettingsKey<CalendarVisibilityMap> calendarVisibility { "calendarVisibility", {} };
inline const SettingsKey<QStringList> alwaysRecordCalendars { "alwaysRecordCalendars", {} };
inline const SettingsKey<bool> meetingRemindersEnabled { "meetingRemindersEnabled", true };
// The connected Google accounts: a JSON array of {"sub", "email", "selectedCalendarIds"}.
inline const SettingsKey<QString> googleAccounts { "googleAccounts", {} };

// Application shell.
inline const SettingsKey<QString> appTheme { "appTheme", QStringLiteral("system") };
inline const SettingsKey<bool> onboardingCompleted { "onboardingCompleted", false };
inline const SettingsKey<double> transcriptPaneHeight { "transcriptPaneHeight", 340.0 };

} // namespace SettingsKeys
