#include "device/platform/WindowsDeviceWatcher.h"

#include "base/WinText.h"
#include "device/platform/PlatformHelpers.h"

#include <algorithm>
#include <cctype>

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
extern "C" { // MinGW's hidsdi.h declares its functions without C linkage
#include <hidsdi.h>
}

namespace ktv {
namespace {

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

// The system's own instance identifier of a present interface; empty when
// it cannot be asked for.
std::string InstanceIdOf(const std::wstring& interfacePath)
{
    const win::Owned<HDEVINFO, SetupDiDestroyDeviceInfoList> list(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (list.get() == INVALID_HANDLE_VALUE)
        return {};
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!SetupDiOpenDeviceInterfaceW(list.get(), interfacePath.c_str(), 0, &iface))
        return {};
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailW(list.get(), &iface, nullptr, 0, nullptr, &device) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return {};
    wchar_t instance[512];
    if (!SetupDiGetDeviceInstanceIdW(list.get(), &device, instance, DWORD(std::size(instance)), nullptr))
        return {};
    return win::Utf8(instance);
}

} // namespace

DeviceWatcher::DeviceWatcher(std::string virtualBoxDir)
    : dir_(virtualBoxDir.empty() ? platform::VirtualBoxDirectory() : std::move(virtualBoxDir))
{
}

DeviceWatcher::~DeviceWatcher() { Unregister(); }

std::string DeviceWatcher::InstanceIdFromInterfacePath(const std::string& path)
{
    std::string id = path;
    if (id.starts_with("\\\\?\\") || id.starts_with("\\\\.\\"))
        id.erase(0, 4);
    if (const auto cls = id.rfind("#{"); cls != std::string::npos)
        id.erase(cls);
    std::replace(id.begin(), id.end(), '#', '\\');
    return Upper(id);
}

bool DeviceWatcher::Register(void* window, Callback callback)
{
    callback_ = std::move(callback);
    if (Registered())
        return true;
    if (window) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        notification_ = RegisterDeviceNotificationW(static_cast<HWND>(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    if (platform::EnsureVirtualBoxDirectory(dir_)) {
        const std::wstring wide = win::Wide(dir_);
        const HANDLE change = FindFirstChangeNotificationW(wide.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        if (change != INVALID_HANDLE_VALUE) {
            folderChange_ = change;
            boxes_ = ListBoxes(); // what is there now is no news
        }
    }
    return Registered();
}

void DeviceWatcher::Unregister()
{
    if (notification_)
        UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(notification_));
    notification_ = nullptr;
    if (folderChange_)
        FindCloseChangeNotification(folderChange_);
    folderChange_ = nullptr;
    boxes_.clear();
    known_.clear();
}

void DeviceWatcher::Deliver(DeviceEventKind kind, std::string path, std::string devicePath, int& delivered)
{
    ++delivered;
    if (callback_)
        callback_(DeviceEvent{kind, std::move(path), std::move(devicePath)});
}

bool DeviceWatcher::HandleDeviceChange(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!notification_ || (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) || !lParam)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return false;
    const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    if (!IsEqualGUID(iface->dbcc_classguid, hidClass))
        return false;
    const std::wstring wide(iface->dbcc_name);
    const std::string devicePath = win::Utf8(wide.c_str());
    const std::string key = Upper(devicePath);
    int delivered = 0;
    if (wParam == DBT_DEVICEARRIVAL) {
        std::string id = InstanceIdOf(wide);
        if (id.empty())
            id = InstanceIdFromInterfacePath(devicePath);
        known_[key] = id;
        Deliver(DeviceEventKind::Arrival, std::move(id), devicePath, delivered);
    } else {
        std::string id;
        if (const auto it = known_.find(key); it != known_.end()) {
            id = it->second;
            known_.erase(it);
        } else {
            id = InstanceIdFromInterfacePath(devicePath);
        }
        Deliver(DeviceEventKind::Removal, std::move(id), devicePath, delivered);
    }
    return true;
}

std::map<std::string, std::string> DeviceWatcher::ListBoxes() const
{
    std::map<std::string, std::string> boxes;
    for (HidInterface& box : platform::ListVirtualBoxes(dir_))
        boxes.emplace(std::move(box.InstanceId), std::move(box.Path));
    return boxes;
}

int DeviceWatcher::ProcessPendingEvents()
{
    int delivered = 0;
    if (!folderChange_ || WaitForSingleObject(folderChange_, 0) != WAIT_OBJECT_0)
        return 0;
    // Watch again before looking, so a change made while we look is not missed.
    FindNextChangeNotification(folderChange_);
    std::map<std::string, std::string> now = ListBoxes();
    const std::map<std::string, std::string> before = std::move(boxes_);
    boxes_ = now;
    for (const auto& [id, pipe] : before)
        if (!now.contains(id)) {
            Deliver(DeviceEventKind::Removal, id, pipe, delivered);
            if (!folderChange_) // the callback unregistered
                return delivered;
        }
    for (const auto& [id, pipe] : now)
        if (!before.contains(id)) {
            Deliver(DeviceEventKind::Arrival, id, pipe, delivered);
            if (!folderChange_)
                return delivered;
        }
    return delivered;
}

} // namespace ktv
