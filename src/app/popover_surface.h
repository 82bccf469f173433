#pragma once

// What the tray click needs of the panel's window, so the open/close
// decision can be driven without a tray or a window system.
class PopoverSurface {
public:
    virtual ~PopoverSurface() = default;

    virtual bool isShown() const = 0;
    // Places the panel under the tray icon (or at the pointer) and shows it.
    virtual void showAnchored() = 0;
    virtual void closePopover() = 0;
    // Brings the panel to the front with keyboard focus, so its fields take
    // typing at once.
    virtual void activate() = 0;
};
