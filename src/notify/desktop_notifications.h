#pragma once

#include "notify/notification_policy.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QDBusError;
class QDBusMessage;
class QDBusPendingCallWatcher;

// The companion's notifications on the desktop, through the freedesktop
// notification service on the session bus. Events go to NotificationPolicy;
// what it lets out is sent in a later turn of the event loop, so the changes
// of one status answer arrive as one. Every call is asynchronous: a server
// that hangs or is missing holds up nothing, and its absence is said once on
// standard error.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifications(QObject *parent = nullptr);

    void statusObserved(SyncStatus status, const std::optional<QString> &errorMessage);
    void serviceGaveUp(const QString &lastOutputLine);
    void serviceEnded(const QString &lastOutputLine);
    void serviceNotFound(const QStringList &searchedDirectories);
    void serviceNotLaunched(const QString &path, const QString &reason);
    void trayMissing();
    void trayAppeared();

signals:
    // The user clicked a notification.
    void openPanelRequested();
    // The user chose "Retry Sync" on an error notification.
    void retryRequested();
    // The user chose "Restart Sync Service" on a notification about the service.
    void restartServiceRequested();

private slots:
    // Slots by name, so that the bus can call them on the server's signals.
    void actionInvoked(uint id, const QString &actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void scheduleDelivery();
    void deliverDue();
    void send(const Notice &notice, const QStringList &capabilities);
    // Calls the server without waiting; runs `onReply` with its reply, or
    // `onFailure` after saying (once) why there is none.
    void call(const QDBusMessage &message, std::function<void(QDBusPendingCallWatcher &)> onReply,
              std::function<void()> onFailure);
    void reportOnce(const QDBusError &error);

    NotificationPolicy m_policy;
    QTimer m_delivery;
    bool m_reported = false;
};
