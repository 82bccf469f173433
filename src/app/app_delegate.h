#pragma once

#include "daemon/daemon_manager.h"
#include "notify/shown_notifications.h"
#include "state/sync_state.h"
#include "tray/popover_host.h"
#include "tray/tray_menu.h"
#include "tray/tray_status_item.h"

#include <QMenu>
#include <QObject>

#include <functional>
#include <memory>

// Owns the companion's long-lived objects and runs its launch and shutdown in
// a fixed order: the daemon is started at launch, polling begins once it is
// ready, and at the end polling stops before the daemon is stopped.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Makes the status item at launch; tests pass a fake.
    using StatusItemFactory = std::function<std::unique_ptr<StatusItem>()>;

    explicit AppDelegate(StatusItemFactory makeStatusItem, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Once the event loop runs.
    void applicationDidFinishLaunching();
    // As the event loop ends, however the program was asked to end.
    void applicationWillTerminate();

    SyncState &syncState() { return m_syncState; }
    // Present from the end of the launch on.
    PopoverHost *popover() const { return m_popover.get(); }

private:
    void createStatusItem();
    void buildPopover();
    void followState();
    void installNotifications();
    void followTrayPresence();
    void startDaemon();
    void updateMenuBarIcon(SyncStatus state);

    StatusItemFactory m_makeStatusItem;
    std::unique_ptr<StatusItem> m_statusItem;
    SyncState m_syncState;
    DaemonManager m_daemonManager;
    ShownNotifications m_notifications;
    // Declared after the model: the panel refers to it and goes first.
    std::unique_ptr<PopoverHost> m_popover;
    QMenu m_trayMenuEntries;
    std::unique_ptr<TrayMenu> m_trayMenu;
};
