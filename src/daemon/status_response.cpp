#include "daemon/status_response.h"

#include <QJsonObject>

#include <array>
#include <cmath>
#include <utility>

namespace {

using namespace Qt::StringLiterals;

constexpr std::array<std::pair<SyncStatus, QLatin1StringView>, 5> wireNames{{
    {SyncStatus::syncing, "syncing"_L1},
    {SyncStatus::synced, "synced"_L1},
    {SyncStatus::paused, "paused"_L1},
    {SyncStatus::error, "error"_L1},
    {SyncStatus::loggedOut, "logged_out"_L1},
}};

// Present, not null and a string.
std::optional<QString> requiredString(const QJsonObject &object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// Absent or null gives an absent field; anything but a string fails.
bool optionalString(const QJsonObject &object, QLatin1StringView key, std::optional<QString> &field)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    field = value.toString();
    return true;
}

// An integral JSON number that fits a signed 64-bit integer.
std::optional<qint64> requiredCount(const QJsonObject &object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    // Integers the parser kept exactly come back as qlonglong.
    const QVariant exact = value.toVariant();
    if (exact.typeId() == QMetaType::LongLong)
        return exact.toLongLong();
    const double number = value.toDouble();
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (!std::isfinite(number) || std::trunc(number) != number || number < -limit || number >= limit)
        return std::nullopt;
    return qint64(number);
}

} // namespace

QString wireName(SyncStatus status)
{
    for (const auto &[value, name] : wireNames) {
        if (value == status)
            return name;
    }
    return {};
}

std::optional<SyncStatus> syncStatusFromWire(const QString &name)
{
    for (const auto &[value, wire] : wireNames) {
        if (name == wire)
            return value;
    }
    return std::nullopt;
}

std::optional<StatusResponse> StatusResponse::decode(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    const std::optional<QString> stateName = requiredString(object, "state"_L1);
    const std::optional<SyncStatus> state = stateName ? syncStatusFromWire(*stateName) : std::nullopt;
    const std::optional<qint64> uploads = requiredCount(object, "pendingUploads"_L1);
    const std::optional<qint64> downloads = requiredCount(object, "pendingDownloads"_L1);
    const std::optional<QString> syncFolder = requiredString(object, "syncFolder"_L1);
    const std::optional<QString> serverUrl = requiredString(object, "serverUrl"_L1);
    if (!state || !uploads || !downloads || !syncFolder || !serverUrl)
        return std::nullopt;

    StatusResponse record;
    record.state = *state;
    record.pendingUploads = *uploads;
    record.pendingDownloads = *downloads;
    record.syncFolder = *syncFolder;
    record.serverUrl = *serverUrl;
    if (!optionalString(object, "lastSync"_L1, record.lastSync)
        || !optionalString(object, "userEmail"_L1, record.userEmail)
        || !optionalString(object, "errorMessage"_L1, record.errorMessage))
        return std::nullopt;
    return record;
}
