#pragma once

#include <QString>

// Starts the application when the user logs in, through the desktop's autostart folder.
namespace LaunchAtLogin {

// Writes or removes the autostart entry; logs the outcome, never fails to the caller.
// entryPath: where the entry lives (default: the XDG autostart folder); execPath: what it
// starts (default: this executable).
void set(bool enabled, const QString& entryPath = {}, const QString& execPath = {});

} // namespace LaunchAtLogin
