#include "tray/tray_menu.h"

#include "daemon/daemon_log.h"
#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "tray/start_at_login.h"
#include "tray/tray_availability.h"
#include "state/sync_state.h"
#include "views/menu_bar_view.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QUrl>
#include <QTimer>

TrayMenu::TrayMenu(QMenu &menu, SyncState &syncState, DaemonManager &daemonManager, PopoverHost &popover,
                   QObject *parent)
    : QObject(parent), m_menu(menu), m_syncState(syncState), m_daemonManager(daemonManager), m_popover(popover)
{
    connect(&m_syncState, &SyncState::statusChanged, this, &TrayMenu::scheduleUpdate);
    connect(&m_daemonManager, &DaemonManager::needsRestartChanged, this, &TrayMenu::scheduleUpdate);
    // The entry may have changed outside Tornel since the menu was last open.
    connect(&m_menu, &QMenu::aboutToShow, this, &TrayMenu::showStartAtLogin);
    connect(&m_menu, &QMenu::aboutToShow, this, &TrayMenu::enableShowLog);
    update();
}

void TrayMenu::scheduleUpdate()
{
    if (m_updateQueued)
        return;
    m_updateQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_updateQueued = false;
            update();
        },
        Qt::QueuedConnection);
}

void TrayMenu::update()
{
    const QList<PanelCommand> commands = commandsForStatus(m_syncState.status(), m_daemonManager.needsRestart());
    // Rebuilding an open menu under the pointer for nothing would flicker.
    if (m_built && commands == m_shownCommands)
        return;
    m_menu.clear();
    m_menu.addAction(tr("Open Tornel"), this, [this] {
        // After the menu has closed, so the panel's popup is not caught in
        // the menu's own.
        QTimer::singleShot(0, &m_popover, &PopoverHost::open);
    });
    for (PanelCommand command : commands)
        m_menu.addAction(commandLook(command).title, this, [this, command] { trigger(command); });
    m_menu.addSeparator();
    m_startAtLogin = m_menu.addAction(tr("Start at Login"));
    m_startAtLogin->setCheckable(true);
    connect(m_startAtLogin, &QAction::triggered, this, &TrayMenu::switchStartAtLogin);
    showStartAtLogin();
    m_showLog = m_menu.addAction(tr("Show Log"), this, &TrayMenu::showLog);
    enableShowLog();
    m_menu.addAction(commandLook(PanelCommand::quit).title, this, [this] { trigger(PanelCommand::quit); });
    m_shownCommands = commands;
    m_built = true;
}

void TrayMenu::trigger(PanelCommand command)
{
    m_popover.panel().perform(command);
    // The login form lives in the panel.
    if (command == PanelCommand::logIn)
        QTimer::singleShot(0, &m_popover, &PopoverHost::open);
}

void TrayMenu::showStartAtLogin()
{
    m_startAtLogin->setChecked(StartAtLogin::isEnabled());
}

void TrayMenu::switchStartAtLogin(bool enabled)
{
    const std::optional<QString> failure = StartAtLogin::setEnabled(enabled);
    m_startAtLogin->setToolTip(failure.value_or(QString()));
    m_menu.setToolTipsVisible(failure.has_value());
    if (failure)
        qCWarning(lcTray, "%s", qPrintable(*failure));
    showStartAtLogin();
}

void TrayMenu::enableShowLog()
{
    // Nothing to show before the daemon's first line.
    m_showLog->setEnabled(QFileInfo::exists(DaemonLog::defaultPath()));
}

void TrayMenu::showLog()
{
    const QString path = DaemonLog::defaultPath();
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return;
    // The place at least, for opening it by other means.
    m_showLog->setToolTip(tr("No program opened %1").arg(path));
    m_menu.setToolTipsVisible(true);
    qCWarning(lcTray, "no program opened %s", qPrintable(path));
}

#include "moc_tray_menu.cpp"
