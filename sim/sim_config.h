#pragma once

#include <QString>

#include <optional>

// What the environment asks of this run: the sync pace and the faults to
// inject. Every variable is optional; see README.md.
struct SimConfig {
    enum class Fault { none, close, silent, garbage, error, split };

    int tickMs = 1000;     // one pending upload and download done per tick
    int changesMs = 30000; // a few simulated changes arrive this often
    Fault fault = Fault::none;
    std::optional<int> exitAfterMs;
    int exitStatus = 1;
    std::optional<quint32> chaosSeed;
    double chaosRate = 0.3;       // share of connections that meet a chaos event
    double chaosCrashRate = 0.02; // share of connections that end the process

    // Reads the TORNEL_SIM_* variables; a value it cannot use is an error
    // (returned through `error`) rather than silently ignored.
    static std::optional<SimConfig> fromEnvironment(QString &error);
    // The TORNEL_SIM_FAULT value that selects `fault`.
    static QLatin1StringView name(Fault fault);
};
