#pragma once

#include <QJsonValue>
#include <QMetaType>
#include <QString>

#include <optional>

// The daemon's five states, in their wire order.
enum class SyncStatus { syncing, synced, paused, error, loggedOut };

QString wireName(SyncStatus status);
std::optional<SyncStatus> syncStatusFromWire(const QString &name);
Q_DECLARE_METATYPE(SyncStatus)

// One decoded answer to "status". There is no partial record: `decode`
// yields a complete one or nothing.
struct StatusResponse {
    SyncStatus state = SyncStatus::loggedOut;
    qint64 pendingUploads = 0;
    qint64 pendingDownloads = 0;
    std::optional<QString> lastSync;
    QString syncFolder;
    QString serverUrl;
    std::optional<QString> userEmail;
    std::optional<QString> errorMessage;

    static std::optional<StatusResponse> decode(const QJsonValue &value);

    bool operator==(const StatusResponse &) const = default;
};
