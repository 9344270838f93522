#pragma once
// The transport's platform services on Windows: the present HID interfaces
// through SetupAPI, each opened with CreateFileW and read with overlapped
// I/O so that a wait never outlasts its bound.

#include "device/HidPlatform.h"

#include <map>

namespace ktv {

class WindowsHidPlatform final : public HidPlatform {
public:
    WindowsHidPlatform() = default;
    ~WindowsHidPlatform() override;
    WindowsHidPlatform(const WindowsHidPlatform&) = delete;
    WindowsHidPlatform& operator=(const WindowsHidPlatform&) = delete;

    std::vector<HidInterface> ListInterfaces() override;
    PlatformHandle Open(const std::string& path) override;
    bool Write(PlatformHandle handle, const Report& report) override;
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override;
    void Close(PlatformHandle handle) override;
    std::uint32_t LastError() override { return lastError_; }

    // The PlatformError a Windows error code stands for; codes it does not
    // name pass unchanged.
    static std::uint32_t MapError(std::uint32_t windowsError);

private:
    bool Fail(std::uint32_t windowsError);

    std::map<PlatformHandle, void*> open_; // our handle -> the file's HANDLE
    PlatformHandle nextHandle_ = 1;
    std::uint32_t lastError_ = PlatformError::None;
};

} // namespace ktv
