#pragma once

#include "daemon/status_response.h"

#include <QString>

// A colour chosen by name and resolved where it is drawn: against the palette
// in the panel (resolveColor), for the desktop's panel in the tray (trayIcon).
enum class NamedColor { primaryLabel, secondaryLabel, accent, blue, green, yellow, red, gray };

// How one sync status is told, in one table that the model's text, the panel
// and the tray icon all read: the text (for syncing the text without a count,
// for error the text without a message), the symbol (the same in the tray and
// in the panel), the description the tray reads for its icon, and the colour
// in each place. Only the logged-out colours differ between the two.
struct StatusLook {
    QString text;
    QString symbol;
    QString trayDescription;
    NamedColor trayColor;
    NamedColor panelColor;
};

StatusLook statusLook(SyncStatus status);
