#pragma once

#include <cstddef>

#include <sys/types.h>

// Descriptors made close-on-exec from the start, and sends that never raise
// SIGPIPE, for the companion and the stand-in daemon alike. Linux does each
// in one call (posix_io_linux.cpp); elsewhere the flags are set right after
// (posix_io_posix.cpp): a daemon launched in between still gets none of them,
// since a launch closes every descriptor above 2 in the child.
namespace PosixIo {

enum class Blocking { yes, no };

// A Unix-domain stream socket; -1 with errno on failure.
int unixStreamSocket(Blocking blocking = Blocking::yes);
// The next pending connection on `listenFd`; -1 with errno on failure.
int acceptConnection(int listenFd, Blocking blocking = Blocking::yes);
// Both ends of a new pipe into `fds`; false with errno on failure.
bool makePipe(int fds[2], Blocking blocking = Blocking::yes);
// send(2) with `flags` (MSG_DONTWAIT, say), never raising SIGPIPE when the peer has gone.
ssize_t sendNoSignal(int fd, const void *data, std::size_t size, int flags = 0);

} // namespace PosixIo
