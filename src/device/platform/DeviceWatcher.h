#pragma once
// Arrival and removal of HID interfaces without a thread: a udev monitor for
// hidraw nodes and an inotify watch on the virtual-box directory, both behind
// one file descriptor that the window's event loop watches. When it becomes
// readable, ProcessPendingEvents() delivers what happened.

#include "device/platform/DeviceEvents.h"

#include <functional>
#include <map>
#include <string>

struct udev;
struct udev_monitor;
struct udev_device;

namespace ktv {


class DeviceWatcher {
public:
    using Callback = std::function<void(const DeviceEvent&)>;

    // Empty: the default virtual-box directory.
    explicit DeviceWatcher(std::string virtualBoxDir = {});
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Starts watching and delivers later events to `callback`. True when at
    // least one of the two sources is watched (a machine without udev still
    // sees its virtual boxes). A second call replaces the callback.
    bool Register(Callback callback);
    // Stops watching; no event is delivered afterwards.
    void Unregister();
    bool Registered() const { return fd_ >= 0; }

    // Readable while events are pending; -1 when not registered.
    int Fd() const { return fd_; }
    // Delivers every pending event without waiting; returns how many.
    int ProcessPendingEvents();

    // Whether the udev monitor is used (tests switch it off).
    bool UseUdev = true;

private:
    void DrainUdev(int& delivered);
    void DrainInotify(int& delivered);
    void Deliver(DeviceEventKind kind, std::string path, std::string devicePath, int& delivered);
    std::string UdevInterfacePath(udev_device* device, const std::string& devnode, bool removal);

    std::string dir_;
    Callback callback_;
    int fd_ = -1;      // epoll over the two sources
    int inotify_ = -1;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    // Interface path of each hidraw node seen, so a removal is recognised
    // even when nothing about the device can be looked up any more.
    std::map<std::string, std::string> known_;
};

} // namespace ktv
