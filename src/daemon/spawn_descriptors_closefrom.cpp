#include "daemon/spawn_descriptors.h"

int closeDescriptorsAbove2(posix_spawnattr_t &, short &, posix_spawn_file_actions_t &actions)
{
    return ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}
