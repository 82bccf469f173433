#pragma once

#include "daemon/sync_status.h"
#include "views/named_color.h"

#include <QList>
#include <QString>

// The commands of the panel. The panel's command section and the tray icon's
// menu both list them from commandsForStatus(), so the two never disagree.
enum class PanelCommand { pauseSyncing, resumeSyncing, retrySync, openSyncFolder, logOut, logIn, quit };

struct PanelCommandLook {
    QString title;
    QString symbol;
    NamedColor symbolColor;
};

PanelCommandLook commandLook(PanelCommand command);

// The commands offered in `status`, top to bottom, without "Quit Tornel",
// which always comes last after a divider.
QList<PanelCommand> commandsForStatus(SyncStatus status);
