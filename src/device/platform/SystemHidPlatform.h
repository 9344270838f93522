#pragma once
// The platform services of the system the program is built for.

#ifdef _WIN32
#include "device/platform/WindowsHidPlatform.h"
namespace ktv {
using SystemHidPlatform = WindowsHidPlatform;
}
#else
#include "device/platform/LinuxHidPlatform.h"
namespace ktv {
using SystemHidPlatform = LinuxHidPlatform;
}
#endif
