#include "daemon/child_process.h"

#include "daemon/spawn_descriptors.h"
#include "platform/posix_io.h"

#include <QFile>

#include <signal.h>
#include <fcntl.h>
#include <spawn.h>

#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// Owns the attributes and file actions of one posix_spawn.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    int failure = 0;

    SpawnSetup()
    {
        failure = ::posix_spawnattr_init(&attributes);
        if (failure == 0 && (failure = ::posix_spawn_file_actions_init(&actions)) != 0)
            ::posix_spawnattr_destroy(&attributes);
    }
    ~SpawnSetup()
    {
        if (failure != 0)
            return;
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

// The daemon's start, whatever the companion holds: every signal at its
// default action (the companion ignores SIGPIPE, and an ignored signal stays
// ignored across exec), none blocked (a blocked SIGTERM would make every stop
// wait for SIGKILL), a process group of its own (a Ctrl-C in the terminal
// reaches the companion only, which then stops the daemon in order), nothing
// to read (a terminal as its input would stop it with SIGTTIN in a background
// group), the output pipe as descriptors 1 and 2, and no other descriptor above 2.
int prepare(SpawnSetup &setup, int outputFd)
{
    sigset_t catchable;
    sigfillset(&catchable);
    sigdelset(&catchable, SIGKILL);
    sigdelset(&catchable, SIGSTOP);
    sigset_t none;
    sigemptyset(&none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP;
    int failure = 0;
    if ((failure = ::posix_spawnattr_setsigdefault(&setup.attributes, &catchable)) != 0
        || (failure = ::posix_spawnattr_setsigmask(&setup.attributes, &none)) != 0
        || (failure = ::posix_spawnattr_setpgroup(&setup.attributes, 0)) != 0
        || (failure = ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) != 0
        || (failure = ::posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDOUT_FILENO)) != 0
        || (failure = ::posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDERR_FILENO)) != 0
        || (failure = closeDescriptorsAbove2(setup.attributes, flags, setup.actions)) != 0)
        return failure;
    return ::posix_spawnattr_setflags(&setup.attributes, flags);
}

} // namespace

ChildProcess::LaunchResult ChildProcess::launchBySpawn(const QString &path)
{
    const auto lastError = [] { return std::error_code(errno, std::system_category()); };
    const QByteArray file = QFile::encodeName(path);
    char *const argv[] = {const_cast<char *>(file.constData()), nullptr};

    int output[2];
    if (!PosixIo::makePipe(output))
        return lastError();
    // Its write end is closed once the child has ended, which makes the read end readable.
    int exited[2];
    if (!PosixIo::makePipe(exited)) {
        const std::error_code error = lastError();
        ::close(output[0]);
        ::close(output[1]);
        return error;
    }

    SpawnSetup setup;
    pid_t pid = -1;
    int failure = setup.failure;
    if (failure == 0 && (failure = prepare(setup, output[1])) == 0)
        failure = ::posix_spawn(&pid, argv[0], &setup.actions, &setup.attributes, argv, environ);
    ::close(output[1]);
    if (failure != 0) {
        ::close(output[0]);
        ::close(exited[0]);
        ::close(exited[1]);
        return std::error_code(failure, std::system_category());
    }

    std::unique_ptr<ChildProcess> child(new ChildProcess(pid, output[0], exited[0]));
    // Waits without reaping: only waitForExit reaps, under the lock that
    // `signal` takes, so the PID cannot pass to another process meanwhile.
    child->m_exitWaiter = std::thread([pid, notify = exited[1]] {
        siginfo_t info{};
        while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
        ::close(notify);
    });
    return child;
}
