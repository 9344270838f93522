#pragma once
// The six platform services the HID transport stands on. The real ones
// (hidapi + the virtual box sockets) live in device/platform; tests use the
// in-process virtual box.

#include "protocol/Wire.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ktv {

using Report = std::uint8_t[ReportSize];

// The longest a read waits for the box's reply. A wait that runs out is a
// read error, so a silent box never hangs the program.
inline constexpr int ReadTimeoutMs = 500;

struct HidInterface {
    std::string InstanceId; // e.g. HID\VID_2B5E&PID_61D3\... (upper-case hex)
    std::string Path;       // what Open takes
};

using PlatformHandle = std::intptr_t;
inline constexpr PlatformHandle InvalidHandle = -1;

// What an event loop watches to learn that a connection may have ended: a
// descriptor that turns readable, or on Windows a handle that turns signalled.
#ifdef _WIN32
using LinkWatch = void*;
inline constexpr LinkWatch NoLinkWatch = nullptr;
#else
using LinkWatch = int;
inline constexpr LinkWatch NoLinkWatch = -1;
#endif

// Error codes the platforms report through LastError().
namespace PlatformError {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t InvalidHandle = 6;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t NotConnected = 1167; // the device went away
inline constexpr std::uint32_t Timeout = 1460;      // no report within the wait
inline constexpr std::uint32_t NoMoreItems = 259;
inline constexpr std::uint32_t IoError = 1117;
} // namespace PlatformError

class HidPlatform {
public:
    virtual ~HidPlatform() = default;
    // The present HID interfaces, in enumeration order.
    virtual std::vector<HidInterface> ListInterfaces() = 0;
    // InvalidHandle on failure (LastError says why).
    virtual PlatformHandle Open(const std::string& path) = 0;
    // Writes all 65 bytes; false on error.
    virtual bool Write(PlatformHandle handle, const Report& report) = 0;
    // Reads one input report of up to 65 bytes, waiting at most timeoutMs;
    // bytesRead counts byte 0 (the report ID). False on error or timeout.
    virtual bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) = 0;
    virtual void Close(PlatformHandle handle) = 0;
    // The error status of the last Open, Write or Read.
    virtual std::uint32_t LastError() = 0;
    // What to watch for the end of the connection; NoLinkWatch when there is
    // nothing (real boxes: their removal comes from the device watcher).
    virtual LinkWatch WatchLink(PlatformHandle /*handle*/) { return NoLinkWatch; }
    // Called between exchanges once the watch fired: whether the box is
    // gone. A connection the box closed while it still listens is made again
    // (the watch may then change); reports left over are discarded.
    virtual bool HungUp(PlatformHandle /*handle*/) { return false; }
};

} // namespace ktv
