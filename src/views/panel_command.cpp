#include "views/panel_command.h"

PanelCommandLook commandLook(PanelCommand command)
{
    switch (command) {
    case PanelCommand::pauseSyncing:
        return {QStringLiteral("Pause Syncing"), QStringLiteral("pause.fill"), NamedColor::yellow};
    case PanelCommand::resumeSyncing:
        return {QStringLiteral("Resume Syncing"), QStringLiteral("play.fill"), NamedColor::green};
    case PanelCommand::retrySync:
        return {QStringLiteral("Retry Sync"), QStringLiteral("arrow.clockwise"), NamedColor::blue};
    case PanelCommand::openSyncFolder:
        return {QStringLiteral("Open Sync Folder"), QStringLiteral("folder.fill"), NamedColor::accent};
    case PanelCommand::logOut:
        return {QStringLiteral("Log Out"), QStringLiteral("rectangle.portrait.and.arrow.right"), NamedColor::secondaryLabel};
    case PanelCommand::logIn:
        return {QStringLiteral("Log In to Tornel"), QStringLiteral("person.crop.circle.badge.plus"), NamedColor::accent};
    case PanelCommand::quit:
        return {QStringLiteral("Quit Tornel"), QStringLiteral("xmark.circle"), NamedColor::secondaryLabel};
    }
    return {};
}

QList<PanelCommand> commandsForStatus(SyncStatus status)
{
    switch (status) {
    case SyncStatus::loggedOut:
        return {PanelCommand::logIn};
    case SyncStatus::paused:
        return {PanelCommand::resumeSyncing, PanelCommand::openSyncFolder, PanelCommand::logOut};
    case SyncStatus::error:
        return {PanelCommand::retrySync, PanelCommand::openSyncFolder, PanelCommand::logOut};
    case SyncStatus::syncing:
    case SyncStatus::synced:
        break;
    }
    return {PanelCommand::pauseSyncing, PanelCommand::openSyncFolder, PanelCommand::logOut};
}
