#include "device/platform/WindowsHidPlatform.h"

#include "base/WinText.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/WindowsPipes.h"

#include <algorithm>
#include <string>

#include <windows.h>

#include <setupapi.h>
extern "C" { // MinGW's hidsdi.h declares its functions without C linkage
#include <hidsdi.h>
}

namespace ktv {
namespace {

// The device list, released on every way out.
using DeviceList = win::Owned<HDEVINFO, SetupDiDestroyDeviceInfoList>;
using Handle = win::Owned<HANDLE, CloseHandle>;
using win::Utf8;
using win::Wide;

// Runs an overlapped transfer to its end or until `timeoutMs` has passed;
// a transfer that runs out is cancelled and waited for, so the buffer is
// free again when this returns. The error code is left in GetLastError.
bool Finish(HANDLE file, OVERLAPPED& ov, BOOL started, DWORD& done, DWORD timeoutMs)
{
    done = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    if (!started) {
        const DWORD wait = WaitForSingleObject(ov.hEvent, timeoutMs);
        if (wait != WAIT_OBJECT_0) {
            CancelIoEx(file, &ov);
            GetOverlappedResult(file, &ov, &done, TRUE);
            SetLastError(wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_GEN_FAILURE);
            return false;
        }
    }
    return GetOverlappedResult(file, &ov, &done, FALSE) != 0;
}

// The longest a connection to a virtual box may take: a box that is stuck
// with every pipe instance taken is treated like a silent box.
constexpr int ConnectTimeoutMs = 500;

bool IsGone(DWORD error)
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

// The process at the other end of a box's pipe, to wait on; nullptr when it
// cannot be known. A killed box ends without a word on the pipe, and its
// process is what says so at once.
void* ServerProcess(HANDLE pipe)
{
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid))
        return nullptr;
    return OpenProcess(SYNCHRONIZE, FALSE, pid);
}

} // namespace

WindowsHidPlatform::WindowsHidPlatform(std::string virtualBoxDir)
    : virtualBoxDir_(virtualBoxDir.empty() ? platform::VirtualBoxDirectory() : std::move(virtualBoxDir))
{
}

WindowsHidPlatform::~WindowsHidPlatform()
{
    for (auto& [handle, entry] : open_)
        Release(entry);
}

void WindowsHidPlatform::Release(Entry& entry)
{
    CloseHandle(entry.File);
    if (entry.Server)
        CloseHandle(entry.Server);
    entry = {};
}

std::uint32_t WindowsHidPlatform::MapError(std::uint32_t windowsError)
{
    switch (windowsError) {
    case ERROR_SUCCESS: return PlatformError::None;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return PlatformError::AccessDenied;
    case ERROR_INVALID_HANDLE: return PlatformError::InvalidHandle;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_OPERATION_ABORTED: return PlatformError::Timeout;
    // The box was unplugged, or its interface is gone from the system.
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    // A virtual box that ended or closed our connection.
    case ERROR_PIPE_BUSY:
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: return PlatformError::NotConnected;
    default: return windowsError;
    }
}

bool WindowsHidPlatform::Fail(std::uint32_t windowsError)
{
    lastError_ = MapError(windowsError);
    return false;
}

std::vector<HidInterface> WindowsHidPlatform::ListInterfaces()
{
    std::vector<HidInterface> found;
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    const DeviceList list(SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (list.get() == INVALID_HANDLE_VALUE)
        return found;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &hidClass, index, &iface))
            break; // ERROR_NO_MORE_ITEMS, or a list that cannot be read further
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(list.get(), &iface, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        std::vector<std::uint8_t> detailBytes(needed + sizeof(wchar_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBytes.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailW(list.get(), &iface, detail, needed, nullptr, &device))
            continue;
        wchar_t instance[512];
        if (!SetupDiGetDeviceInstanceIdW(list.get(), &device, instance, DWORD(std::size(instance)), nullptr))
            continue;
        found.push_back({Utf8(instance), Utf8(detail->DevicePath)});
    }
    if (platform::EnsureVirtualBoxDirectory(virtualBoxDir_))
        for (HidInterface& box : platform::ListVirtualBoxes(virtualBoxDir_))
            if (platform::SomeoneListensOn(box.Path))
                found.push_back(std::move(box));
    lastError_ = PlatformError::None;
    return found;
}

PlatformHandle WindowsHidPlatform::Open(const std::string& path)
{
    const std::wstring wide = Wide(path);
    if (wide.empty()) {
        Fail(ERROR_FILE_NOT_FOUND);
        return InvalidHandle;
    }
    Entry entry;
    if (platform::IsVirtualBoxPipe(path)) {
        entry.Pipe = path;
        entry.File = platform::ConnectToBox(path, ConnectTimeoutMs);
        if (entry.File != INVALID_HANDLE_VALUE)
            entry.Server = ServerProcess(entry.File);
    } else {
        entry.File = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    if (entry.File == INVALID_HANDLE_VALUE) {
        Fail(GetLastError());
        return InvalidHandle;
    }
    const PlatformHandle handle = nextHandle_++;
    open_[handle] = entry;
    lastError_ = PlatformError::None;
    return handle;
}

bool WindowsHidPlatform::Write(PlatformHandle handle, const Report& report)
{
    const auto it = open_.find(handle);
    if (it == open_.end())
        return Fail(ERROR_INVALID_HANDLE);
    const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Entry& entry = it->second;
    DWORD done = 0;
    auto send = [&] {
        OVERLAPPED ov{};
        ov.hEvent = event.get();
        const BOOL started = WriteFile(entry.File, report, DWORD(ReportSize), nullptr, &ov);
        return Finish(entry.File, ov, started, done, DWORD(ReadTimeoutMs));
    };
    bool sent = send();
    // A box that closed our connection (an idle limit) but still answers is
    // the same box: connect again once, silently, as a real box's link never
    // drops while it is plugged in.
    if (!sent && !entry.Pipe.empty() && IsGone(GetLastError()) && Reconnect(entry))
        sent = send();
    if (!sent)
        return Fail(GetLastError());
    if (done != ReportSize)
        return Fail(ERROR_GEN_FAILURE);
    lastError_ = PlatformError::None;
    return true;
}

bool WindowsHidPlatform::Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs)
{
    bytesRead = 0;
    const auto it = open_.find(handle);
    if (it == open_.end())
        return Fail(ERROR_INVALID_HANDLE);
    const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD done = 0;
    const BOOL started = ReadFile(it->second.File, report, DWORD(ReportSize), nullptr, &ov);
    if (!Finish(it->second.File, ov, started, done, DWORD(timeoutMs < 0 ? 0 : timeoutMs)))
        return Fail(GetLastError());
    bytesRead = done;
    std::fill(report + bytesRead, report + ReportSize, std::uint8_t(0));
    lastError_ = PlatformError::None;
    return true;
}

void WindowsHidPlatform::Close(PlatformHandle handle)
{
    const auto it = open_.find(handle);
    if (it == open_.end())
        return;
    Release(it->second);
    open_.erase(it);
}

LinkWatch WindowsHidPlatform::WatchLink(PlatformHandle handle)
{
    const auto it = open_.find(handle);
    return it == open_.end() ? NoLinkWatch : it->second.Server;
}

bool WindowsHidPlatform::HungUp(PlatformHandle handle)
{
    const auto it = open_.find(handle);
    if (it == open_.end() || !it->second.Server || WaitForSingleObject(it->second.Server, 0) != WAIT_OBJECT_0)
        return false;
    // The box ended: gone, unless another box answers on its pipe by now.
    return !Reconnect(it->second);
}

bool WindowsHidPlatform::Reconnect(Entry& entry)
{
    const DWORD saved = GetLastError();
    const HANDLE file = platform::ConnectToBox(entry.Pipe, ConnectTimeoutMs);
    if (file == INVALID_HANDLE_VALUE) {
        SetLastError(saved); // the failure reported is the one of the old connection
        return false;
    }
    CloseHandle(entry.File);
    if (entry.Server)
        CloseHandle(entry.Server);
    entry.File = file;
    entry.Server = ServerProcess(file);
    return true;
}

} // namespace ktv
