#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

// Decides whether a failed daemon is restarted, and after how long. Restarts
// are counted in a window that each restart moves: a failure more than 60.0 s
// after the previous restart begins a new window. Within one window the
// delays grow 1, 2, 4 s, and a failure after the third restart is refused.
class RestartPolicy {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Seconds = std::chrono::duration<double>;

    static constexpr qint64 maxRestartsPerMinute = 3;
    static constexpr Seconds window{60.0};

    // One failure at `now`: the delay before the restart, or nothing when the
    // window's restarts are used up (the count and time then stay as they were).
    std::optional<Seconds> restartDelay(TimePoint now);

    qint64 restartCount() const { return m_restartCount; }

private:
    qint64 m_restartCount = 0;
    // Absent until the first restart, so the first failure always begins a window.
    std::optional<TimePoint> m_lastRestartTime;
};
