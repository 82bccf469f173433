#include "platform/posix_io.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Where send(2) has no MSG_NOSIGNAL (older macOS), the socket itself is told (SO_NOSIGPIPE).
#ifdef MSG_NOSIGNAL
constexpr int noSignalFlag = MSG_NOSIGNAL;
#else
constexpr int noSignalFlag = 0;
#endif

bool keepsSigpipeAway(int fd)
{
#ifdef SO_NOSIGPIPE
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) == 0;
#else
    (void)fd;
    return true;
#endif
}

// Set either way: on BSD and macOS an accepted socket inherits the
// listening socket's O_NONBLOCK, on Linux it does not.
bool setFlags(int fd, PosixIo::Blocking blocking)
{
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    const int wanted = blocking == PosixIo::Blocking::no ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return flags >= 0 && (wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0);
}

// Closes `fd` when `ready` is false, keeping the errno of the failed step.
int keepOrClose(int fd, bool ready)
{
    if (ready)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

} // namespace

namespace PosixIo {

int unixStreamSocket(Blocking blocking)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    return fd < 0 ? fd : keepOrClose(fd, setFlags(fd, blocking) && keepsSigpipeAway(fd));
}

int acceptConnection(int listenFd, Blocking blocking)
{
    const int fd = ::accept(listenFd, nullptr, nullptr);
    return fd < 0 ? fd : keepOrClose(fd, setFlags(fd, blocking) && keepsSigpipeAway(fd));
}

bool makePipe(int fds[2], Blocking blocking)
{
    if (::pipe(fds) != 0)
        return false;
    if (setFlags(fds[0], blocking) && setFlags(fds[1], blocking))
        return true;
    const int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    errno = error;
    return false;
}

ssize_t sendNoSignal(int fd, const void *data, std::size_t size, int flags)
{
    return ::send(fd, data, size, flags | noSignalFlag);
}

} // namespace PosixIo
