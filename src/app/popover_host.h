#pragma once

#include "app/popover_surface.h"
#include "app/popover_toggle.h"

#include <QWidget>

#include <functional>

class DaemonManager;
class MenuBarView;
class SyncState;

// The frameless 320 by 400 window that hangs from the tray icon and holds
// the one panel. The panel is built once and keeps its state (an open login
// form, typed text) across openings. The window closes on Escape and on a
// click outside it.
class PopoverHost : public QWidget, private PopoverSurface {
    Q_OBJECT
public:
    static constexpr QSize contentSize{320, 400};

    PopoverHost(SyncState &syncState, DaemonManager &daemonManager,
                PopoverToggle::SteadyClock clock = &std::chrono::steady_clock::now, QWidget *parent = nullptr);

    MenuBarView &panel() const { return *m_panel; }

    // Where the tray icon is, in screen coordinates; an empty rectangle when
    // the tray does not say (most StatusNotifierItem hosts), which places the
    // panel at the pointer instead.
    void setTrayIconGeometrySource(std::function<QRect()> source);

    // The click on the tray icon.
    void toggle();
    // Shows the panel whether or not it closed just now (the tray menu).
    void open();

    bool isShown() const override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showAnchored() override;
    void closePopover() override;
    void activate() override;

    MenuBarView *m_panel;
    PopoverToggle m_toggle;
    bool m_hidesOnDeactivation;
    std::function<QRect()> m_trayIconGeometry;
};
