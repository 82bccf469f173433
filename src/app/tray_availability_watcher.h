#pragma once

#include <QObject>

class StatusNotifierHostProbe;
class X11TraySelectionProbe;

// Tells when the desktop has a system tray. Qt settles its tray protocol for
// the whole process at the first QSystemTrayIcon call (isSystemTrayAvailable()
// included) and never revisits it, so a panel that starts after the companion
// would never get the icon. This looks for a tray without asking Qt: a
// StatusNotifierItem host on the session bus, or an X11 tray selection owner.
class TrayAvailabilityWatcher : public QObject {
    Q_OBJECT
public:
    explicit TrayAvailabilityWatcher(QObject *parent = nullptr);

    bool isTrayAvailable() const;

signals:
    // Once, when a tray appears after construction.
    void trayAvailable();

private:
    void onTrayAppeared();

    StatusNotifierHostProbe *m_statusNotifierHost;
    X11TraySelectionProbe *m_x11TraySelection;
    bool m_announced = false;
};
