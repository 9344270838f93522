#pragma once
// The small decisions of the device layer, kept free of hidapi, udev and
// sockets so they can be tested on a machine without HID devices. Windows
// has its own folder for the virtual boxes (WindowsPipes.cpp).

#include "device/HidPlatform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktv::platform {

inline constexpr std::uint16_t BoxVendorId = 0x2B5E;
inline constexpr std::uint16_t BoxProductId = 0x61D3;

struct UsbIds {
    std::uint16_t Vendor = 0;
    std::uint16_t Product = 0;
    bool operator==(const UsbIds&) const = default;
};

// HID\VID_2B5E&PID_61D3\<devnode>: upper-case hex, so the case-sensitive
// identifier search finds the box and nothing else. The same text is the
// interface path of the box's arrival and removal events.
std::string RealInstanceId(UsbIds ids, std::string_view devnode);
// VIRTUAL\VID_2B5E&PID_61D3\<socket file name>
std::string VirtualInstanceId(std::string_view socketFileName);

// udev's HID_ID property, "0003:00002B5E:000061D3" (bus:vendor:product).
std::optional<UsbIds> ParseHidId(std::string_view hidId);
// A sysfs device path whose HID device component reads
// "0003:2B5E:61D3.0004"; the hidraw node's DEVPATH still carries it when the
// device is already gone, so a removal can be recognised from it.
std::optional<UsbIds> ParseHidDevpath(std::string_view devpath);

// hidapi hands an unnumbered input report over without its report-ID byte:
// rebuild the 65-byte report with byte 0 = 0 and count that byte as read.
// Bytes beyond the report are dropped; the rest of the report is cleared.
void ReframeInputReport(const std::uint8_t* data, std::size_t count, Report& report, std::size_t& bytesRead);

// errno of a failed open, read or write, as the transport's error code.
std::uint32_t ErrnoToPlatformError(int err);
// The error code of a hidapi read that returned rc (0: the wait ran out)
// with errno err (0 when hidapi saw a hang-up without setting errno).
std::uint32_t HidReadErrorCode(int rc, int err);

// ---- virtual boxes ----

// $XDG_RUNTIME_DIR/ktvtune, or /tmp/ktvtune-<uid> when the variable is
// unset or empty. (Windows: %LOCALAPPDATA%\ktvtune\boxes.)
std::string VirtualBoxDirectory(const char* xdgRuntimeDir, unsigned uid);
// The directory for this process (from the environment).
std::string VirtualBoxDirectory();
// Creates the directory with mode 0700 if needed. Refuses a directory that is
// a symlink, belongs to another user or is open to others, since anyone who
// could place a socket there could pose as the box.
[[nodiscard]] bool EnsureVirtualBoxDirectory(const std::string& dir, std::string* error = nullptr);

// box-*.sock with a non-empty middle part.
bool IsVirtualBoxSocketName(std::string_view name);
// The sockets named box-*.sock in dir, sorted by name. (Windows: the boxes
// whose files are there, each with its pipe as the path.)
std::vector<HidInterface> ListVirtualBoxes(const std::string& dir);

} // namespace ktv::platform
