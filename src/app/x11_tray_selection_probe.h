#pragma once

#include <QObject>
#include <QTimer>

struct xcb_connection_t;

// On X11, whether a system tray owns the _NET_SYSTEM_TRAY_S<screen>
// selection, and when one appears. Inert on other platforms.
class X11TraySelectionProbe : public QObject {
    Q_OBJECT
public:
    explicit X11TraySelectionProbe(QObject *parent = nullptr);

    bool isTrayPresent() const { return m_trayPresent; }

signals:
    void trayAppeared();

private:
    bool selectionHasOwner() const;
    void poll();

    xcb_connection_t *m_connection = nullptr;
    quint32 m_selection = 0;
    bool m_trayPresent = false;
    // Asking once a second is cheap and spares watching X events ourselves.
    QTimer m_pollTimer;
};
