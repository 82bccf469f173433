#pragma once

#include <QString>

#include <optional>

// The daemon's five states, in their wire order.
enum class SyncStatus { syncing, synced, paused, error, loggedOut };

QString wireName(SyncStatus status);
std::optional<SyncStatus> syncStatusFromWire(const QString &name);

#include <QMetaType>
Q_DECLARE_METATYPE(SyncStatus)
