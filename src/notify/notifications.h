#pragma once

#include "notify/notification_policy.h"

#include <QObject>
#include <QTimer>

#include <type_traits>

// The companion's notifications: events go to NotificationPolicy, and what it
// lets out is shown in a later turn of the event loop, so the changes of one
// status answer arrive as one. How a notice is shown is the subclass's: the
// freedesktop service on the session bus (DesktopNotifications), or the tray
// icon's messages where there is none (TrayNotifications, TORNEL_DBUS off).
class Notifications : public QObject {
    Q_OBJECT
public:
    explicit Notifications(QObject *parent = nullptr);

    void statusObserved(SyncStatus status, const std::optional<QString> &errorMessage);
    void serviceGaveUp(const QString &lastOutputLine);
    void serviceEnded(const QString &lastOutputLine);
    void serviceNotFound(const QStringList &searchedDirectories);
    void serviceNotLaunched(const QString &path, const QString &reason);
    void trayMissing();
    // A tray appeared: the notice about its absence is dropped, or taken back when it can be.
    void trayAppeared();

signals:
    // The user clicked a notification.
    void openPanelRequested();
    // The user chose "Retry Sync" on an error notification.
    void retryRequested();
    // The user chose "Restart Sync Service" on a notification about the service.
    void restartServiceRequested();

protected:
    // Shows `notice`, then reports the id it was shown under to `policy().shown`.
    virtual void show(const Notice &notice) = 0;
    // Takes back notification `id` about a missing tray, where that can be done.
    virtual void takeBack(quint32 id) { Q_UNUSED(id); }
    NotificationPolicy &policy() { return m_policy; }

private:
    void scheduleDelivery();
    void deliverDue();

    NotificationPolicy m_policy;
    QTimer m_delivery;
};
