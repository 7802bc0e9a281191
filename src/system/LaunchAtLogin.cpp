#include "system/LaunchAtLogin.h"

#include "platform/AutostartEntry.h"
#include "platform/Log.h"

#include <QCoreApplication>

namespace LaunchAtLogin {

void set(bool enabled, const QString& entryPath, const QString& execPath)
{
    const QString path = entryPath.isEmpty() ? AutostartEntry::defaultPath() : entryPath;
    Result<void, AutostartEntry::Error> done;
    if (enabled) {
        const QString program = execPath.isEmpty() ? QCoreApplication::applicationFilePath() : execPath;
        done = AutostartEntry::install(path, program);
    } else {
        done = AutostartEntry::uninstall(path);
    }
    if (!done.ok()) {
        Log::line("[Quillet] Launch at login error: %@", done.error().message);
        return;
    }
    Log::line(enabled ? "[Quillet] Launch at login enabled" : "[Quillet] Launch at login disabled");
}

} // namespace LaunchAtLogin
