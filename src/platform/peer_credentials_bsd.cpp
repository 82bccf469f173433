#include "platform/peer_credentials.h"

#include <unistd.h>

std::optional<uid_t> PeerCredentials::userOf(int fd)
{
    uid_t user = 0;
    gid_t group = 0;
    if (::getpeereid(fd, &user, &group) != 0)
        return std::nullopt;
    return user;
}
