#include "device/platform/WindowsHidPlatform.h"

#include "base/WinText.h"

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

} // namespace

WindowsHidPlatform::~WindowsHidPlatform()
{
    for (const auto& [handle, file] : open_)
        CloseHandle(file);
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
    case ERROR_DEVICE_REMOVED: return PlatformError::NotConnected;
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
    return found;
}

PlatformHandle WindowsHidPlatform::Open(const std::string& path)
{
    const std::wstring wide = Wide(path);
    if (wide.empty()) {
        Fail(ERROR_FILE_NOT_FOUND);
        return InvalidHandle;
    }
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(GetLastError());
        return InvalidHandle;
    }
    const PlatformHandle handle = nextHandle_++;
    open_[handle] = file;
    lastError_ = PlatformError::None;
    return handle;
}

bool WindowsHidPlatform::Write(PlatformHandle handle, const Report& report)
{
    const auto it = open_.find(handle);
    if (it == open_.end())
        return Fail(ERROR_INVALID_HANDLE);
    const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD done = 0;
    const BOOL started = WriteFile(it->second, report, DWORD(ReportSize), nullptr, &ov);
    if (!Finish(it->second, ov, started, done, DWORD(ReadTimeoutMs)))
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
    const BOOL started = ReadFile(it->second, report, DWORD(ReportSize), nullptr, &ov);
    if (!Finish(it->second, ov, started, done, DWORD(timeoutMs < 0 ? 0 : timeoutMs)))
        return Fail(GetLastError());
    bytesRead = done;
    lastError_ = PlatformError::None;
    return true;
}

void WindowsHidPlatform::Close(PlatformHandle handle)
{
    const auto it = open_.find(handle);
    if (it == open_.end())
        return;
    CloseHandle(it->second);
    open_.erase(it);
}

} // namespace ktv
