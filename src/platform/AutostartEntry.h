#pragma once

#include "format/Result.h"

#include <QString>

// The XDG autostart entry of the application: $XDG_CONFIG_HOME/autostart/<app id>.desktop
// (default ~/.config/autostart). Written whole (atomically) or removed.
namespace AutostartEntry {

QString defaultPath();

// Why the entry could not be written or removed: the path and the file system's words.
struct Error
{
    QString message;
};

// Writes the entry starting execPath.
Result<void, Error> install(const QString& path, const QString& execPath);

// Removes the entry; an absent entry is not an error.
Result<void, Error> uninstall(const QString& path);

} // namespace AutostartEntry
