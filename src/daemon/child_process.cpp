#include "daemon/child_process.h"

#include <signal.h>

#include <sys/wait.h>
#include <unistd.h>

ChildProcess::~ChildProcess()
{
    if (m_exitWaiter.joinable())
        m_exitWaiter.join();
    ::close(m_outputFd);
    ::close(m_exitFd);
}

void ChildProcess::signal(int signalNumber)
{
    // The whole group, so what the daemon started ends with it. Until the
    // daemon is reaped its PID, and so its group's, names nothing else.
    std::lock_guard lock(m_mutex);
    if (!m_reaped)
        ::kill(-m_pid, signalNumber);
}

bool ChildProcess::hasExited() const
{
    std::lock_guard lock(m_mutex);
    return m_reaped;
}

int ChildProcess::waitForExit()
{
    // Wait without reaping first: until the reap below, under the lock that
    // `signal` takes, the PID still belongs to this child.
    siginfo_t info {};
    while (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    int status = 0;
    {
        std::lock_guard lock(m_mutex);
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
    }
    m_exitedChanged.notify_all();
    return WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status);
}

bool ChildProcess::waitUntilExited(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_exitedChanged.wait_for(lock, timeout, [this] { return m_reaped; });
}
