#include "device/InProcessBox.h"

#include <algorithm>

namespace ktv {

std::vector<HidInterface> InProcessBox::ListInterfaces()
{
    std::vector<HidInterface> list = OtherDevices;
    if (Present)
        list.push_back({InstanceId, Path});
    return list;
}

PlatformHandle InProcessBox::Open(const std::string& path)
{
    if (path != Path || !Present) {
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
    if (!Present) { // unplugged while open
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
