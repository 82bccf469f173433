#pragma once

#include "views/panel_style.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class DaemonManager;
class MenuBarView;
class QVBoxLayout;
class SyncState;

// Within this time after the panel hid, a tray trigger belongs to the click
// that hid it: with an XEmbed tray the popup's grab turns the press into the
// closing click, and a StatusNotifierItem host delivers its activation about
// 0.2 s after the outside click that already closed the panel.
inline constexpr std::chrono::milliseconds trayTriggerDebounce{300};

// Whether a tray trigger at `now` should be ignored because the panel hid at
// `hiddenAt`, just before.
bool isTriggerDebounced(std::chrono::steady_clock::time_point now,
                        std::optional<std::chrono::steady_clock::time_point> hiddenAt);

// How the panel's window is made on a given Qt platform. On X11 a popup
// window places itself and closes on an outside click by its grab. On
// Wayland a parentless popup can neither be placed nor grab, so the panel
// hides itself when it loses activation; it is a frameless dialog where the
// compositor is asked to put it at the icon (`placedByCompositor`), and a
// titled window elsewhere, where it opens away from the icon.
struct PopoverWindowKind {
    Qt::WindowFlags flags;
    bool hidesOnDeactivation;
};

PopoverWindowKind popoverWindowKind(const QString &platformName, bool placedByCompositor = false);

// The frameless 320 by 400 window that hangs from the tray icon and holds
// the one panel. The panel is built on first use, so a companion whose panel
// is never opened loads no fonts and lays nothing out; it then keeps its state
// (an open login form, typed text) across openings. The window closes on
// Escape and on a click outside it.
class PopoverHost : public QWidget {
    Q_OBJECT
public:
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr QSize contentSize{panelWidth, 400};

    PopoverHost(SyncState &syncState, DaemonManager &daemonManager, SteadyClock clock = &std::chrono::steady_clock::now,
                QWidget *parent = nullptr);

    // Built now if it was not yet.
    MenuBarView &panel();

    // Where the tray icon is, in screen coordinates; an empty rectangle when
    // the tray does not say (most StatusNotifierItem hosts), which takes the
    // pointer at a click on the icon instead.
    void setTrayIconGeometrySource(std::function<QRect()> source);

    // The click on the tray icon: closes an open panel, opens a closed one
    // unless it closed just now. Deciding on "is it shown" alone would reopen
    // the panel with the very click that closed it. The icon is where the
    // tray says, or under the pointer; later openings hang there too.
    void toggle();
    // Shows the panel whether or not it closed just now (the tray menu, a
    // second start, a notification), and brings it to the front with keyboard
    // focus. It hangs from where the icon was last seen, never from the
    // pointer, which is elsewhere; before the first click, from the far end of
    // the desktop's panel.
    void open();
    // Without a tray there is no icon to hang the panel from: it then opens
    // as an ordinary window with a title and a close button, placed by the
    // window manager. Takes effect at the next opening.
    void setWindowed(bool windowed);
    // The compositor is asked to place the panel (see compositor_placement.h).
    // Takes effect at the next opening.
    void setPlacedByCompositor(bool placed);

signals:
    // The panel was shown under its icon, by a click on it (`byClick`, the
    // pointer then being on the icon) or otherwise: for the compositors that
    // place windows only when asked (see compositor_placement.h).
    void shownAtIcon(bool byClick);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void openAt(bool byClick);
    void showAnchored(bool byClick);
    QRect iconAnchor() const;

    SyncState &m_syncState;
    DaemonManager &m_daemonManager;
    QVBoxLayout *m_column;
    MenuBarView *m_panel = nullptr;
    SteadyClock m_clock;
    std::optional<std::chrono::steady_clock::time_point> m_hiddenAt;
    bool m_hidesOnDeactivation;
    Qt::WindowFlags m_popupFlags;
    // Asked for, and what the window was last made as.
    bool m_windowed = false;
    bool m_madeAsWindow = false;
    std::function<QRect()> m_trayIconGeometry;
    // Where the icon was last seen: the tray's word or a click's point.
    QRect m_iconSeenAt;
};
