#include "device/platform/DeviceWatcher.h"

#include "device/platform/PlatformHelpers.h"

#include <libudev.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace ktv {

using namespace platform;

DeviceWatcher::DeviceWatcher(std::string virtualBoxDir)
    : dir_(virtualBoxDir.empty() ? VirtualBoxDirectory() : std::move(virtualBoxDir))
{
}

DeviceWatcher::~DeviceWatcher() { Unregister(); }

bool DeviceWatcher::Register(Callback callback)
{
    callback_ = std::move(callback);
    if (Registered())
        return true;

    fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (fd_ < 0)
        return false;
    bool watching = false;

    if (EnsureVirtualBoxDirectory(dir_)) {
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        // A box binds under a temporary name and renames it into place once it
        // listens, so IN_MOVED_TO is its arrival; IN_CREATE covers other tools.
        if (inotify_ >= 0 &&
            inotify_add_watch(inotify_, dir_.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) >= 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = inotify_;
            watching = epoll_ctl(fd_, EPOLL_CTL_ADD, inotify_, &ev) == 0;
        }
        if (!watching && inotify_ >= 0) {
            close(inotify_);
            inotify_ = -1;
        }
    }

    if (UseUdev && (udev_ = udev_new())) {
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ && udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) >= 0 &&
            udev_monitor_enable_receiving(monitor_) >= 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = udev_monitor_get_fd(monitor_);
            if (epoll_ctl(fd_, EPOLL_CTL_ADD, ev.data.fd, &ev) == 0) {
                watching = true;
                // Remember the nodes present now, for their removal later.
                if (udev_enumerate* en = udev_enumerate_new(udev_)) {
                    udev_enumerate_add_match_subsystem(en, "hidraw");
                    udev_enumerate_scan_devices(en);
                    udev_list_entry* entry;
                    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en))
                    {
                        if (udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry))) {
                            if (const char* node = udev_device_get_devnode(dev))
                                known_[node] = UdevInterfacePath(dev, node, false);
                            udev_device_unref(dev);
                        }
                    }
                    udev_enumerate_unref(en);
                }
            } else {
                udev_monitor_unref(monitor_);
                monitor_ = nullptr;
            }
        } else if (monitor_) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }

    if (!watching) {
        Unregister();
        return false;
    }
    return true;
}

void DeviceWatcher::Unregister()
{
    if (monitor_)
        udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    if (udev_)
        udev_unref(udev_);
    udev_ = nullptr;
    if (inotify_ >= 0)
        close(inotify_);
    inotify_ = -1;
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    known_.clear();
}

int DeviceWatcher::ProcessPendingEvents()
{
    int delivered = 0;
    if (!Registered())
        return 0;
    // Both sources are non-blocking and level-triggered: draining them clears
    // the readiness of the one descriptor.
    DrainInotify(delivered);
    if (Registered()) // the callback may have unregistered
        DrainUdev(delivered);
    return delivered;
}

void DeviceWatcher::Deliver(DeviceEventKind kind, std::string path, std::string devicePath, int& delivered)
{
    ++delivered;
    if (callback_)
        callback_(DeviceEvent{kind, std::move(path), std::move(devicePath)});
}

void DeviceWatcher::DrainInotify(int& delivered)
{
    if (inotify_ < 0)
        return;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t n = read(inotify_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + ev->len);
            if (!ev->len || !IsVirtualBoxSocketName(ev->name))
                continue;
            const std::string name = ev->name;
            const bool removal = ev->mask & (IN_DELETE | IN_MOVED_FROM);
            Deliver(removal ? DeviceEventKind::Removal : DeviceEventKind::Arrival, VirtualInstanceId(name),
                    dir_ + "/" + name, delivered);
            if (inotify_ < 0) // the callback unregistered
                return;
        }
    }
}

std::string DeviceWatcher::UdevInterfacePath(udev_device* device, const std::string& devnode, bool removal)
{
    std::optional<UsbIds> ids;
    // The HID parent's HID_ID while the device is there ...
    if (!removal)
        if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr))
            if (const char* hidId = udev_device_get_property_value(hid, "HID_ID"))
                ids = ParseHidId(hidId);
    // ... otherwise the HID device name inside the node's own device path,
    // which the removal event still carries.
    if (!ids)
        if (const char* devpath = udev_device_get_devpath(device))
            ids = ParseHidDevpath(devpath);
    if (!ids) {
        if (const auto it = known_.find(devnode); it != known_.end())
            return it->second;
        return "HID\\" + devnode;
    }
    return RealInstanceId(*ids, devnode);
}

void DeviceWatcher::DrainUdev(int& delivered)
{
    while (monitor_) {
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (!device)
            return;
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        if (action && node) {
            const std::string devnode = node;
            if (std::strcmp(action, "add") == 0) {
                std::string path = UdevInterfacePath(device, devnode, false);
                known_[devnode] = path;
                Deliver(DeviceEventKind::Arrival, std::move(path), devnode, delivered);
            } else if (std::strcmp(action, "remove") == 0) {
                std::string path = UdevInterfacePath(device, devnode, true);
                known_.erase(devnode);
                Deliver(DeviceEventKind::Removal, std::move(path), devnode, delivered);
            }
        }
        udev_device_unref(device);
    }
}

} // namespace ktv
