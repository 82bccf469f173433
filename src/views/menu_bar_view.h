#pragma once

#include "views/command_section.h"

#include <QWidget>

class DaemonManager;
class LoginView;
class QVBoxLayout;
class StatusSection;
class SyncState;

// The panel under the tray icon: a header, then either the status and the
// commands or the login form. Everything shown is read from SyncState at
// each refresh, which happens as the panel is shown and, while it is shown,
// as the model announces; the only state of its own is whether the login
// form is up.
class MenuBarView : public QWidget {
    Q_OBJECT
public:
    MenuBarView(SyncState &syncState, DaemonManager &daemonManager, QWidget *parent = nullptr);

    bool showingLogin() const { return m_showingLogin; }
    void setShowingLogin(bool showing);

    // Runs one of the panel's commands, whether it came from a row or from
    // the tray icon's menu.
    void perform(PanelCommand command);

    // What the panel shows below the header; null in the other mode.
    StatusSection *statusSection() const { return m_statusSection; }
    LoginView *loginView() const { return m_loginView; }

signals:
    // The desktop was asked to show the sync folder, which takes the user
    // elsewhere; the popup closes on it.
    void syncFolderOpened();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void scheduleRefresh();
    void refresh();
    void buildContent();
    void openSyncFolder();

    SyncState &m_syncState;
    // Whether the daemon is down for good, and restarting it.
    DaemonManager &m_daemonManager;
    bool m_showingLogin = false;
    bool m_refreshQueued = false;

    QVBoxLayout *m_contentSlot;
    // The current content and its parts; only buildContent() replaces them.
    QWidget *m_content = nullptr;
    StatusSection *m_statusSection = nullptr;
    CommandSection *m_commandSection = nullptr;
    LoginView *m_loginView = nullptr;
};

// The folder text of the daemon with a leading "~" (alone or before "/")
// replaced by `homePath`. A tilde anywhere else is part of a name, as in
// "/data/backup~1", and stays. Nothing else is expanded or normalised.
QString expandSyncFolder(const QString &folder, const QString &homePath);
