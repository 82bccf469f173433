#include "sim_config.h"

#include <QByteArray>

#include <array>
#include <utility>

namespace {

using namespace Qt::StringLiterals;

QString invalid(const char *name, const QByteArray &value, const QString &expected)
{
    return u"%1=\"%2\" is not valid: expected %3"_s.arg(QLatin1StringView(name), QString::fromUtf8(value), expected);
}

// Reads an integer within [min, max] into `out`; unset or empty leaves it.
bool readInt(const char *name, qint64 min, qint64 max, std::optional<qint64> &out, QString &error)
{
    if (qEnvironmentVariableIsEmpty(name))
        return true;
    const QByteArray value = qgetenv(name);
    bool ok = false;
    const qint64 number = value.trimmed().toLongLong(&ok);
    if (!ok || number < min || number > max) {
        error = invalid(name, value, u"an integer from %1 to %2"_s.arg(min).arg(max));
        return false;
    }
    out = number;
    return true;
}

bool readRate(const char *name, double &out, QString &error)
{
    if (qEnvironmentVariableIsEmpty(name))
        return true;
    const QByteArray value = qgetenv(name);
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok || !(number >= 0.0 && number <= 1.0)) {
        error = invalid(name, value, u"a number from 0 to 1"_s);
        return false;
    }
    out = number;
    return true;
}

constexpr std::array<std::pair<const char *, SimConfig::Fault>, 5> faultNames{{
    {"close", SimConfig::Fault::close},
    {"silent", SimConfig::Fault::silent},
    {"garbage", SimConfig::Fault::garbage},
    {"error", SimConfig::Fault::error},
    {"split", SimConfig::Fault::split},
}};

bool readFault(SimConfig::Fault &out, QString &error)
{
    const QByteArray value = qgetenv("TORNEL_SIM_FAULT").trimmed();
    if (value.isEmpty())
        return true;
    for (const auto &[name, fault] : faultNames) {
        if (value == name) {
            out = fault;
            return true;
        }
    }
    error = invalid("TORNEL_SIM_FAULT", value, u"close, silent, garbage, error or split"_s);
    return false;
}

} // namespace

QLatin1StringView SimConfig::name(Fault fault)
{
    for (const auto &[name, value] : faultNames) {
        if (value == fault)
            return QLatin1StringView(name);
    }
    return "none"_L1;
}

std::optional<SimConfig> SimConfig::fromEnvironment(QString &error)
{
    SimConfig config;
    std::optional<qint64> tick, changes, exitAfter, exitStatus, seed;
    const bool ok = readInt("TORNEL_SIM_TICK_MS", 1, 3'600'000, tick, error)
        && readInt("TORNEL_SIM_CHANGES_MS", 1, 3'600'000, changes, error)
        && readInt("TORNEL_SIM_EXIT_AFTER_MS", 0, 86'400'000, exitAfter, error)
        && readInt("TORNEL_SIM_EXIT_STATUS", 0, 255, exitStatus, error)
        && readInt("TORNEL_SIM_CHAOS", 0, 0xffffffff, seed, error)
        && readRate("TORNEL_SIM_CHAOS_RATE", config.chaosRate, error)
        && readRate("TORNEL_SIM_CHAOS_CRASH_RATE", config.chaosCrashRate, error)
        && readFault(config.fault, error);
    if (!ok)
        return std::nullopt;
    if (seed && config.fault != Fault::none) {
        error = u"TORNEL_SIM_FAULT and TORNEL_SIM_CHAOS cannot be combined: set one of them"_s;
        return std::nullopt;
    }

    config.tickMs = int(tick.value_or(config.tickMs));
    config.changesMs = int(changes.value_or(config.changesMs));
    if (exitAfter)
        config.exitAfterMs = int(*exitAfter);
    config.exitStatus = int(exitStatus.value_or(config.exitStatus));
    if (seed)
        config.chaosSeed = quint32(*seed);
    return config;
}
