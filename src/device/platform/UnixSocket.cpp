#include "device/platform/UnixSocket.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/time.h>
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

int ConnectWithin(const std::string& path, int timeoutMs)
{
    sockaddr_un addr;
    if (!FillAddress(addr, path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A Unix socket connect waits only while the listener's queue is full,
    // and that wait is bounded by the send timeout (EAGAIN when it runs out).
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int rc = setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (rc == 0) {
        do
            rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        while (rc != 0 && errno == EINTR);
    }
    if (rc != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

bool SomeoneListens(const std::string& path)
{
    const int fd = ConnectWithin(path, ConnectTimeoutMs);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace ktv::platform
