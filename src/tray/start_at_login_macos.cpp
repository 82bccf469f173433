#include "tray/start_at_login.h"

#include "tray/autostart_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// A LaunchAgent of the user's, which launchd runs at each login.
namespace StartAtLogin {

namespace {

const QString label = QStringLiteral("org.tornel.Tornel");

} // namespace

QString entryPath()
{
    return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/") + label + QStringLiteral(".plist");
}

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

std::optional<QString> setEnabled(bool enabled)
{
    if (!enabled)
        return AutostartFiles::remove(entryPath());
    return AutostartFiles::write(entryPath(),
                                 AutostartFiles::launchAgent(label, QCoreApplication::applicationFilePath()));
}

} // namespace StartAtLogin
