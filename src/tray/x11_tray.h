#pragma once

#include "tray/panel_brightness.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QSocketNotifier>

struct xcb_connection_t;

// The X11 system tray as the X server tells of it; built only with TORNEL_X11.

// Whether the tray selection of $DISPLAY's screen has an owner (an X11 tray
// is up), and when one takes it: XFixes tells of it, nothing is polled. Only
// the xcb platform can embed an icon in an X11 tray; elsewhere it stays unowned.
class X11TraySelection : public QObject, private QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit X11TraySelection(QObject *parent = nullptr);

    bool isOwned() const { return m_owned; }

signals:
    // Once, when a tray takes the selection after construction.
    void ownerAppeared();

private:
    bool selectionHasOwner() const;
    // Sees the X server's word that the tray selection has a new owner.
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    xcb_connection_t *m_x11 = nullptr;
    quint32 m_selection = 0;
    // The XFixes event that reports a selection's new owner.
    quint8 m_selectionNotify = 0;
    bool m_owned = false;
};

// How bright the X11 tray's panel is, from the colours the tray publishes
// for its icons (_NET_SYSTEM_TRAY_COLORS), followed as the tray changes them,
// goes away or is replaced.
class X11TrayColors : public QObject {
    Q_OBJECT
public:
    explicit X11TrayColors(QObject *parent = nullptr);
    ~X11TrayColors() override;

    Brightness brightness() const { return m_brightness; }

signals:
    void changed();

private:
    void readTray();
    void takeEvents();

    // A connection of our own: the event masks we set on the tray's window
    // would otherwise replace those Qt sets on it.
    xcb_connection_t *m_x11 = nullptr;
    QSocketNotifier m_events{QSocketNotifier::Read};
    quint32 m_selection = 0;
    quint32 m_colors = 0;
    quint32 m_manager = 0;
    quint32 m_tray = 0;
    Brightness m_brightness = Brightness::unknown;
};
