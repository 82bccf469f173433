#include "platform/peer_credentials.h"

#include <sys/socket.h>

std::optional<uid_t> PeerCredentials::userOf(int fd)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials.uid;
}
