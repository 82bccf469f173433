#pragma once

#include "notify/notification_policy.h"

#include <QObject>
#include <QTimer>

// The companion's notifications without the session bus (macOS, or a build
// without TORNEL_DBUS): each notice that NotificationPolicy lets out becomes a
// message of the tray icon, which the status item shows. Such a message has
// no buttons and cannot be replaced or closed by the companion: a changed
// error is a new message, and "Retry Sync" and "Restart Sync Service" are in
// the panel only. The public
// interface is DesktopNotifications', so the application wires either alike.
class TrayNotifications : public QObject {
    Q_OBJECT
public:
    explicit TrayNotifications(QObject *parent = nullptr);

    void statusObserved(SyncStatus status, const std::optional<QString> &errorMessage);
    void serviceGaveUp(const QString &lastOutputLine);
    void serviceEnded(const QString &lastOutputLine);
    void serviceNotFound(const QStringList &searchedDirectories);
    void serviceNotLaunched(const QString &path, const QString &reason);
    void trayMissing();
    void trayAppeared();
    // The user clicked the tray icon's message.
    void messageClicked();

signals:
    // A message for the tray icon to show; `critical` for trouble with the daemon.
    void messageReady(const QString &title, const QString &text, bool critical);
    // The user clicked a message.
    void openPanelRequested();
    // Never sent: a message has no buttons. Here for the shared interface.
    void retryRequested();
    void restartServiceRequested();

private:
    void scheduleDelivery();
    void deliverDue();

    NotificationPolicy m_policy;
    QTimer m_delivery;
};
