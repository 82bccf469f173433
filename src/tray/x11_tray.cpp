#include "tray/x11_tray.h"

#include "tray/tray_availability.h"

#include <QColor>
#include <QGuiApplication>

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

// An atom by name; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t atom(xcb_connection_t *x11, const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 0, quint16(name.size()), name.constData()), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

xcb_window_t rootWindow(xcb_connection_t *x11, int screen)
{
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(x11));
    for (int i = 0; i < screen && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    return screens.data->root;
}

xcb_atom_t traySelection(xcb_connection_t *x11, int screen)
{
    return atom(x11, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen));
}

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

// What the tray's colours say of its panel: they hold the foreground first,
// 16 bits a channel, and light text is set on a dark panel.
Brightness trayColorsBrightness(xcb_connection_t *x11, xcb_window_t tray, xcb_atom_t colors)
{
    xcb_get_property_reply_t *reply =
        xcb_get_property_reply(x11, xcb_get_property(x11, 0, tray, colors, XCB_ATOM_CARDINAL, 0, 3), nullptr);
    QColor foreground;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 12) {
        const auto *rgb = static_cast<const quint32 *>(xcb_get_property_value(reply));
        foreground = QColor::fromRgba64(quint16(rgb[0]), quint16(rgb[1]), quint16(rgb[2]));
    }
    std::free(reply);
    if (!foreground.isValid())
        return Brightness::unknown;
    return foreground.lightness() >= 128 ? Brightness::dark : Brightness::light;
}

} // namespace

X11TraySelection::X11TraySelection(QObject *parent) : QObject(parent)
{
    // The offscreen platform also answers to the X11 interface, without a connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != u"xcb" || !x11 || !x11->connection())
        return;
    m_x11 = x11->connection();
    const int screen = displayScreen();
    m_selection = traySelection(m_x11, screen);
    if (m_selection == XCB_ATOM_NONE)
        return;

    // A tray that starts later takes the selection, and XFixes tells of it
    // (the MANAGER message a tray also sends is not to be counted on). Asked
    // for before the owner is checked, so no tray slips in between.
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(m_x11, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        std::free(xcb_xfixes_query_version_reply(m_x11, xcb_xfixes_query_version(m_x11, 1, 0), nullptr));
        m_selectionNotify = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
        xcb_xfixes_select_selection_input(m_x11, rootWindow(m_x11, screen), m_selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
        qApp->installNativeEventFilter(this);
    } else {
        qCWarning(lcTray, "the X server lacks XFixes; a tray that starts later is not noticed");
    }
    m_owned = selectionHasOwner();
    if (m_owned)
        qApp->removeNativeEventFilter(this);
}

bool X11TraySelection::selectionHasOwner() const
{
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(m_x11, xcb_get_selection_owner(m_x11, m_selection), nullptr);
    if (!reply)
        return false;
    const bool owned = reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

bool X11TraySelection::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if (eventType != "xcb_generic_event_t" || (event->response_type & 0x7f) != m_selectionNotify)
        return false;
    const auto *notify = static_cast<const xcb_xfixes_selection_notify_event_t *>(message);
    if (notify->selection == m_selection && notify->owner != XCB_NONE) {
        qApp->removeNativeEventFilter(this);
        m_owned = true;
        emit ownerAppeared();
    }
    // Qt's clipboard watches selections of its own.
    return false;
}

X11TrayColors::X11TrayColors(QObject *parent) : QObject(parent)
{
    // Only the xcb platform docks in an X11 tray; elsewhere its colours
    // would describe some other panel.
    if (QGuiApplication::platformName() != u"xcb")
        return;
    int screenNumber = 0;
    m_x11 = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_x11)) {
        xcb_disconnect(m_x11);
        m_x11 = nullptr;
        return;
    }
    m_selection = traySelection(m_x11, screenNumber);
    m_colors = atom(m_x11, "_NET_SYSTEM_TRAY_COLORS");
    m_manager = atom(m_x11, "MANAGER");

    // A tray that starts announces itself to listeners on the root window.
    const quint32 rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_x11, rootWindow(m_x11, screenNumber), XCB_CW_EVENT_MASK, &rootEvents);

    m_events.setSocket(xcb_get_file_descriptor(m_x11));
    connect(&m_events, &QSocketNotifier::activated, this, &X11TrayColors::takeEvents);
    m_events.setEnabled(true);
    readTray();
    takeEvents();
}

X11TrayColors::~X11TrayColors()
{
    if (!m_x11)
        return;
    m_events.setEnabled(false);
    xcb_disconnect(m_x11);
}

void X11TrayColors::readTray()
{
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(m_x11, xcb_get_selection_owner(m_x11, m_selection), nullptr);
    m_tray = owner ? owner->owner : xcb_window_t(XCB_NONE);
    std::free(owner);
    Brightness now = Brightness::unknown;
    if (m_tray != XCB_NONE) {
        // Hear when the tray changes its colours or goes away.
        const quint32 trayEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_x11, m_tray, XCB_CW_EVENT_MASK, &trayEvents);
        now = trayColorsBrightness(m_x11, m_tray, m_colors);
    }
    if (now == m_brightness)
        return;
    m_brightness = now;
    emit changed();
}

void X11TrayColors::takeEvents()
{
    // Waiting for a reply queues the events that arrive meanwhile, so
    // reading the tray here may add to what this loop takes.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_x11)) {
        bool concernsTray = false;
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
            concernsTray = message->type == m_manager && message->data.data32[1] == m_selection;
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            concernsTray = change->window == m_tray && change->atom == m_colors;
            break;
        }
        case XCB_DESTROY_NOTIFY:
            concernsTray = reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window == m_tray;
            break;
        default:
            break;
        }
        std::free(event);
        if (concernsTray)
            readTray();
    }
    // A lost connection would leave the socket readable for ever.
    if (xcb_connection_has_error(m_x11))
        m_events.setEnabled(false);
}

#include "moc_x11_tray.cpp"
