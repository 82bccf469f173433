#include "tray/tray_availability.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#include <cstdlib>

#include <xcb/xcb.h>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
// A watcher that hangs must not hold up the companion for D-Bus's default 25 s.
constexpr int queryTimeoutMs = 2000;
constexpr int x11PollIntervalMs = 1000;

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
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(displayScreen());
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(m_x11, xcb_intern_atom(m_x11, 0, quint16(name.size()), name.constData()), nullptr);
    if (!atom)
        return;
    m_x11Selection = atom->atom;
    std::free(atom);

    m_x11TrayPresent = x11SelectionHasOwner();
    if (m_x11TrayPresent)
        return;
    connect(&m_x11Poll, &QTimer::timeout, this, &TrayAvailability::pollX11TraySelection);
    m_x11Poll.start(x11PollIntervalMs);
}

void TrayAvailability::pollX11TraySelection()
{
    if (!x11SelectionHasOwner())
        return;
    m_x11Poll.stop();
    m_x11TrayPresent = true;
    announce();
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

void TrayAvailability::announce()
{
    if (m_announced)
        return;
    m_announced = true;
    emit trayAvailable();
}

#include "moc_tray_availability.cpp"
