#pragma once

// What the application asks of the system as a whole, where that differs
// (chosen by CMake): on macOS (app_activation_macos.mm) a status item's
// program has no Dock icon and must be made the active application for its
// panel to take the keyboard; elsewhere (app_activation_generic.cpp) there is
// no Dock, and the window manager gives a shown panel the keyboard itself.
namespace AppActivation {

// No Dock icon and no menu bar of its own, also when run outside a bundle
// (a bundle's Info.plist says so with LSUIElement). Call once the
// application object exists.
void hideFromDock();
// Brings the application to the front, as the panel opens.
void activate();

} // namespace AppActivation
