#include "app/app_delegate.h"

#include "tray/compositor_placement.h"
#include "tray/desktop_color_scheme.h"

#include <QPointer>
#include <QStringList>

namespace {

// Notifications that have no desktop service to show them are the status item's messages.
template <typename Shown>
void showMessagesOn(Shown &notifications, StatusItem &item)
{
    if constexpr (std::is_same_v<Shown, TrayNotifications>) {
        QObject::connect(&notifications, &Shown::messageReady, &item, &StatusItem::showMessage);
        QObject::connect(&item, &StatusItem::messageClicked, &notifications, &Shown::messageClicked);
    }
}

} // namespace

AppDelegate::AppDelegate(StatusItemFactory makeStatusItem, QObject *parent)
    : QObject(parent), m_makeStatusItem(std::move(makeStatusItem))
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    createStatusItem();
    buildPopover();
    followState();
    installNotifications();
    followTrayPresence();
    startDaemon();
    // No first redraw: the launch icon stays until the model reports a status.
}

void AppDelegate::applicationWillTerminate()
{
    // Polling stops first, so no request is sent to a daemon being stopped.
    m_syncState.stopPolling();
    m_daemonManager.stop();
}

void AppDelegate::createStatusItem()
{
    m_statusItem = m_makeStatusItem();
    m_statusItem->setIcon(launchIcon());
}

void AppDelegate::buildPopover()
{
    m_popover = std::make_unique<PopoverHost>(m_syncState, m_daemonManager);
    followDesktopScheme(*m_popover);
    placeOnCompositor(*m_popover);
    StatusItem *item = m_statusItem.get();
    m_popover->setTrayIconGeometrySource([item] { return item->geometry(); });
    connect(item, &StatusItem::clicked, m_popover.get(), &PopoverHost::toggle);
    m_trayMenu = std::make_unique<TrayMenu>(m_trayMenuEntries, m_syncState, m_daemonManager, *m_popover);
    item->setContextMenu(&m_trayMenuEntries);
}

void AppDelegate::followState()
{
    // Queued, so the icon is redrawn in a later turn of the main loop, in the
    // order of the changes, once the whole answer has been applied.
    connect(&m_syncState, &SyncState::stateChanged, this, &AppDelegate::updateMenuBarIcon, Qt::QueuedConnection);
    connect(&m_syncState.timedPause(), &TimedPause::deadlineChanged, this,
            [this] { updateMenuBarIcon(m_syncState.status()); });
    // A daemon just launched takes a moment to listen; that is no outage.
    connect(&m_daemonManager, &DaemonManager::daemonLaunched, &m_syncState, &SyncState::daemonLaunched);
}

void AppDelegate::installNotifications()
{
    // A status answer changes the status before the message; the notifier
    // sends in a later turn and so sees both.
    const auto observe = [this] { m_notifications.statusObserved(m_syncState.status(), m_syncState.errorMessage()); };
    connect(&m_syncState, &SyncState::statusChanged, &m_notifications, observe);
    connect(&m_syncState, &SyncState::errorMessageChanged, &m_notifications, observe);
    // The daemon's last words often say why it failed or ended.
    const auto lastOutputLine = [this] {
        const QStringList lines = m_daemonManager.recentOutput();
        return lines.isEmpty() ? QString() : lines.last();
    };
    connect(&m_daemonManager, &DaemonManager::gaveUp, &m_notifications,
            [this, lastOutputLine] { m_notifications.serviceGaveUp(lastOutputLine()); });
    connect(&m_daemonManager, &DaemonManager::daemonEnded, &m_notifications,
            [this, lastOutputLine] { m_notifications.serviceEnded(lastOutputLine()); });
    connect(&m_daemonManager, &DaemonManager::daemonNotFound, &m_notifications,
            &Notifications::serviceNotFound);
    connect(&m_daemonManager, &DaemonManager::launchFailed, &m_notifications,
            &Notifications::serviceNotLaunched);
    connect(&m_notifications, &Notifications::retryRequested, &m_syncState, [this] { m_syncState.resume(); });
    connect(&m_notifications, &Notifications::restartServiceRequested, &m_daemonManager, &DaemonManager::restart);
    connect(&m_notifications, &Notifications::openPanelRequested, m_popover.get(), &PopoverHost::open);
    showMessagesOn(m_notifications, *m_statusItem);
}

void AppDelegate::followTrayPresence()
{
    // Without a tray the panel is a window of its own, opened by a second
    // start or a click on the notification that says so.
    connect(m_statusItem.get(), &StatusItem::trayMissing, this, [this] {
        m_popover->setWindowed(true);
        m_notifications.trayMissing();
    });
    connect(m_statusItem.get(), &StatusItem::trayAppeared, this, [this] {
        m_popover->setWindowed(false);
        m_notifications.trayAppeared();
    });
}

void AppDelegate::startDaemon()
{
    m_daemonManager.start([self = QPointer<AppDelegate>(this)] {
        if (!self)
            return;
        self->m_syncState.startPolling();
        self->m_syncState.timedPause().restore();
    });
}

void AppDelegate::updateMenuBarIcon(SyncStatus state)
{
    StatusIcon icon = statusIcon(state);
    // The tooltip says when a timed pause ends, as the panel does.
    const QString resumes = m_syncState.timedPause().resumesText();
    if (state == SyncStatus::paused && !resumes.isEmpty())
        icon.description += u'\n' + resumes;
    m_statusItem->setIcon(icon);
}

#include "moc_app_delegate.cpp"
