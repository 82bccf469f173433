#pragma once

#include "notify/notifications.h"

#include <functional>

class QDBusError;
class QDBusMessage;
class QDBusPendingCallWatcher;

// The companion's notifications on the desktop, through the freedesktop
// notification service on the session bus. Every call is asynchronous: a
// server that hangs or is missing holds up nothing, and its absence is said
// once on standard error.
class DesktopNotifications : public Notifications {
    Q_OBJECT
public:
    explicit DesktopNotifications(QObject *parent = nullptr);

protected:
    void show(const Notice &notice) override;
    void takeBack(quint32 id) override;

private slots:
    // Slots by name, so that the bus can call them on the server's signals.
    void actionInvoked(uint id, const QString &actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void send(const Notice &notice, const QStringList &capabilities);
    // Calls the server without waiting; runs `onReply` with its reply, or
    // `onFailure` after saying (once) why there is none.
    void call(const QDBusMessage &message, std::function<void(QDBusPendingCallWatcher &)> onReply,
              std::function<void()> onFailure);
    void reportOnce(const QDBusError &error);

    bool m_reported = false;
};
