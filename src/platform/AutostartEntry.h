#pragma once

#include <QString>

// The XDG autostart entry of the application: $XDG_CONFIG_HOME/autostart/<app id>.desktop
// (default ~/.config/autostart). Written whole (atomically) or removed.
namespace AutostartEntry {

QString defaultPath();

// Writes the entry starting execPath. False with a description in *error on failure.
bool install(const QString& path, const QString& execPath, QString* error);

// Removes the entry; an absent entry is not an error.
bool uninstall(const QString& path, QString* error);

bool isInstalled(const QString& path);

} // namespace AutostartEntry
