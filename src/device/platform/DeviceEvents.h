#pragma once
// What the device watchers report, on Linux and on Windows alike.

#include <string>

namespace ktv {

enum class DeviceEventKind { Arrival, Removal };

struct DeviceEvent {
    DeviceEventKind Kind = DeviceEventKind::Arrival;
    // The interface path, holding the identifier in upper-case hex so the
    // case-sensitive "VID_2B5E&PID_61D3" search works: for a real device its
    // instance identifier, HID\VID_xxxx&PID_yyyy\/dev/hidrawN on Linux and
    // the system's own HID\VID_xxxx&PID_yyyy\... on Windows; for a virtual
    // box VIRTUAL\VID_2B5E&PID_61D3\box-NAME.sock.
    std::string Path;
    // What the platform's Open takes: the hidraw node, the socket, the
    // Windows interface path or the pipe.
    std::string DevicePath;
};

} // namespace ktv
