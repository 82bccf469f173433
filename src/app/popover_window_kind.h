#pragma once

#include <QString>
#include <Qt>

// How the panel's window is made on a given Qt platform. On X11 a popup
// window places itself and closes on an outside click by its grab. On
// Wayland a parentless popup can neither be placed nor grab, so the panel is
// a frameless dialog that hides itself when it loses activation.
struct PopoverWindowKind {
    Qt::WindowFlags flags;
    bool hidesOnDeactivation;
};

PopoverWindowKind popoverWindowKind(const QString &platformName);
