// Preloaded into a companion under test: pidfd_open fails with ENOSYS, as on
// a kernel before 5.3 or under a sandbox's seccomp filter; every other system
// call goes through. Each refusal appends a line to the file named by
// TORNEL_REFUSED_PIDFD_LOG, so a test knows the refusal took place.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" long syscall(long number, ...) noexcept
{
    // Six arguments, as many as any system call takes; the C library's own syscall reads them alike.
    va_list list;
    va_start(list, number);
    long arguments[6];
    for (long &argument : arguments)
        argument = va_arg(list, long);
    va_end(list);

    if (number == SYS_pidfd_open) {
        if (const char *log = std::getenv("TORNEL_REFUSED_PIDFD_LOG")) {
            const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (fd >= 0) {
                (void)!::write(fd, "refused\n", 8);
                ::close(fd);
            }
        }
        errno = ENOSYS;
        return -1;
    }
    using Syscall = long (*)(long, ...);
    static const auto next = reinterpret_cast<Syscall>(::dlsym(RTLD_NEXT, "syscall"));
    return next(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
}
