#include "daemon/spawn_descriptors.h"

int closeDescriptorsAbove2(posix_spawnattr_t &, short &flags, posix_spawn_file_actions_t &)
{
    // Every descriptor not named by a file action is closed in the child.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    return 0;
}
