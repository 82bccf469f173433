#include "platform/posix_io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PosixIo {

int unixStreamSocket(Blocking blocking)
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0), 0);
}

int acceptConnection(int listenFd, Blocking blocking)
{
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | (blocking == Blocking::no ? SOCK_NONBLOCK : 0));
}

bool makePipe(int fds[2], Blocking blocking)
{
    return ::pipe2(fds, O_CLOEXEC | (blocking == Blocking::no ? O_NONBLOCK : 0)) == 0;
}

ssize_t sendNoSignal(int fd, const void *data, std::size_t size, int flags)
{
    return ::send(fd, data, size, flags | MSG_NOSIGNAL);
}

} // namespace PosixIo
