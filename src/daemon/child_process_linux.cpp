#include "daemon/child_process.h"

#include "platform/posix_io.h"

#include <QFile>

#include <algorithm>

#include <signal.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}

// Between fork and exec: makes `fd` the descriptor `target`. dup2 onto itself
// would keep close-on-exec, so that case clears the flag instead.
bool installAs(int fd, int target)
{
    if (fd == target)
        return ::fcntl(fd, F_SETFD, 0) == 0;
    return ::dup2(fd, target) == target;
}

// Between fork and exec: leaves the daemon only descriptors 0-2 and the
// default action for every signal, whatever the companion holds or ignores
// (the companion and D-Bus ignore SIGPIPE process-wide, and an ignored
// signal stays ignored across exec).
void resetInheritedState()
{
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        rlimit limit{};
        const int highest = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
            ? int(std::min<rlim_t>(limit.rlim_cur, 65536))
            : 65536;
        for (int fd = 3; fd < highest; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber != SIGKILL && signalNumber != SIGSTOP)
            ::sigaction(signalNumber, &defaultAction, nullptr);
    }
    // The mask survives exec too; a blocked SIGTERM would make every stop wait for SIGKILL.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Whether this kernel, and any sandbox around the companion, lets a process
// be watched through a pidfd (Linux 5.3 and later). Asked once, of the
// companion itself.
bool pidfdAvailable()
{
    static const bool available = [] {
        const int fd = int(::syscall(SYS_pidfd_open, ::getpid(), 0));
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }();
    return available;
}

void reap(pid_t pid)
{
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Between fork and exec: reports errno to the parent, which is waiting for
// either this or the end of the pipe that a successful exec closes.
[[noreturn]] void failInChild(int statusFd)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(statusFd, &error, sizeof(error));
    ::_exit(127);
}

} // namespace

ChildProcess::LaunchResult ChildProcess::launch(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    char *const argv[] = {const_cast<char *>(file.constData()), nullptr};

    if (!pidfdAvailable())
        return launchBySpawn(path);

    int output[2];
    if (!PosixIo::makePipe(output))
        return lastError();
    int status[2];
    if (!PosixIo::makePipe(status)) {
        const std::error_code error = lastError();
        ::close(output[0]);
        ::close(output[1]);
        return error;
    }
    // Nothing to read: a terminal as its input would stop the daemon with SIGTTIN in its background group.
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0) {
        const std::error_code error = lastError();
        for (const int fd : {output[0], output[1], status[0], status[1]})
            ::close(fd);
        return error;
    }

    // vfork: the companion waits only until the child has called exec, and
    // none of its pages are copied (fork costs it milliseconds and a fault on
    // every page it writes soon after). The child borrows the companion's
    // memory until exec, so it only makes system calls; signals stay blocked
    // meanwhile, so no handler of the companion's runs in the child.
    sigset_t allSignals;
    sigset_t previousMask;
    sigfillset(&allSignals);
    ::pthread_sigmask(SIG_SETMASK, &allSignals, &previousMask);
    const pid_t parent = ::getpid();
    const pid_t pid = ::vfork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec: another thread may have
        // held a lock (malloc's, Qt's) at the moment of the fork.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
            failInChild(status[1]);
        // The companion died before the line above took effect.
        if (::getppid() != parent)
            ::_exit(127);
        // Its own process group: a Ctrl-C in the terminal reaches the
        // companion only, which then stops the daemon in order.
        ::setpgid(0, 0);
        if (!installAs(nothing, STDIN_FILENO) || !installAs(output[1], STDOUT_FILENO)
            || !installAs(output[1], STDERR_FILENO))
            failInChild(status[1]);
        resetInheritedState();
        ::execv(argv[0], argv);
        failInChild(status[1]);
    }

    const std::error_code forkError = lastError();
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::close(nothing);
    ::close(output[1]);
    ::close(status[1]);
    if (pid < 0) {
        ::close(output[0]);
        ::close(status[0]);
        return forkError;
    }

    int execError = 0;
    ssize_t received;
    do
        received = ::read(status[0], &execError, sizeof(execError));
    while (received < 0 && errno == EINTR);
    ::close(status[0]);
    if (received > 0) {
        reap(pid);
        ::close(output[0]);
        return std::error_code(execError, std::system_category());
    }
    // The PID stays this child's until it is reaped, so the pidfd cannot name another process.
    // Through syscall(2): glibc 2.36's <sys/pidfd.h> declares its wrapper without C linkage.
    const int exitFd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (exitFd < 0) {
        const std::error_code error = lastError();
        ::kill(pid, SIGKILL);
        reap(pid);
        ::close(output[0]);
        return error;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, output[0], exitFd));
}
