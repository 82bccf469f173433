#include "views/menu_bar_view.h"

#include "daemon/daemon_manager.h"
#include "state/daemon_text.h"
#include "state/sync_state.h"
#include "views/controls/symbol_view.h"
#include "views/login_view.h"
#include "views/panel_style.h"
#include "views/status_section.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

MenuBarView::MenuBarView(SyncState &syncState, DaemonManager &daemonManager, QWidget *parent)
    : QWidget(parent), m_syncState(syncState), m_daemonManager(daemonManager)
{
    setFixedWidth(panelWidth);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    header->setSpacing(defaultSpacing);
    const QFont title3 = textStyleFont(TextStyle::title3);
    header->addWidget(new SymbolView(QStringLiteral("cloud.fill"), NamedColor::accent, symbolSize(title3)));
    header->addWidget(makeHeading(QStringLiteral("Tornel")));
    header->addStretch();
    column->addLayout(header);
    column->addWidget(new Divider);

    m_contentSlot = new QVBoxLayout;
    m_contentSlot->setContentsMargins(0, 0, 0, 0);
    column->addLayout(m_contentSlot);

    // One assignment to the model announces itself once per property; a
    // status answer assigns seven of them in a row. Draw once for all.
    const auto announcements = {&SyncState::statusChanged,     &SyncState::pendingUploadsChanged,
                          &SyncState::pendingDownloadsChanged, &SyncState::lastSyncChanged,
                          &SyncState::syncFolderChanged, &SyncState::serverURLChanged,
                          &SyncState::userEmailChanged,  &SyncState::errorMessageChanged,
                          &SyncState::commandErrorChanged};
    for (auto announcement : announcements)
        connect(&m_syncState, announcement, this, &MenuBarView::scheduleRefresh);
    connect(&m_syncState.timedPause(), &TimedPause::deadlineChanged, this, &MenuBarView::scheduleRefresh);
    connect(&m_daemonManager, &DaemonManager::needsRestartChanged, this, &MenuBarView::scheduleRefresh);

    buildContent();
}

void MenuBarView::setShowingLogin(bool showing)
{
    if (showing == m_showingLogin)
        return;
    m_showingLogin = showing;
    buildContent();
}

void MenuBarView::perform(PanelCommand command)
{
    switch (command) {
    case PanelCommand::pauseSyncing:
        m_syncState.pause();
        break;
    case PanelCommand::pauseForAnHour:
    case PanelCommand::pauseUntilTomorrow: {
        const QString duration = command == PanelCommand::pauseForAnHour ? QStringLiteral("1h") : QStringLiteral("until-tomorrow");
        m_syncState.timedPause().pauseUntil(*TimedPause::deadlineFor(duration, QDateTime::currentDateTimeUtc()));
        break;
    }
    case PanelCommand::resumeSyncing:
    case PanelCommand::retrySync:
        m_syncState.resume();
        break;
    case PanelCommand::restartService:
        m_daemonManager.restart();
        break;
    case PanelCommand::openSyncFolder:
        openSyncFolder();
        break;
    case PanelCommand::logOut:
        m_syncState.logout();
        break;
    case PanelCommand::logIn:
        setShowingLogin(true);
        break;
    case PanelCommand::quit:
        // The shell stops polling and the daemon on the way out.
        QCoreApplication::quit();
        break;
    }
}

void MenuBarView::openSyncFolder()
{
    // Only a folder goes to the desktop: a URL, an option, a program or a
    // launcher in the daemon's text would be run or opened by whatever
    // handles it.
    const QString folder = expandSyncFolder(m_syncState.syncFolder(), QDir::homePath());
    if (!QDir::isAbsolutePath(folder) || !QFileInfo(folder).isDir()) {
        m_syncState.reportCommandError(
            tr("The sync folder %1 cannot be opened").arg(DaemonText::shown(m_syncState.syncFolder())));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    emit syncFolderOpened();
}

void MenuBarView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Whatever changed while hidden, and the last-sync phrase, which is
    // relative to now. While shown, each poll's answer refreshes it again.
    refresh();
}

void MenuBarView::scheduleRefresh()
{
    // A hidden panel shows nothing: it is brought up to date as it is shown,
    // so the model's answers cost it nothing meanwhile.
    if (m_refreshQueued || !isVisible())
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshQueued = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void MenuBarView::refresh()
{
    if (m_statusSection)
        m_statusSection->refresh(m_syncState);
    if (m_commandSection)
        m_commandSection->refresh(m_syncState, m_daemonManager.needsRestart());
}

void MenuBarView::buildContent()
{
    // The old content may hold the very row or button whose click got us
    // here, so it goes once that click has been handled.
    const bool hadFocus = m_content && m_content->isAncestorOf(focusWidget());
    if (m_content) {
        m_contentSlot->removeWidget(m_content);
        m_content->hide();
        m_content->deleteLater();
    }
    m_statusSection = nullptr;
    m_commandSection = nullptr;
    m_loginView = nullptr;

    if (m_showingLogin) {
        QPointer<MenuBarView> panel(this);
        m_loginView = new LoginView(m_syncState, [panel] {
            if (panel)
                panel->setShowingLogin(false);
        });
        m_content = m_loginView;
    } else {
        // Built anew each time, so the status symbol's pulse starts afresh.
        auto *main = new QWidget;
        auto *column = new QVBoxLayout(main);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        m_statusSection = new StatusSection;
        m_commandSection = new CommandSection;
        connect(m_commandSection, &CommandSection::commandActivated, this, &MenuBarView::perform);
        column->addWidget(m_statusSection);
        column->addWidget(new Divider);
        column->addWidget(m_commandSection);
        m_content = main;
        refresh();
    }
    m_contentSlot->addWidget(m_content);
    m_content->show();
    // A keyboard user leaving the form lands on the first command.
    if (hadFocus && m_commandSection)
        m_commandSection->focusFirstCommand();
}

QString expandSyncFolder(const QString &folder, const QString &homePath)
{
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        return homePath + folder.mid(1);
    return folder;
}

#include "moc_menu_bar_view.cpp"
