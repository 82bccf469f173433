#include "daemon/sync_status.h"

#include <array>
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
