#pragma once

#include <chrono>
#include <functional>
#include <optional>

class PopoverSurface;

// Within this time after the panel hid, a tray trigger belongs to the click
// that hid it: with an XEmbed tray the popup's grab turns the press into the
// closing click, and a StatusNotifierItem host delivers its activation about
// 0.2 s after the outside click that already closed the panel.
inline constexpr std::chrono::milliseconds trayTriggerDebounce{300};

// Whether a tray trigger at `now` should be ignored because the panel hid at
// `hiddenAt`, just before.
bool isTriggerDebounced(std::chrono::steady_clock::time_point now,
                        std::optional<std::chrono::steady_clock::time_point> hiddenAt);

// The tray icon's open/close decision. Deciding on "is it shown" alone would
// reopen the panel with the very click that closed it.
class PopoverToggle {
public:
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    explicit PopoverToggle(PopoverSurface &surface, SteadyClock clock = &std::chrono::steady_clock::now);

    // A click on the tray icon: closes an open panel, opens a closed one
    // unless it closed just now.
    void toggle();
    // An explicit request to show the panel, as from the tray menu.
    void open();
    // The surface reports every hiding, however it came about.
    void surfaceHidden();

private:
    PopoverSurface &m_surface;
    SteadyClock m_clock;
    std::optional<std::chrono::steady_clock::time_point> m_hiddenAt;
};
