#include "app/status_icon.h"

StatusIcon launchIcon()
{
    return {QStringLiteral("person.crop.circle"), QStringLiteral("Tornel"), std::nullopt};
}

StatusIcon statusIcon(SyncStatus status)
{
    switch (status) {
    case SyncStatus::syncing:
        return {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("Tornel — Syncing"), NamedColor::blue};
    case SyncStatus::synced:
        return {QStringLiteral("checkmark.circle.fill"), QStringLiteral("Tornel — Up to date"), NamedColor::green};
    case SyncStatus::paused:
        return {QStringLiteral("pause.circle.fill"), QStringLiteral("Tornel — Paused"), NamedColor::yellow};
    case SyncStatus::error:
        return {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("Tornel — Error"), NamedColor::red};
    case SyncStatus::loggedOut:
        break;
    }
    return {QStringLiteral("person.crop.circle"), QStringLiteral("Tornel — Not logged in"), NamedColor::secondaryLabel};
}
