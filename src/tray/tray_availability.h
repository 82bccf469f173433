#pragma once

#include <QLoggingCategory>
#include <QObject>

// The tray's diagnostics on standard error, filtered by QT_LOGGING_RULES ("tornel.tray.info=false").
Q_DECLARE_LOGGING_CATEGORY(lcTray)

// Tells when the desktop has a system tray. On a freedesktop desktop
// (tray_availability_freedesktop.cpp) it looks without asking Qt, which
// settles its tray protocol for the whole process at the first
// QSystemTrayIcon call (isSystemTrayAvailable() included) and never revisits
// it, so a panel that starts after the companion would never get the icon:
// a StatusNotifierItem host on the session bus, or an X11 tray selection
// owner, both watched by the events their servers send, never polled.
// Elsewhere (tray_availability_generic.cpp) Qt's word is taken, which on
// macOS is that the menu bar always has room for a status item.
class TrayAvailability : public QObject {
    Q_OBJECT
public:
    explicit TrayAvailability(QObject *parent = nullptr);

    bool isTrayAvailable() const { return m_available; }

signals:
    // Once, when a tray appears after construction.
    void trayAvailable();

private:
    bool m_available = false;
};
