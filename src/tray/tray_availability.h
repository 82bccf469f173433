#pragma once

#include <QObject>
#include <QTimer>

struct xcb_connection_t;

// Tells when the desktop has a system tray. Qt settles its tray protocol for
// the whole process at the first QSystemTrayIcon call (isSystemTrayAvailable()
// included) and never revisits it, so a panel that starts after the companion
// would never get the icon. This looks for a tray without asking Qt: a
// StatusNotifierItem host on the session bus, or an X11 tray selection owner.
class TrayAvailability : public QObject {
    Q_OBJECT
public:
    explicit TrayAvailability(QObject *parent = nullptr);

    bool isTrayAvailable() const { return m_statusNotifierHostPresent || m_x11TrayPresent; }

signals:
    // Once, when a tray appears after construction.
    void trayAvailable();

private slots:
    // A slot by name, so that the bus can call it on the watcher's signal.
    void recheckStatusNotifierHost();

private:
    void watchStatusNotifierHost();
    void watchX11TraySelection();
    void pollX11TraySelection();
    bool x11SelectionHasOwner() const;
    void announce();

    bool m_statusNotifierHostPresent = false;
    xcb_connection_t *m_x11 = nullptr;
    quint32 m_x11Selection = 0;
    bool m_x11TrayPresent = false;
    // Asking once a second is cheap and spares watching X events ourselves.
    QTimer m_x11Poll;
    bool m_announced = false;
};
