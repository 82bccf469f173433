#include "daemon/spawn_descriptors.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/resource.h>

int closeDescriptorsAbove2(posix_spawnattr_t &, short &, posix_spawn_file_actions_t &)
{
    // The companion makes its own descriptors close-on-exec; this catches
    // those it inherited or a library opened without the flag.
    rlimit limit{};
    const int highest = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        ? int(std::min<rlim_t>(limit.rlim_cur, 65536))
        : 65536;
    for (int fd = 3; fd < highest; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    return 0;
}
