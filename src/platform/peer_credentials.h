#pragma once

#include <optional>

#include <sys/types.h>

// Who is at the other end of a connected Unix-domain socket: the user id of
// the process that listens (or connected), as the kernel recorded it; nothing
// when the system cannot tell. Linux asks with SO_PEERCRED
// (peer_credentials_linux.cpp), the BSDs and macOS with getpeereid
// (peer_credentials_bsd.cpp).
namespace PeerCredentials {

std::optional<uid_t> userOf(int fd);

} // namespace PeerCredentials
