#pragma once

#include "notify/notifications.h"

// The companion's notifications without the session bus (macOS, or a build
// without TORNEL_DBUS): each notice becomes a message of the tray icon, which
// the status item shows. Such a message has no buttons and cannot be replaced
// or closed by the companion: a changed error is a new message, and "Retry
// Sync" and "Restart Sync Service" are in the panel only.
class TrayNotifications : public Notifications {
    Q_OBJECT
public:
    using Notifications::Notifications;

    // The user clicked the tray icon's message.
    void messageClicked();

signals:
    // A message for the tray icon to show; `critical` for trouble with the daemon.
    void messageReady(const QString &title, const QString &text, bool critical);

protected:
    void show(const Notice &notice) override;
};
