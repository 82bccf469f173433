#pragma once

#include "daemon/sync_status.h"
#include "views/named_color.h"

#include <QString>

#include <optional>

// What the status item shows: a symbol, the description read for it (tooltip
// and accessible name), and the colour it is tinted with.
struct StatusIcon {
    QString symbol;
    QString description;
    // Absent: not tinted, drawn in the panel's text colour.
    std::optional<NamedColor> color;

    bool operator==(const StatusIcon &) const = default;
};

// Shown from launch until the first status arrives.
StatusIcon launchIcon();
StatusIcon statusIcon(SyncStatus status);
