#include "device/platform/UnixSocket.h"

#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace ktv::platform {

bool FillAddress(sockaddr_un& addr, const std::string& path)
{
    if (path.size() >= sizeof addr.sun_path)
        return false;
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool SomeoneListens(const std::string& path)
{
    sockaddr_un addr;
    if (!FillAddress(addr, path))
        return false;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool listening = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return listening;
}

} // namespace ktv::platform
