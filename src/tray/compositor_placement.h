#pragma once

class PopoverHost;

// On Wayland a window cannot place itself, so the panel would open wherever
// the compositor puts new windows. Where the compositor takes asking (sway
// over its IPC, Plasma's KWin over the session bus), this sets up what asks
// it to put the panel at its icon, and makes the panel a borderless popup
// again. Elsewhere it does nothing, and the panel remains a titled window.
void placeOnCompositor(PopoverHost &host);
