#include "tray/panel_brightness.h"

#include "tray/tray_availability.h"

#include <QColor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>

#include <cstdlib>

#include <xcb/xcb.h>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
constexpr uint prefersDark = 1;

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

PanelBrightness::PanelBrightness(QObject *parent) : QObject(parent)
{
    watchPortal();
    watchX11Tray();
}

PanelBrightness::~PanelBrightness()
{
    if (!m_x11)
        return;
    m_x11Events.setEnabled(false);
    xcb_disconnect(m_x11);
}

void PanelBrightness::watchPortal()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The bus finds the slot's parameter types by name, and QtDBus names
    // its own types only once it first needs them.
    qRegisterMetaType<QDBusVariant>();
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                SLOT(portalSettingChanged(QString,QString,QDBusVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearanceGroup << colorSchemeKey;
    // Not waited for: the bus may first have to start the portal. Until it
    // answers, the icons are drawn to read on any panel.
    auto *pending = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *answer) {
        answer->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        if (reply.isValid())
            takeColorScheme(reply.value().variant());
    });
}

void PanelBrightness::portalSettingChanged(const QString &group, const QString &key, const QDBusVariant &value)
{
    if (group == appearanceGroup && key == colorSchemeKey)
        takeColorScheme(value.variant());
}

void PanelBrightness::takeColorScheme(QVariant value)
{
    // Read wraps the value in one variant more than the signal does.
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    m_portalPrefersDark = value.toUInt() == prefersDark;
    update();
}

void PanelBrightness::watchX11Tray()
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
    m_x11Selection = x11Atom(m_x11, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber));
    m_x11Colors = x11Atom(m_x11, "_NET_SYSTEM_TRAY_COLORS");
    m_x11Manager = x11Atom(m_x11, "MANAGER");

    // A tray that starts announces itself to listeners on the root window.
    const quint32 rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_x11, x11RootWindow(m_x11, screenNumber), XCB_CW_EVENT_MASK, &rootEvents);

    m_x11Events.setSocket(xcb_get_file_descriptor(m_x11));
    connect(&m_x11Events, &QSocketNotifier::activated, this, &PanelBrightness::takeX11Events);
    m_x11Events.setEnabled(true);
    readX11Tray();
    takeX11Events();
}

void PanelBrightness::readX11Tray()
{
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(m_x11, xcb_get_selection_owner(m_x11, m_x11Selection), nullptr);
    m_x11Tray = owner ? owner->owner : xcb_window_t(XCB_NONE);
    std::free(owner);
    m_fromX11Tray = Brightness::unknown;
    if (m_x11Tray != XCB_NONE) {
        // Hear when the tray changes its colours or goes away.
        const quint32 trayEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_x11, m_x11Tray, XCB_CW_EVENT_MASK, &trayEvents);
        m_fromX11Tray = trayColorsBrightness(m_x11, m_x11Tray, m_x11Colors);
    }
    update();
}

void PanelBrightness::takeX11Events()
{
    // Waiting for a reply queues the events that arrive meanwhile, so
    // reading the tray here may add to what this loop takes.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_x11)) {
        bool concernsTray = false;
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
            concernsTray = message->type == m_x11Manager && message->data.data32[1] == m_x11Selection;
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            concernsTray = change->window == m_x11Tray && change->atom == m_x11Colors;
            break;
        }
        case XCB_DESTROY_NOTIFY:
            concernsTray = reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window == m_x11Tray;
            break;
        default:
            break;
        }
        std::free(event);
        if (concernsTray)
            readX11Tray();
    }
    // A lost connection would leave the socket readable for ever.
    if (xcb_connection_has_error(m_x11))
        m_x11Events.setEnabled(false);
}

void PanelBrightness::update()
{
    Brightness now = m_fromX11Tray;
    if (now == Brightness::unknown && m_portalPrefersDark)
        now = Brightness::dark;
    if (now == m_brightness)
        return;
    m_brightness = now;
    emit changed();
}

#include "moc_panel_brightness.cpp"
