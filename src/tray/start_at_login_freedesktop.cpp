#include "tray/start_at_login.h"

#include "tray/autostart_files.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStandardPaths>

// A desktop entry named after the application's desktop file in the user's
// autostart folder ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart),
// which the desktop runs at login unless it says Hidden=true.
namespace StartAtLogin {

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
        + QGuiApplication::desktopFileName() + QStringLiteral(".desktop");
}

bool isEnabled()
{
    return AutostartFiles::desktopEntryEnabled(entryPath());
}

std::optional<QString> setEnabled(bool enabled)
{
    if (!enabled)
        return AutostartFiles::remove(entryPath());
    const QString program = QCoreApplication::applicationFilePath();
    const std::optional<QString> exec = AutostartFiles::execLine(program, qEnvironmentVariable("PATH"));
    if (!exec) {
        return QCoreApplication::translate("StartAtLogin",
                                           "The folder Tornel runs from has a line break or another "
                                           "control character in its name, which an autostart entry "
                                           "cannot carry safely");
    }
    return AutostartFiles::write(entryPath(), AutostartFiles::desktopEntry(*exec, QGuiApplication::desktopFileName()));
}

} // namespace StartAtLogin
