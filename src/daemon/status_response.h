#pragma once

#include "daemon/sync_status.h"

#include <QJsonValue>
#include <QString>

#include <optional>

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
