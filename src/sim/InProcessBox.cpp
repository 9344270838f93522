#include "sim/InProcessBox.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ktv {

InProcessBox::~InProcessBox() { CloseHangUp(); }

void InProcessBox::CloseHangUp()
{
#ifdef _WIN32
    if (hangUp_)
        CloseHandle(hangUp_);
    hangUp_ = nullptr;
#else
    for (int& fd : hangUp_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
#endif
}

LinkWatch InProcessBox::WatchLink(PlatformHandle handle)
{
    if (handle == InvalidHandle || handle != open_)
        return NoLinkWatch;
#ifdef _WIN32
    if (!hangUp_)
        hangUp_ = CreateEventW(nullptr, TRUE, dead_, nullptr);
    return hangUp_;
#else
    if (hangUp_[0] < 0 && pipe(hangUp_) != 0)
        hangUp_[0] = hangUp_[1] = -1;
    return hangUp_[0];
#endif
}

bool InProcessBox::HungUp(PlatformHandle handle) { return handle != InvalidHandle && handle == open_ && dead_; }

void InProcessBox::Die()
{
    dead_ = true;
#ifdef _WIN32
    if (hangUp_)
        SetEvent(hangUp_);
#else
    if (hangUp_[1] >= 0)
        (void)!write(hangUp_[1], "x", 1);
#endif
}

void InProcessBox::Replace()
{
    dead_ = false;
    Box = VirtualBox{};
    CloseHangUp();
}

std::vector<HidInterface> InProcessBox::ListInterfaces()
{
    std::vector<HidInterface> list = OtherDevices;
    if (Present)
        list.push_back({InstanceId, Path});
    return list;
}

PlatformHandle InProcessBox::Open(const std::string& path)
{
    if (path != Path || !Present || dead_) {
        lastError_ = PlatformError::NotConnected;
        return InvalidHandle;
    }
    if (DenyAccess) {
        lastError_ = PlatformError::AccessDenied;
        return InvalidHandle;
    }
    // A fresh number per open, so a handle kept from before a close stays dead.
    open_ = nextHandle_++;
    hasPending_ = false;
    lastError_ = PlatformError::None;
    return open_;
}

bool InProcessBox::Write(PlatformHandle handle, const Report& report)
{
    if (handle == InvalidHandle || handle != open_) {
        lastError_ = PlatformError::InvalidHandle;
        return false;
    }
    if (!Present || dead_) { // unplugged or dead while open
        lastError_ = PlatformError::NotConnected;
        return false;
    }
    pending_ = Box.Handle(report, ReportSize);
    hasPending_ = !pending_.empty();
    lastError_ = PlatformError::None;
    return true;
}

bool InProcessBox::Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int /*timeoutMs*/)
{
    bytesRead = 0;
    if (handle == InvalidHandle || handle != open_) {
        lastError_ = PlatformError::InvalidHandle;
        return false;
    }
    if (!hasPending_) {
        // Nothing will ever arrive; report the timeout at once instead of waiting.
        lastError_ = PlatformError::Timeout;
        return false;
    }
    const std::size_t size = std::min(pending_.size(), ReportSize);
    std::copy_n(pending_.begin(), size, report);
    bytesRead = size;
    hasPending_ = false;
    lastError_ = PlatformError::None;
    return true;
}

void InProcessBox::Close(PlatformHandle handle)
{
    if (handle != InvalidHandle && handle == open_) {
        open_ = InvalidHandle;
        hasPending_ = false;
    }
}

} // namespace ktv
