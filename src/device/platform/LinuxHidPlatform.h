#pragma once
// The transport's platform services on Linux: real boxes through hidapi
// (hidraw backend), then the virtual boxes listening in the runtime
// directory, each a SOCK_SEQPACKET socket carrying one 65-byte report per
// datagram.

#include "device/HidPlatform.h"

#include <map>
#include <string>

struct hid_device_;

namespace ktv {

class LinuxHidPlatform final : public HidPlatform {
public:
    LinuxHidPlatform();
    // Empty: the default runtime directory. Tests point it elsewhere.
    explicit LinuxHidPlatform(std::string virtualBoxDir);
    ~LinuxHidPlatform() override;
    LinuxHidPlatform(const LinuxHidPlatform&) = delete;
    LinuxHidPlatform& operator=(const LinuxHidPlatform&) = delete;

    // Real boxes and other HID devices first, then the virtual boxes that
    // answer (a socket left by a killed box is not a box).
    std::vector<HidInterface> ListInterfaces() override;
    PlatformHandle Open(const std::string& path) override;
    bool Write(PlatformHandle handle, const Report& report) override;
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override;
    void Close(PlatformHandle handle) override;
    std::uint32_t LastError() override { return lastError_; }
    LinkWatch WatchLink(PlatformHandle handle) override;
    bool HungUp(PlatformHandle handle) override;

    const std::string& VirtualBoxDir() const { return virtualBoxDir_; }

    // Whether hidapi's enumeration is used (off in tests that must not see
    // the machine's own devices).
    bool UseHidapi = true;

private:
    struct Entry {
        hid_device_* Device = nullptr; // a real box
        int Socket = -1;               // a virtual box
        std::string SocketPath;        // where it listens
    };
    // Connects the virtual box's entry again; false (errno kept) when its
    // socket does not accept.
    bool Reconnect(Entry& entry);
    Entry* Find(PlatformHandle handle);
    bool Fail(std::uint32_t code);

    std::string virtualBoxDir_;
    std::map<PlatformHandle, Entry> open_;
    PlatformHandle nextHandle_ = 1;
    std::uint32_t lastError_ = PlatformError::None;
    bool hidapiReady_ = false;
};

} // namespace ktv
