#include "system/LaunchAtLogin.h"

#include "platform/AutostartEntry.h"
#include "platform/Log.h"

#include <QCoreApplication>

namespace LaunchAtLogin {

void set(bool enabled, const QString& entryPath, const QString& execPath)
{
    const QString path = entryPath.isEmpty() ? AutostartEntry::defaultPath() : entryPath;
    QString error;
    bool ok = false;
    if (enabled) {
        const QString program = execPath.isEmpty() ? QCoreApplication::applicationFilePath() : execPath;
        ok = AutostartEntry::install(path, program, &error);
    } else {
        ok = AutostartEntry::uninstall(path, &error);
    }
    if (!ok) {
        Log::line("[Quillet] Launch at login error: %@", error);
        return;
    }
    Log::line(enabled ? "[Quillet] Launch at login enabled" : "[Quillet] Launch at login disabled");
}

} // namespace LaunchAtLogin
