#include "device/platform/PlatformHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifndef _WIN32 // WindowsPipes.cpp has the folder's functions there
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ktv::platform {
namespace {

std::string IdsText(UsbIds ids)
{
    char text[32];
    std::snprintf(text, sizeof text, "VID_%04X&PID_%04X", unsigned(ids.Vendor), unsigned(ids.Product));
    return text;
}

std::optional<unsigned long> ParseHex(std::string_view text)
{
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + unsigned(digit);
    }
    return value;
}

// "BBBB:VVVV:PPPP.NNNN", the name the kernel gives a HID device.
std::optional<UsbIds> ParseHidDeviceName(std::string_view name)
{
    if (name.size() != 19 || name[4] != ':' || name[9] != ':' || name[14] != '.')
        return std::nullopt;
    const auto bus = ParseHex(name.substr(0, 4));
    const auto vendor = ParseHex(name.substr(5, 4));
    const auto product = ParseHex(name.substr(10, 4));
    const auto instance = ParseHex(name.substr(15, 4));
    if (!bus || !vendor || !product || !instance)
        return std::nullopt;
    return UsbIds{std::uint16_t(*vendor), std::uint16_t(*product)};
}

} // namespace

std::string RealInstanceId(UsbIds ids, std::string_view devnode)
{
    return "HID\\" + IdsText(ids) + "\\" + std::string(devnode);
}

std::string VirtualInstanceId(std::string_view socketFileName)
{
    return "VIRTUAL\\" + IdsText({BoxVendorId, BoxProductId}) + "\\" + std::string(socketFileName);
}

std::optional<UsbIds> ParseHidId(std::string_view hidId)
{
    // bus:vendor:product, each field hex; vendor and product are 8 digits wide.
    const auto first = hidId.find(':');
    if (first == std::string_view::npos)
        return std::nullopt;
    const auto second = hidId.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto bus = ParseHex(hidId.substr(0, first));
    const auto vendor = ParseHex(hidId.substr(first + 1, second - first - 1));
    const auto product = ParseHex(hidId.substr(second + 1));
    if (!bus || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF)
        return std::nullopt;
    return UsbIds{std::uint16_t(*vendor), std::uint16_t(*product)};
}

std::optional<UsbIds> ParseHidDevpath(std::string_view devpath)
{
    // The HID device is the last such component (a hidraw node sits below it).
    std::optional<UsbIds> found;
    std::size_t start = 0;
    while (start <= devpath.size()) {
        const std::size_t end = std::min(devpath.find('/', start), devpath.size());
        if (auto ids = ParseHidDeviceName(devpath.substr(start, end - start)))
            found = ids;
        start = end + 1;
    }
    return found;
}

void ReframeInputReport(const std::uint8_t* data, std::size_t count, Report& report, std::size_t& bytesRead)
{
    const std::size_t n = std::min(count, ReportSize - 1);
    report[0] = 0;
    if (n)
        std::memcpy(report + 1, data, n);
    std::fill(report + 1 + n, report + ReportSize, std::uint8_t(0));
    bytesRead = n + 1;
}

std::uint32_t ErrnoToPlatformError(int err)
{
    switch (err) {
    case 0:
        return PlatformError::None;
    case EACCES:
    case EPERM:
        return PlatformError::AccessDenied;
    case ENODEV:
    case ENXIO:
    case ENOENT:
    case EPIPE:
#ifdef ESHUTDOWN // not in Windows' C library
    case ESHUTDOWN:
#endif
    case ECONNRESET:
    case ECONNREFUSED:
    case ENOTCONN:
        return PlatformError::NotConnected;
    case EBADF:
        return PlatformError::InvalidHandle;
    case ETIMEDOUT:
    case EAGAIN:
        return PlatformError::Timeout;
    default:
        return PlatformError::IoError;
    }
}

std::uint32_t HidReadErrorCode(int rc, int err)
{
    if (rc == 0)
        return PlatformError::Timeout;
    // hidapi reports a hang-up seen by poll() without an errno of its own.
    if (err == 0)
        return PlatformError::NotConnected;
    return ErrnoToPlatformError(err);
}

std::string VirtualBoxDirectory(const char* xdgRuntimeDir, unsigned uid)
{
    if (xdgRuntimeDir && *xdgRuntimeDir) {
        std::string dir = xdgRuntimeDir;
        if (dir.back() != '/')
            dir += '/';
        return dir + "ktvtune";
    }
    return "/tmp/ktvtune-" + std::to_string(uid);
}

#ifndef _WIN32
std::string VirtualBoxDirectory() { return VirtualBoxDirectory(std::getenv("XDG_RUNTIME_DIR"), unsigned(getuid())); }

bool EnsureVirtualBoxDirectory(const std::string& dir, std::string* error)
{
    auto fail = [&](std::string why) {
        if (error)
            *error = dir + ": " + why;
        return false;
    };
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return fail(std::strerror(errno));
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0)
        return fail(std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return fail("not a directory");
    if (st.st_uid != getuid())
        return fail("belongs to another user");
    if (st.st_mode & 077)
        return fail("open to other users (mode must be 0700)");
    return true;
}

#endif

bool IsVirtualBoxSocketName(std::string_view name)
{
    constexpr std::string_view prefix = "box-", suffix = ".sock";
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix);
}

#ifndef _WIN32
std::vector<HidInterface> ListVirtualBoxes(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(d))
            if (IsVirtualBoxSocketName(entry->d_name))
                names.emplace_back(entry->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<HidInterface> boxes;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st{};
        if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            boxes.push_back({VirtualInstanceId(name), path});
    }
    return boxes;
}

#endif

} // namespace ktv::platform
