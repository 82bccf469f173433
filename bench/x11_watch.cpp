#include "x11_watch.h"

#include <cstdlib>
#include <cstring>

#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace {

// xcb hands out replies and events allocated with malloc.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T *raw)
{
    return Reply<T>(raw, &std::free);
}

} // namespace

std::unique_ptr<X11Watch> X11Watch::open()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(connection, &xcb_damage_id);
    const xcb_query_extension_reply_t *test = xcb_get_extension_data(connection, &xcb_test_id);
    if (!damage || !damage->present || !test || !test->present) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11Watch>(new X11Watch(connection));
}

X11Watch::X11Watch(xcb_connection_t *connection) : m_x(connection)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
    m_root = screen->root;
    m_screen = QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    m_damageEvent = xcb_get_extension_data(m_x, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
    // The server takes no DAMAGE request before the version is agreed.
    reply(xcb_damage_query_version_reply(m_x, xcb_damage_query_version(m_x, 1, 1), nullptr));
    const auto atom = reply(xcb_intern_atom_reply(m_x, xcb_intern_atom(m_x, 0, 11, "_NET_WM_PID"), nullptr));
    m_pidAtom = atom ? atom->atom : 0;
    // Reparenting away from the root and mapping top-level windows.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_x, m_root, XCB_CW_EVENT_MASK, &mask);
    // Damage on the root reports drawing in every window of the screen.
    xcb_damage_create(m_x, xcb_generate_id(m_x), m_root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    xcb_flush(m_x);
}

X11Watch::~X11Watch()
{
    xcb_disconnect(m_x);
}

int X11Watch::fd() const
{
    return xcb_get_file_descriptor(m_x);
}

void X11Watch::follow(pid_t pid)
{
    m_pid = pid;
    m_icon.reset();
    m_iconDrawnAt.reset();
    m_popup = {};
    m_popupPaintedAt.reset();
}

void X11Watch::dispatch()
{
    while (xcb_generic_event_t *raw = xcb_poll_for_event(m_x)) {
        const auto event = reply(raw);
        const Clock::time_point now = Clock::now();
        const int type = event->response_type & 0x7f;
        if (type == XCB_REPARENT_NOTIFY) {
            const auto *reparent = reinterpret_cast<xcb_reparent_notify_event_t *>(raw);
            if (reparent->parent != m_root && !m_icon && pidOf(reparent->window) == m_pid)
                m_icon = Window{reparent->window, screenRect(reparent->window)};
        } else if (type == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(raw);
            if (pidOf(map->window) == m_pid && (!m_icon || map->window != m_icon->id)) {
                m_popup = Window{map->window, screenRect(map->window)};
                // What lies off the screen is never drawn.
                m_popupUnpainted = QRegion(m_popup.rect & m_screen);
                m_popupPaintedAt.reset();
            }
        } else if (type == XCB_UNMAP_NOTIFY) {
            if (reinterpret_cast<xcb_unmap_notify_event_t *>(raw)->window == m_popup.id)
                m_popup = {};
        } else if (type == m_damageEvent) {
            const xcb_rectangle_t area = reinterpret_cast<xcb_damage_notify_event_t *>(raw)->area;
            const QRect drawn(area.x, area.y, area.width, area.height);
            if (m_icon && !m_iconDrawnAt && drawn.intersects(m_icon->rect) && drawnInMoreThanOneColour(*m_icon))
                m_iconDrawnAt = now;
            if (m_popup.id && !m_popupPaintedAt) {
                m_popupUnpainted -= drawn;
                if (m_popupUnpainted.isEmpty())
                    m_popupPaintedAt = now;
            }
        }
    }
}

X11Watch::Clock::time_point X11Watch::click(QPoint at)
{
    xcb_test_fake_input(m_x, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, int16_t(at.x()), int16_t(at.y()), 0);
    xcb_test_fake_input(m_x, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(m_x, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    const Clock::time_point sent = Clock::now();
    xcb_flush(m_x);
    return sent;
}

pid_t X11Watch::pidOf(quint32 window) const
{
    const auto property = reply(xcb_get_property_reply(
        m_x, xcb_get_property(m_x, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!property || xcb_get_property_value_length(property.get()) != 4)
        return 0;
    return pid_t(*static_cast<uint32_t *>(xcb_get_property_value(property.get())));
}

QRect X11Watch::screenRect(quint32 window) const
{
    const auto geometry = reply(xcb_get_geometry_reply(m_x, xcb_get_geometry(m_x, window), nullptr));
    const auto origin = reply(
        xcb_translate_coordinates_reply(m_x, xcb_translate_coordinates(m_x, window, m_root, 0, 0), nullptr));
    if (!geometry || !origin)
        return {};
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

bool X11Watch::drawnInMoreThanOneColour(const Window &window) const
{
    const auto image = reply(xcb_get_image_reply(
        m_x,
        xcb_get_image(m_x, XCB_IMAGE_FORMAT_Z_PIXMAP, window.id, 0, 0, uint16_t(window.rect.width()),
                      uint16_t(window.rect.height()), ~0U),
        nullptr));
    if (!image || image->depth < 24)
        return false;
    const int count = xcb_get_image_data_length(image.get()) / 4;
    const uint8_t *data = xcb_get_image_data(image.get());
    uint32_t first = 0;
    std::memcpy(&first, data, 4);
    for (int i = 1; i < count; ++i) {
        uint32_t pixel = 0;
        std::memcpy(&pixel, data + 4 * i, 4);
        if ((pixel ^ first) & 0xffffff)
            return true;
    }
    return false;
}
