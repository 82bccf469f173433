#pragma once

#include <QAbstractNativeEventFilter>
#include <QLoggingCategory>
#include <QObject>

// The tray's diagnostics on standard error, filtered by QT_LOGGING_RULES ("tornel.tray.info=false").
Q_DECLARE_LOGGING_CATEGORY(lcTray)

struct xcb_connection_t;

// What the tray's X11 watchers share: an atom by name (XCB_ATOM_NONE when the
// server does not answer) and the root window of a screen.
quint32 x11Atom(xcb_connection_t *x11, const QByteArray &name);
quint32 x11RootWindow(xcb_connection_t *x11, int screen);

// Tells when the desktop has a system tray. Qt settles its tray protocol for
// the whole process at the first QSystemTrayIcon call (isSystemTrayAvailable()
// included) and never revisits it, so a panel that starts after the companion
// would never get the icon. This looks for a tray without asking Qt: a
// StatusNotifierItem host on the session bus, or an X11 tray selection owner.
// Both are watched by the events their servers send, never polled.
class TrayAvailability : public QObject, private QAbstractNativeEventFilter {
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
    bool x11SelectionHasOwner() const;
    // Sees the X server's word that the tray selection has a new owner.
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void announce();

    bool m_statusNotifierHostPresent = false;
    xcb_connection_t *m_x11 = nullptr;
    quint32 m_x11Selection = 0;
    // The XFixes event that reports a selection's new owner.
    quint8 m_x11SelectionNotify = 0;
    bool m_x11TrayPresent = false;
    bool m_announced = false;
};
