#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

// What /proc tells about one process at one moment. CPU time is summed over
// its threads from schedstat (nanoseconds, not the 10 ms ticks of stat).
struct ProcessSample {
    qint64 cpuNs = 0;
    qint64 rssKb = 0;
    qint64 privateDirtyKb = 0;
    qint64 anonymousKb = 0;
    int threads = 0;
    int fds = 0;
    qint64 contextSwitches = 0;
    // Times the main thread went to sleep and was woken again.
    qint64 mainThreadWakeups = 0;

    // Absent once the process is gone.
    static std::optional<ProcessSample> of(pid_t pid);
};
