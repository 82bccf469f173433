#include "tray/tray_menu.h"

#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "tray/tray_availability.h"
#include "state/sync_state.h"
#include "views/menu_bar_view.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

namespace StartAtLogin {

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
        + QGuiApplication::desktopFileName() + QStringLiteral(".desktop");
}

bool isEnabled()
{
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // The one key that switches an autostart entry off without removing it.
    while (!entry.atEnd()) {
        if (entry.readLine().trimmed() == "Hidden=true")
            return false;
    }
    return true;
}

QString execLine(const QString &programPath, const QString &pathVariable)
{
    const QString name = QFileInfo(programPath).fileName();
    const QString found = QStandardPaths::findExecutable(name, pathVariable.split(u':', Qt::SkipEmptyParts));
    if (!found.isEmpty() && QFileInfo(found).canonicalFilePath() == QFileInfo(programPath).canonicalFilePath())
        return name;
    // The desktop entry rules: quote an argument with reserved characters,
    // and escape the four that stay special inside the quotes.
    QString quoted = programPath;
    for (const QChar special : {u'\\', u'"', u'`', u'$'})
        quoted.replace(special, QStringLiteral("\\") + special);
    return u'"' + quoted + u'"';
}

std::optional<QString> setEnabled(bool enabled)
{
    const QString path = entryPath();
    if (!enabled) {
        QFile entry(path);
        if (entry.exists() && !entry.remove())
            return QCoreApplication::translate("StartAtLogin", "Cannot remove %1: %2").arg(path, entry.errorString());
        return std::nullopt;
    }
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QCoreApplication::translate("StartAtLogin", "Cannot create the folder %1").arg(QFileInfo(path).path());
    const QString exec = execLine(QCoreApplication::applicationFilePath(), qEnvironmentVariable("PATH"));
    QSaveFile entry(path);
    if (entry.open(QIODevice::WriteOnly | QIODevice::Text)) {
        entry.write(QStringLiteral("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Version=1.4\n"
                                   "Name=Tornel\n"
                                   "Comment=Show the state of file synchronisation in the system tray\n"
                                   "Exec=%1\n"
                                   "Icon=%2\n"
                                   "Terminal=false\n"
                                   "StartupNotify=false\n"
                                   "X-GNOME-Autostart-enabled=true\n")
                        .arg(exec, QGuiApplication::desktopFileName())
                        .toUtf8());
        if (entry.commit())
            return std::nullopt;
    }
    return QCoreApplication::translate("StartAtLogin", "Cannot write %1: %2").arg(path, entry.errorString());
}

} // namespace StartAtLogin

TrayMenu::TrayMenu(QMenu &menu, SyncState &syncState, DaemonManager &daemonManager, PopoverHost &popover,
                   QObject *parent)
    : QObject(parent), m_menu(menu), m_syncState(syncState), m_daemonManager(daemonManager), m_popover(popover)
{
    connect(&m_syncState, &SyncState::statusChanged, this, &TrayMenu::scheduleUpdate);
    connect(&m_daemonManager, &DaemonManager::needsRestartChanged, this, &TrayMenu::scheduleUpdate);
    // The entry may have changed outside Tornel since the menu was last open.
    connect(&m_menu, &QMenu::aboutToShow, this, &TrayMenu::showStartAtLogin);
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

#include "moc_tray_menu.cpp"
