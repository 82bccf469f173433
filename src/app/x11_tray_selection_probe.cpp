#include "app/x11_tray_selection_probe.h"

#include <QGuiApplication>

#include <cstdlib>

#include <xcb/xcb.h>

namespace {

constexpr int pollIntervalMs = 1000;

// The screen of $DISPLAY (":0.1" is screen 1), as the X server numbers it.
int displayScreen()
{
    char *host = nullptr;
    int display = 0;
    int screen = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screen))
        return 0;
    std::free(host);
    return screen;
}

} // namespace

X11TraySelectionProbe::X11TraySelectionProbe(QObject *parent) : QObject(parent)
{
    // Only the xcb platform can embed an icon in an X11 tray; the offscreen
    // platform also answers to the X11 interface, without a connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != u"xcb" || !x11 || !x11->connection())
        return;
    m_connection = x11->connection();
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(displayScreen());
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, quint16(name.size()), name.constData()), nullptr);
    if (!atom)
        return;
    m_selection = atom->atom;
    std::free(atom);

    m_trayPresent = selectionHasOwner();
    if (m_trayPresent)
        return;
    connect(&m_pollTimer, &QTimer::timeout, this, &X11TraySelectionProbe::poll);
    m_pollTimer.start(pollIntervalMs);
}

void X11TraySelectionProbe::poll()
{
    if (!selectionHasOwner())
        return;
    m_pollTimer.stop();
    m_trayPresent = true;
    emit trayAppeared();
}

bool X11TraySelectionProbe::selectionHasOwner() const
{
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, m_selection), nullptr);
    if (!reply)
        return false;
    const bool owned = reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}
