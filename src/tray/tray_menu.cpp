#include "tray/tray_menu.h"

#include "tray/popover_host.h"
#include "state/sync_state.h"
#include "views/menu_bar_view.h"

#include <QMenu>
#include <QTimer>

TrayMenu::TrayMenu(QMenu &menu, SyncState &syncState, PopoverHost &popover, QObject *parent)
    : QObject(parent), m_menu(menu), m_syncState(syncState), m_popover(popover)
{
    connect(&m_syncState, &SyncState::statusChanged, this, &TrayMenu::scheduleUpdate);
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
    const QList<PanelCommand> commands = commandsForStatus(m_syncState.status());
    // Rebuilding an open menu under the pointer for nothing would flicker.
    if (m_built && commands == m_shownCommands)
        return;
    m_menu.clear();
    m_menu.addAction(QStringLiteral("Open Tornel"), this, [this] {
        // After the menu has closed, so the panel's popup is not caught in
        // the menu's own.
        QTimer::singleShot(0, &m_popover, &PopoverHost::open);
    });
    for (PanelCommand command : commands)
        m_menu.addAction(commandLook(command).title, this, [this, command] { trigger(command); });
    m_menu.addSeparator();
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

#include "moc_tray_menu.cpp"
