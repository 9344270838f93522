#pragma once
// The transport's platform services on Windows: the present HID interfaces
// through SetupAPI, each opened with CreateFileW and read with overlapped
// I/O so that a wait never outlasts its bound; then the current user's
// virtual boxes, each behind a message-mode named pipe (WindowsPipes.h).

#include "device/HidPlatform.h"

#include <map>
#include <string>

namespace ktv {

class WindowsHidPlatform final : public HidPlatform {
public:
    // Empty: the default virtual-box folder. Tests point it elsewhere.
    explicit WindowsHidPlatform(std::string virtualBoxDir = {});
    ~WindowsHidPlatform() override;
    WindowsHidPlatform(const WindowsHidPlatform&) = delete;
    WindowsHidPlatform& operator=(const WindowsHidPlatform&) = delete;

    // HID interfaces first, then the virtual boxes that answer.
    std::vector<HidInterface> ListInterfaces() override;
    PlatformHandle Open(const std::string& path) override;
    bool Write(PlatformHandle handle, const Report& report) override;
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override;
    void Close(PlatformHandle handle) override;
    std::uint32_t LastError() override { return lastError_; }
    // A virtual box: its process, which turns signalled when the box ends.
    LinkWatch WatchLink(PlatformHandle handle) override;
    bool HungUp(PlatformHandle handle) override;

    const std::string& VirtualBoxDir() const { return virtualBoxDir_; }

    // The PlatformError a Windows error code stands for; codes it does not
    // name pass unchanged.
    static std::uint32_t MapError(std::uint32_t windowsError);

private:
    struct Entry {
        void* File = nullptr;   // the HID interface or the pipe
        std::string Pipe;       // a virtual box: its pipe
        void* Server = nullptr; // a virtual box: the process serving the pipe
    };
    bool Fail(std::uint32_t windowsError);
    // Connects a virtual box's entry again; false (the error left as it was)
    // when its pipe does not answer.
    bool Reconnect(Entry& entry);
    static void Release(Entry& entry);

    std::string virtualBoxDir_;
    std::map<PlatformHandle, Entry> open_;
    PlatformHandle nextHandle_ = 1;
    std::uint32_t lastError_ = PlatformError::None;
};

} // namespace ktv
