#include "state/status_look.h"

#include <QCoreApplication>

StatusLook statusLook(SyncStatus status)
{
    using enum NamedColor;
    // The texts keep the translation context of the model that shows them.
    switch (status) {
    case SyncStatus::syncing:
        return {QCoreApplication::translate("SyncState", "Syncing..."), QStringLiteral("arrow.triangle.2.circlepath"),
                QCoreApplication::translate("StatusLook", "Tornel — Syncing"), blue, blue};
    case SyncStatus::synced:
        return {QCoreApplication::translate("SyncState", "All files up to date"),
                QStringLiteral("checkmark.circle.fill"),
                QCoreApplication::translate("StatusLook", "Tornel — Up to date"), green, green};
    case SyncStatus::paused:
        return {QCoreApplication::translate("SyncState", "Sync paused"), QStringLiteral("pause.circle.fill"),
                QCoreApplication::translate("StatusLook", "Tornel — Paused"), yellow, yellow};
    case SyncStatus::error:
        return {QCoreApplication::translate("SyncState", "Sync error"), QStringLiteral("exclamationmark.triangle.fill"),
                QCoreApplication::translate("StatusLook", "Tornel — Error"), red, red};
    case SyncStatus::loggedOut:
        break;
    }
    return {QCoreApplication::translate("SyncState", "Not logged in"), QStringLiteral("person.crop.circle"),
            QCoreApplication::translate("StatusLook", "Tornel — Not logged in"), secondaryLabel, gray};
}
