#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <variant>

#include <sys/types.h>

// One launched child process: its PID, the read end of the one pipe that
// carries both its standard output and standard error, a descriptor that
// becomes readable when it ends, and its end. Only
// `waitForExit` reaps the child, and `signal` is refused once it has, so a
// signal can never reach an unrelated process that was given the same PID.
class ChildProcess {
public:
    using LaunchResult = std::variant<std::unique_ptr<ChildProcess>, std::error_code>;

    // Runs `path` with no arguments in the companion's environment and working
    // directory, in a process group of its own, with /dev/null as its input
    // and the output pipe as descriptors 1 and 2, no other descriptor,
    // every signal at its default action and none blocked. On Linux the child
    // gets SIGTERM when the calling thread ends, so call this from the thread
    // that lives as long as the companion; where that cannot be arranged
    // (macOS, or Linux refusing pidfd_open) a companion killed outright leaves
    // the daemon running. Fails with the error of the step that failed, the
    // exec's own when the file cannot run.
    static LaunchResult launch(const QString &path);

    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_outputFd; }
    // Readable once the child has ended, so its end can be polled with its output.
    int exitFd() const { return m_exitFd; }

    // Signals the child's process group: the child and what it started there.
    void signal(int signalNumber);
    bool hasExited() const;
    // Blocks until the child ends, reaps it and returns its exit code, or the
    // number of the signal that ended it. Called by exactly one thread.
    int waitForExit();
    // Whether the child ended within `timeout` (seen by `waitForExit`).
    bool waitUntilExited(std::chrono::milliseconds timeout) const;

private:
    ChildProcess(pid_t pid, int outputFd, int exitFd) : m_pid(pid), m_outputFd(outputFd), m_exitFd(exitFd) {}

    // The portable path (child_process_spawn.cpp): posix_spawn, and a thread
    // that waits for the end and then closes the write end of `exitFd`'s pipe.
    static LaunchResult launchBySpawn(const QString &path);

    const pid_t m_pid;
    const int m_outputFd;
    const int m_exitFd;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_exitedChanged;
    bool m_reaped = false;
    // Only on the portable path; joined on destruction.
    std::thread m_exitWaiter;
};
