#pragma once

#include <spawn.h>

// Sees to it that a child made by posix_spawn gets no descriptor above 2 of
// the companion's, in the way this system offers (chosen by CMake): a spawn
// flag added to `flags` on macOS, a file action after those already in
// `actions` where the C library has one, or else by marking every such
// descriptor of the companion close-on-exec. Returns 0 or an errno value.
int closeDescriptorsAbove2(posix_spawnattr_t &attributes, short &flags, posix_spawn_file_actions_t &actions);
