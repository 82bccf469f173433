#pragma once

#include <QString>

#include <optional>

// Whether Tornel starts when the user logs in, in the way of the desktop it
// runs on (chosen by CMake): a desktop entry in the user's autostart folder
// on freedesktop systems (start_at_login_freedesktop.cpp), a LaunchAgent
// property list on macOS (start_at_login_macos.cpp). The files themselves
// are written by autostart_files.h.
namespace StartAtLogin {

// The file whose presence means "start at login".
QString entryPath();
bool isEnabled();
// Writes the file (atomically) or removes it; the reason when that failed.
std::optional<QString> setEnabled(bool enabled);

} // namespace StartAtLogin
