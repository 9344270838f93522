// The Windows platform meets no box under Wine: what it does without one,
// and how it reports the system's errors.
#include "core/TestSupport.h"
#include "device/HidPro.h"
#include "device/platform/WindowsHidPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

using namespace ktv;
using namespace ktv::test;

namespace {

TEST(WindowsHidPlatformTest, ErrorsMapToThePlatformsOwn)
{
    const struct {
        DWORD windows;
        std::uint32_t expected;
    } cases[] = {
        {ERROR_SUCCESS, PlatformError::None},
        {ERROR_ACCESS_DENIED, PlatformError::AccessDenied},
        {ERROR_SHARING_VIOLATION, PlatformError::AccessDenied},
        {ERROR_INVALID_HANDLE, PlatformError::InvalidHandle},
        {ERROR_TIMEOUT, PlatformError::Timeout},
        {ERROR_OPERATION_ABORTED, PlatformError::Timeout},
        {ERROR_DEVICE_NOT_CONNECTED, PlatformError::NotConnected},
        {ERROR_FILE_NOT_FOUND, PlatformError::NotConnected},
        {ERROR_GEN_FAILURE, PlatformError::NotConnected},
        {ERROR_DEV_NOT_EXIST, PlatformError::NotConnected},
        // A virtual box's pipe that ended or was closed by the box.
        {ERROR_BROKEN_PIPE, PlatformError::NotConnected},
        {ERROR_NO_DATA, PlatformError::NotConnected},
        {ERROR_PIPE_NOT_CONNECTED, PlatformError::NotConnected},
        {ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowsHidPlatform::MapError(c.windows), c.expected) << c.windows;
}

TEST(WindowsHidPlatformTest, NoBoxPresent)
{
    RecordingUi ui;
    const BoxSession session(ui); // the core's shared state, undone at the end
    WindowsHidPlatform platform;
    const auto interfaces = platform.ListInterfaces();
    EXPECT_TRUE(std::none_of(interfaces.begin(), interfaces.end(), [](const HidInterface& i) {
        return i.InstanceId.find("VID_2B5E&PID_61D3") != std::string::npos;
    }));

    Hid().SetPlatform(&platform);
    ui.Clear();
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"no usb device 2"});
    Hid().SetPlatform(nullptr);
}

TEST(WindowsHidPlatformTest, MissingInterfaceAndUnknownHandlesFailWithoutWaiting)
{
    WindowsHidPlatform platform;
    EXPECT_EQ(platform.Open("\\\\?\\hid#vid_2b5e&pid_61d3#0&0000&0#{4d1e55b2-f16f-11cf-88cb-001111000030}"),
              InvalidHandle);
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);
    EXPECT_EQ(platform.Open(""), InvalidHandle);

    Report report{};
    std::size_t bytesRead = 7;
    EXPECT_FALSE(platform.Read(42, report, bytesRead, ReadTimeoutMs));
    EXPECT_EQ(bytesRead, 0u);
    EXPECT_EQ(platform.LastError(), PlatformError::InvalidHandle);
    EXPECT_FALSE(platform.Write(42, report));
    EXPECT_EQ(platform.LastError(), PlatformError::InvalidHandle);
    platform.Close(42); // unknown: nothing happens
}

} // namespace
