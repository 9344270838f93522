#pragma once
// Arrival and removal of HID interfaces on Windows. The system tells a
// window registered for the HID interface class (RegisterDeviceNotificationW)
// with WM_DEVICECHANGE; the window's native event handler hands each such
// message to HandleDeviceChange() and the events come out of the callback.
// The virtual boxes come and go in their folder: a change notification on it
// turns FolderChangeHandle() signalled, for the event loop to watch (as the
// Linux watcher's descriptor), and ProcessPendingEvents() delivers them.

#include "device/platform/DeviceEvents.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace ktv {

class DeviceWatcher {
public:
    using Callback = std::function<void(const DeviceEvent&)>;

    // Empty: the default virtual-box folder.
    explicit DeviceWatcher(std::string virtualBoxDir = {});
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Registers `window` (an HWND; null: virtual boxes only) for HID
    // interface notifications, watches the virtual-box folder and delivers
    // later events to `callback`. True when at least one of the two is
    // watched. A second call replaces the callback.
    bool Register(void* window, Callback callback);
    // UnregisterDeviceNotification and the folder's watch closed; no event
    // is delivered afterwards.
    void Unregister();
    bool Registered() const { return notification_ || folderChange_; }

    // The window's WM_DEVICECHANGE, its wParam and lParam as they came.
    // Delivers an arrival or removal of a HID interface and returns true;
    // anything else is left alone (false).
    bool HandleDeviceChange(std::uintptr_t wParam, std::intptr_t lParam);

    // Signalled while the virtual-box folder has changed; null when not watched.
    void* FolderChangeHandle() const { return folderChange_; }
    // Delivers the virtual boxes that appeared or went since the last call,
    // without waiting; returns how many.
    int ProcessPendingEvents();

    // HID\VID_2B5E&PID_61D3\7&1A2B3C&0&0000 from the interface path
    // \\?\hid#vid_2b5e&pid_61d3#7&1a2b3c&0&0000#{class}, for a device whose
    // own identifier can no longer be asked for (it is gone).
    static std::string InstanceIdFromInterfacePath(const std::string& path);

private:
    void Deliver(DeviceEventKind kind, std::string path, std::string devicePath, int& delivered);
    std::map<std::string, std::string> ListBoxes() const; // identifier -> pipe

    std::string dir_;
    Callback callback_;
    void* notification_ = nullptr; // HDEVNOTIFY
    void* folderChange_ = nullptr; // the folder's change notification
    std::map<std::string, std::string> boxes_; // the virtual boxes known present
    // Identifier of each interface that arrived, by its path in upper case,
    // so its removal reports the same identifier.
    std::map<std::string, std::string> known_;
};

} // namespace ktv
