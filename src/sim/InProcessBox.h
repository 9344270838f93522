#pragma once
// The virtual box as platform services inside the same process: the tests and
// the benchmarks hand it to the transport in place of real hardware.

#include "device/HidPlatform.h"
#include "sim/VirtualBox.h"

#include <string>

namespace ktv {

class InProcessBox final : public HidPlatform {
public:
    static constexpr const char* DefaultPath = "inproc:box";
    static constexpr const char* DefaultInstanceId = "VIRTUAL\\VID_2B5E&PID_61D3\\inproc";
    // Settable so that a test can put several boxes side by side.
    std::string Path = DefaultPath;
    std::string InstanceId = DefaultInstanceId;

    VirtualBox Box;
    bool Present = true;                   // false: enumeration finds no box
    bool DenyAccess = false;               // true: Open fails with AccessDenied
    std::vector<HidInterface> OtherDevices; // listed before the box

    std::vector<HidInterface> ListInterfaces() override;
    PlatformHandle Open(const std::string& path) override;
    bool Write(PlatformHandle handle, const Report& report) override;
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override;
    void Close(PlatformHandle handle) override;
    std::uint32_t LastError() override { return lastError_; }
    LinkWatch WatchLink(PlatformHandle handle) override;
    bool HungUp(PlatformHandle handle) override;
    // The box dies without a removal being reported (a killed virtual box):
    // its connection hangs up, and every exchange fails.
    void Die();
    // Another box starts in its place.
    void Replace();

    InProcessBox() = default;
    ~InProcessBox() override;
    InProcessBox(const InProcessBox&) = delete;
    InProcessBox& operator=(const InProcessBox&) = delete;

private:
    bool dead_ = false;
#ifdef _WIN32
    void* hangUp_ = nullptr; // an event set at Die()
#else
    int hangUp_[2] = {-1, -1}; // a pipe whose read end turns readable at Die()
#endif
    void CloseHangUp();
    PlatformHandle open_ = InvalidHandle; // the one handle handed out
    PlatformHandle nextHandle_ = 1;
    std::vector<std::uint8_t> pending_; // reply to the last write
    bool hasPending_ = false;
    std::uint32_t lastError_ = 0;
};

} // namespace ktv
