#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The files that make a desktop start a program at login, built on every
// system so that each is tested on every change, whichever system uses it.
namespace AutostartFiles {

// A freedesktop autostart entry that runs `exec` with the icon `iconName`.
QByteArray desktopEntry(const QString &exec, const QString &iconName);
// What a desktop entry runs: the installed program by name when PATH finds
// this very program, else its absolute path (a build tree), quoted and
// escaped as the Exec key's rules say. Nothing when the path holds a line
// feed or another control character, which no entry can carry safely.
std::optional<QString> execLine(const QString &programPath, const QString &pathVariable);
// Whether the desktop entry at `path` exists and is not switched off (Hidden=true).
bool desktopEntryEnabled(const QString &path);

// A LaunchAgent property list (macOS) that runs `programPath` at login as `label`.
QByteArray launchAgent(const QString &label, const QString &programPath);

// Writes `contents` to `path` at once or not at all, making its folder first;
// the reason when that failed. A link at `path` is replaced, never written through.
std::optional<QString> write(const QString &path, const QByteArray &contents);
// Removes the file at `path` if it is there; the reason when that failed.
std::optional<QString> remove(const QString &path);

} // namespace AutostartFiles
