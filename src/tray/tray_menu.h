#pragma once

#include "views/command_section.h"

#include <QList>
#include <QObject>

class DaemonManager;
class PopoverHost;
class QAction;
class QMenu;
class SyncState;

// Fills the tray icon's context menu: "Open Tornel", the panel's commands
// for the current status, a separator, "Start at Login", "Show Log" (the
// daemon's) and "Quit Tornel".
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
    void enableShowLog();
    void showLog();

    QMenu &m_menu;
    SyncState &m_syncState;
    DaemonManager &m_daemonManager;
    PopoverHost &m_popover;
    QAction *m_startAtLogin = nullptr;
    QAction *m_showLog = nullptr;
    QList<PanelCommand> m_shownCommands;
    bool m_built = false;
    bool m_updateQueued = false;
};
