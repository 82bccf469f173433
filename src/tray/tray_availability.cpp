#include "tray/tray_availability.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

Q_LOGGING_CATEGORY(lcTray, "tornel.tray")

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
// A watcher that hangs must not hold up the companion for D-Bus's default 25 s.
constexpr int queryTimeoutMs = 2000;

// Whether the session bus has a StatusNotifierItem watcher with a registered
// host (the panel that draws the items).
bool statusNotifierHostRegistered()
{
    QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, queryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
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

} // namespace

quint32 x11Atom(xcb_connection_t *x11, const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 0, quint16(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

quint32 x11RootWindow(xcb_connection_t *x11, int screen)
{
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(x11));
    for (int i = 0; i < screen && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    return screens.data->root;
}

TrayAvailability::TrayAvailability(QObject *parent) : QObject(parent)
{
    watchStatusNotifierHost();
    watchX11TraySelection();
    m_announced = isTrayAvailable();
}

void TrayAvailability::watchStatusNotifierHost()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto *serviceWatcher =
        new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this,
            &TrayAvailability::recheckStatusNotifierHost);
    // The watcher may be up before the panel registers as its host.
    bus.connect(QString(), watcherPath, watcherInterface, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(recheckStatusNotifierHost()));
    m_statusNotifierHostPresent = statusNotifierHostRegistered();
}

void TrayAvailability::recheckStatusNotifierHost()
{
    if (m_statusNotifierHostPresent || !statusNotifierHostRegistered())
        return;
    m_statusNotifierHostPresent = true;
    announce();
}

void TrayAvailability::watchX11TraySelection()
{
    // Only the xcb platform can embed an icon in an X11 tray; the offscreen
    // platform also answers to the X11 interface, without a connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != u"xcb" || !x11 || !x11->connection())
        return;
    m_x11 = x11->connection();
    const int screen = displayScreen();
    m_x11Selection = x11Atom(m_x11, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen));
    if (m_x11Selection == XCB_ATOM_NONE)
        return;

    // A tray that starts later takes the selection, and XFixes tells of it
    // (the MANAGER message a tray also sends is not to be counted on). Asked
    // for before the owner is checked, so no tray slips in between.
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(m_x11, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        std::free(xcb_xfixes_query_version_reply(m_x11, xcb_xfixes_query_version(m_x11, 1, 0), nullptr));
        m_x11SelectionNotify = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
        xcb_xfixes_select_selection_input(m_x11, x11RootWindow(m_x11, screen), m_x11Selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
        qApp->installNativeEventFilter(this);
    } else {
        qCWarning(lcTray, "the X server lacks XFixes; a tray that starts later is not noticed");
    }
    m_x11TrayPresent = x11SelectionHasOwner();
    if (m_x11TrayPresent)
        qApp->removeNativeEventFilter(this);
}

bool TrayAvailability::x11SelectionHasOwner() const
{
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(m_x11, xcb_get_selection_owner(m_x11, m_x11Selection), nullptr);
    if (!reply)
        return false;
    const bool owned = reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

bool TrayAvailability::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if (eventType != "xcb_generic_event_t" || (event->response_type & 0x7f) != m_x11SelectionNotify)
        return false;
    const auto *notify = static_cast<const xcb_xfixes_selection_notify_event_t *>(message);
    if (notify->selection == m_x11Selection && notify->owner != XCB_NONE) {
        qApp->removeNativeEventFilter(this);
        m_x11TrayPresent = true;
        announce();
    }
    // Qt's clipboard watches selections of its own.
    return false;
}

void TrayAvailability::announce()
{
    if (m_announced)
        return;
    m_announced = true;
    emit trayAvailable();
}

#include "moc_tray_availability.cpp"
