#include "daemon/child_process.h"

// Without Linux's pidfd and parent-death signal, posix_spawn is the only path.
ChildProcess::LaunchResult ChildProcess::launch(const QString &path)
{
    return launchBySpawn(path);
}
