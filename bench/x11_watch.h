#pragma once

#include <QPoint>
#include <QRect>
#include <QRegion>

#include <chrono>
#include <memory>
#include <optional>

#include <sys/types.h>

struct xcb_connection_t;

// What a user would see of one program on an X display, watched from
// outside the program: its tray icon docked (its window reparented into the
// tray and drawn there) and a top-level window mapped and painted. Drawing is
// reported by the DAMAGE extension on the root window, so nothing drawn is
// missed however soon it follows the map; clicks go through XTEST, as a
// pointer's would. Times are when this process read the event.
class X11Watch {
public:
    using Clock = std::chrono::steady_clock;

    struct Window {
        quint32 id = 0;
        QRect rect; // on the screen
    };

    // Null when $DISPLAY cannot be opened or lacks DAMAGE or XTEST.
    static std::unique_ptr<X11Watch> open();
    ~X11Watch();

    QRect screen() const { return m_screen; }

    // The descriptor to poll for events; dispatch() then handles them.
    int fd() const;
    void dispatch();

    // Forgets what was seen and follows the windows of `pid` from now on.
    void follow(pid_t pid);

    // When the program's icon was first seen drawn in the tray: docked, and
    // not of one colour (the slot is cleared to the tray's background first).
    std::optional<Clock::time_point> iconDrawnAt() const { return m_iconDrawnAt; }
    std::optional<Window> icon() const { return m_icon; }
    // When the program's last mapped top-level window (not the icon) was
    // wholly painted; and whether that window is still mapped.
    std::optional<Clock::time_point> popupPaintedAt() const { return m_popupPaintedAt; }
    bool popupShown() const { return m_popup.id != 0; }

    // Moves the pointer to `at` and clicks the first button; returns when sent.
    Clock::time_point click(QPoint at);

private:
    explicit X11Watch(xcb_connection_t *connection);
    pid_t pidOf(quint32 window) const;
    QRect screenRect(quint32 window) const;
    bool drawnInMoreThanOneColour(const Window &window) const;

    xcb_connection_t *m_x;
    quint32 m_root = 0;
    QRect m_screen;
    quint8 m_damageEvent = 0;
    quint32 m_pidAtom = 0;
    pid_t m_pid = 0;
    std::optional<Window> m_icon;
    std::optional<Clock::time_point> m_iconDrawnAt;
    Window m_popup;
    QRegion m_popupUnpainted;
    std::optional<Clock::time_point> m_popupPaintedAt;
};
