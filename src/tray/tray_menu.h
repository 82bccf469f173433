#pragma once

#include "views/command_section.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class DaemonManager;
class PopoverHost;
class QAction;
class QMenu;
class SyncState;

// Whether Tornel starts when the user logs in: a desktop entry named after
// the application's desktop file in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart), which the
// desktop runs at login unless it says Hidden=true.
namespace StartAtLogin {

QString entryPath();
bool isEnabled();
// Writes the entry (atomically) or removes it; the reason when that failed.
std::optional<QString> setEnabled(bool enabled);
// What the entry runs: the installed program by name when PATH finds this
// very program, else its absolute path (a build tree), quoted for Exec.
QString execLine(const QString &programPath, const QString &pathVariable);

} // namespace StartAtLogin

// Fills the tray icon's context menu: "Open Tornel", the panel's commands
// for the current status, a separator, "Start at Login" and "Quit Tornel".
// Some tray hosts show an item only when it has a menu, and some never send
// a left click, so everything the panel offers is reachable from here too.
// The menu object stays the same; its entries follow the status.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    TrayMenu(QMenu &menu, SyncState &syncState, DaemonManager &daemonManager, PopoverHost &popover,
             QObject *parent = nullptr);

private:
    void scheduleUpdate();
    void update();
    void trigger(PanelCommand command);
    void showStartAtLogin();
    void switchStartAtLogin(bool enabled);

    QMenu &m_menu;
    SyncState &m_syncState;
    DaemonManager &m_daemonManager;
    PopoverHost &m_popover;
    QAction *m_startAtLogin = nullptr;
    QList<PanelCommand> m_shownCommands;
    bool m_built = false;
    bool m_updateQueued = false;
};
