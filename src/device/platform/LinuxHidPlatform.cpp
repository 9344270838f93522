#include "device/platform/LinuxHidPlatform.h"

#include "device/platform/PlatformHelpers.h"
#include "device/platform/UnixSocket.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ktv {

using namespace platform;

LinuxHidPlatform::LinuxHidPlatform()
    : LinuxHidPlatform(std::string())
{
}

LinuxHidPlatform::LinuxHidPlatform(std::string virtualBoxDir)
    : virtualBoxDir_(virtualBoxDir.empty() ? VirtualBoxDirectory() : std::move(virtualBoxDir))
{
}

LinuxHidPlatform::~LinuxHidPlatform()
{
    while (!open_.empty())
        Close(open_.begin()->first);
    if (hidapiReady_)
        hid_exit();
}

bool LinuxHidPlatform::Fail(std::uint32_t code)
{
    lastError_ = code;
    return false;
}

LinuxHidPlatform::Entry* LinuxHidPlatform::Find(PlatformHandle handle)
{
    const auto it = open_.find(handle);
    return it == open_.end() ? nullptr : &it->second;
}

std::vector<HidInterface> LinuxHidPlatform::ListInterfaces()
{
    std::vector<HidInterface> interfaces;
    if (UseHidapi) {
        if (!hidapiReady_)
            hidapiReady_ = hid_init() == 0;
        if (hidapiReady_) {
            hid_device_info* list = hid_enumerate(0, 0);
            // hidapi may list one node once per usage; the transport needs it once.
            std::set<std::string> seen;
            for (const hid_device_info* d = list; d; d = d->next) {
                if (!d->path || !seen.insert(d->path).second)
                    continue;
                interfaces.push_back({RealInstanceId({d->vendor_id, d->product_id}, d->path), d->path});
            }
            hid_free_enumeration(list);
        }
    }
    if (EnsureVirtualBoxDirectory(virtualBoxDir_)) {
        for (const HidInterface& box : ListVirtualBoxes(virtualBoxDir_))
            if (SomeoneListens(box.Path))
                interfaces.push_back(box);
    }
    lastError_ = PlatformError::None;
    return interfaces;
}

PlatformHandle LinuxHidPlatform::Open(const std::string& path)
{
    Entry entry;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        Fail(ErrnoToPlatformError(errno));
        return InvalidHandle;
    }
    if (S_ISSOCK(st.st_mode)) {
        const int fd = ConnectWithin(path, ConnectTimeoutMs);
        if (fd < 0) {
            Fail(ErrnoToPlatformError(errno));
            return InvalidHandle;
        }
        entry.Socket = fd;
        entry.SocketPath = path;
    } else {
        if (!hidapiReady_)
            hidapiReady_ = hid_init() == 0;
        entry.Device = hidapiReady_ ? hid_open_path(path.c_str()) : nullptr;
        if (!entry.Device) {
            // hidapi keeps only a text; open the node ourselves to learn why,
            // above all to tell a missing permission from a missing box.
            const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
            const int err = fd < 0 ? errno : EIO;
            if (fd >= 0)
                close(fd);
            Fail(ErrnoToPlatformError(err));
            return InvalidHandle;
        }
    }
    const PlatformHandle handle = nextHandle_++;
    open_[handle] = entry;
    lastError_ = PlatformError::None;
    return handle;
}

bool LinuxHidPlatform::Write(PlatformHandle handle, const Report& report)
{
    Entry* entry = Find(handle);
    if (!entry)
        return Fail(PlatformError::InvalidHandle);
    if (entry->Device) {
        errno = 0;
        const int rc = hid_write(entry->Device, report, ReportSize);
        if (rc < 0)
            return Fail(errno ? ErrnoToPlatformError(errno) : PlatformError::NotConnected);
        if (std::size_t(rc) != ReportSize)
            return Fail(PlatformError::IoError);
    } else {
        ssize_t rc = send(entry->Socket, report, ReportSize, MSG_NOSIGNAL);
        // A box that closed our connection (an older box drops idle ones)
        // but still listens is the same box: connect again once, silently,
        // as a real box's link never drops while it is plugged in.
        if (rc < 0 && (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) && Reconnect(*entry))
            rc = send(entry->Socket, report, ReportSize, MSG_NOSIGNAL);
        if (rc < 0)
            return Fail(ErrnoToPlatformError(errno));
        if (std::size_t(rc) != ReportSize)
            return Fail(PlatformError::IoError);
    }
    lastError_ = PlatformError::None;
    return true;
}

bool LinuxHidPlatform::Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs)
{
    bytesRead = 0;
    Entry* entry = Find(handle);
    if (!entry)
        return Fail(PlatformError::InvalidHandle);
    if (entry->Device) {
        std::uint8_t data[ReportSize];
        errno = 0;
        const int rc = hid_read_timeout(entry->Device, data, sizeof data, timeoutMs);
        if (rc <= 0)
            return Fail(HidReadErrorCode(rc, errno));
        ReframeInputReport(data, std::size_t(rc), report, bytesRead);
    } else {
        pollfd pfd{entry->Socket, POLLIN, 0};
        int ready;
        do
            ready = poll(&pfd, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        if (ready < 0)
            return Fail(ErrnoToPlatformError(errno));
        if (ready == 0)
            return Fail(PlatformError::Timeout);
        // The datagram is the whole input report, report ID included.
        const ssize_t rc = recv(entry->Socket, report, ReportSize, 0);
        if (rc < 0)
            return Fail(ErrnoToPlatformError(errno));
        if (rc == 0) // the box closed its end
            return Fail(PlatformError::NotConnected);
        bytesRead = std::size_t(rc);
        std::fill(report + bytesRead, report + ReportSize, std::uint8_t(0));
    }
    lastError_ = PlatformError::None;
    return true;
}

bool LinuxHidPlatform::Reconnect(Entry& entry)
{
    const int saved = errno;
    const int fd = ConnectWithin(entry.SocketPath, ConnectTimeoutMs);
    if (fd < 0) {
        errno = saved; // the failure reported is the one of the old connection
        return false;
    }
    close(entry.Socket);
    entry.Socket = fd;
    return true;
}

LinkWatch LinuxHidPlatform::WatchLink(PlatformHandle handle)
{
    const Entry* entry = Find(handle);
    return entry ? entry->Socket : NoLinkWatch;
}

bool LinuxHidPlatform::HungUp(PlatformHandle handle)
{
    Entry* entry = Find(handle);
    if (!entry || entry->Socket < 0)
        return false;
    for (;;) {
        pollfd pfd{entry->Socket, POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0)
            return false;
        std::uint8_t stale[ReportSize];
        const ssize_t rc = recv(entry->Socket, stale, sizeof stale, MSG_DONTWAIT);
        if (rc > 0)
            continue; // a reply nobody waits for any more
        if (rc < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return false;
        // The box closed its end: gone, unless its socket still accepts.
        return !Reconnect(*entry);
    }
}

void LinuxHidPlatform::Close(PlatformHandle handle)
{
    const auto it = open_.find(handle);
    if (it == open_.end())
        return;
    if (it->second.Device)
        hid_close(it->second.Device);
    if (it->second.Socket >= 0)
        close(it->second.Socket);
    open_.erase(it);
}

} // namespace ktv
