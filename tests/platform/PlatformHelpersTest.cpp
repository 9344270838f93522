#include "core/TestSupport.h"
#include "device/HidPro.h"
#include "device/platform/PlatformHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ktv::platform {
namespace {

bool HasBoxIdentifier(const std::string& text) { return text.find(BoxIdentifier) != std::string::npos; }

TEST(Identifiers, OnlyTheBoxMatchesTheCaseSensitiveSearch)
{
    struct Case {
        UsbIds Ids;
        const char* Expected;
        bool Matches;
    };
    const Case cases[] = {
        {{0x2B5E, 0x61D3}, "HID\\VID_2B5E&PID_61D3\\/dev/hidraw3", true},
        // Lower-case input still comes out upper-case.
        {{0x2b5e, 0x61d3}, "HID\\VID_2B5E&PID_61D3\\/dev/hidraw3", true},
        {{0x2B5E, 0x61D4}, "HID\\VID_2B5E&PID_61D4\\/dev/hidraw3", false},
        {{0x046D, 0xC52B}, "HID\\VID_046D&PID_C52B\\/dev/hidraw3", false},
        {{0x0001, 0x000A}, "HID\\VID_0001&PID_000A\\/dev/hidraw3", false},
    };
    for (const Case& c : cases) {
        const std::string id = RealInstanceId(c.Ids, "/dev/hidraw3");
        EXPECT_EQ(id, c.Expected);
        EXPECT_EQ(HasBoxIdentifier(id), c.Matches) << id;
    }
    EXPECT_EQ(VirtualInstanceId("box-1.sock"), "VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock");
    EXPECT_TRUE(HasBoxIdentifier(VirtualInstanceId("box-x.sock")));
}

TEST(Identifiers, UdevHidIdAndDevpathGiveVendorAndProduct)
{
    EXPECT_EQ(ParseHidId("0003:00002B5E:000061D3"), (UsbIds{0x2B5E, 0x61D3}));
    EXPECT_EQ(ParseHidId("0003:00002b5e:000061d3"), (UsbIds{0x2B5E, 0x61D3}));
    for (const char* bad : {"", "0003", "0003:2B5E", "0003:XYZ:61D3", "0003:0001FFFF:1", "0003::61D3"})
        EXPECT_FALSE(ParseHidId(bad)) << bad;

    // What a removal event still carries when the device is gone.
    EXPECT_EQ(ParseHidDevpath("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:2B5E:61D3.0004/hidraw/hidraw3"),
              (UsbIds{0x2B5E, 0x61D3}));
    EXPECT_EQ(ParseHidDevpath("/devices/virtual/misc/uhid/0003:046D:C52B.000A/hidraw/hidraw0"),
              (UsbIds{0x046D, 0xC52B}));
    for (const char* bad : {"", "/devices/pci0000:00/0000:00:14.0/hidraw/hidraw1", "/devices/0003:2B5E:61D3/hidraw",
                            "/devices/0003:2B5E:61D3.00G4/hidraw"})
        EXPECT_FALSE(ParseHidDevpath(bad)) << bad;
}

TEST(Reframing, RebuildsTheReportIdByteAndCountsIt)
{
    std::uint8_t data[70];
    for (int i = 0; i < 70; ++i)
        data[i] = std::uint8_t(0xA0 + i);

    struct Case {
        std::size_t Count;
        std::size_t ExpectedRead;
    };
    for (const Case c : {Case{64, 65}, Case{10, 11}, Case{0, 1}, Case{70, 65}}) {
        Report report;
        std::fill(report, report + ReportSize, std::uint8_t(0x55)); // left from an earlier report
        std::size_t bytesRead = 0;
        ReframeInputReport(data, c.Count, report, bytesRead);
        EXPECT_EQ(bytesRead, c.ExpectedRead) << c.Count;
        EXPECT_EQ(report[0], 0);
        for (std::size_t i = 1; i < ReportSize; ++i)
            EXPECT_EQ(report[i], i < bytesRead ? data[i - 1] : 0) << "count " << c.Count << " byte " << i;
    }
}

// A reply as hidapi delivers it (64 bytes, no report ID) passes the transport's
// validation once re-framed: the length and checksum positions line up.
TEST(Reframing, ReframedReplyValidatesInTheTransport)
{
    class OneReply final : public HidPlatform {
    public:
        std::vector<HidInterface> ListInterfaces() override
        {
            return {{RealInstanceId({BoxVendorId, BoxProductId}, "/dev/hidraw0"), "/dev/hidraw0"}};
        }
        PlatformHandle Open(const std::string&) override { return 1; }
        bool Write(PlatformHandle, const Report&) override { return true; }
        bool Read(PlatformHandle, Report& report, std::size_t& bytesRead, int) override
        {
            std::uint8_t wire[64] = {0xAA, 0x01, 0x02, 0x2A, 0x01, 0x2B}; // Link (1) echoed
            ReframeInputReport(wire, sizeof wire, report, bytesRead);
            return true;
        }
        void Close(PlatformHandle) override {}
        std::uint32_t LastError() override { return 0; }
    } platform;
    HidPro hid;
    hid.SetPlatform(&platform);
    hid.OpenDevice();
    ASSERT_TRUE(hid.Opened);
    EXPECT_EQ(hid.ReadReport(6), ReadResult::Ok);
}

TEST(ErrorMapping, ErrnoAndHidapiResultsBecomeTransportCodes)
{
    struct Case {
        int Err;
        std::uint32_t Code;
    };
    const Case cases[] = {
        {0, PlatformError::None},
        {EACCES, PlatformError::AccessDenied},
        {EPERM, PlatformError::AccessDenied},
        {ENODEV, PlatformError::NotConnected},
        {ENOENT, PlatformError::NotConnected},
        {EPIPE, PlatformError::NotConnected},
        {ECONNREFUSED, PlatformError::NotConnected},
        {ECONNRESET, PlatformError::NotConnected},
        {EBADF, PlatformError::InvalidHandle},
        {ETIMEDOUT, PlatformError::Timeout},
        {EIO, PlatformError::IoError},
        {EINVAL, PlatformError::IoError},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrnoToPlatformError(c.Err), c.Code) << "errno " << c.Err;

    EXPECT_EQ(HidReadErrorCode(0, 0), PlatformError::Timeout);
    EXPECT_EQ(HidReadErrorCode(0, EIO), PlatformError::Timeout);
    EXPECT_EQ(HidReadErrorCode(-1, 0), PlatformError::NotConnected); // poll saw the hang-up
    EXPECT_EQ(HidReadErrorCode(-1, ENODEV), PlatformError::NotConnected);
    EXPECT_EQ(HidReadErrorCode(-1, EIO), PlatformError::IoError);
}

TEST(VirtualBoxDirectory, RuntimeDirOrPerUserTmpFallback)
{
    EXPECT_EQ(VirtualBoxDirectory("/run/user/1000", 1000), "/run/user/1000/ktvtune");
    EXPECT_EQ(VirtualBoxDirectory("/run/user/1000/", 1000), "/run/user/1000/ktvtune");
    EXPECT_EQ(VirtualBoxDirectory(nullptr, 1000), "/tmp/ktvtune-1000");
    EXPECT_EQ(VirtualBoxDirectory("", 42), "/tmp/ktvtune-42");
}

TEST(VirtualBoxDirectory, CreatedPrivateAndRefusedWhenOthersCouldPlaceSockets)
{
    const test::TempDir base;
    const std::string dir = base.File("ktvtune");

    std::string error;
    ASSERT_TRUE(EnsureVirtualBoxDirectory(dir, &error)) << error;
    struct stat st{};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(EnsureVirtualBoxDirectory(dir)); // already there

    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    EXPECT_FALSE(EnsureVirtualBoxDirectory(dir, &error));
    EXPECT_NE(error.find("open to other users"), std::string::npos) << error;

    const std::string link = base.File("link");
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir.c_str(), link.c_str()), 0);
    EXPECT_FALSE(EnsureVirtualBoxDirectory(link));
}

TEST(VirtualBoxDirectory, SocketNames)
{
    for (const char* good : {"box-1.sock", "box-studio a.sock", "box-x.y.sock"})
        EXPECT_TRUE(IsVirtualBoxSocketName(good)) << good;
    for (const char* bad : {"box-.sock", "box-1.sock.tmp", ".box-1.sock.123", "box1.sock", "Box-1.sock", "box-1.SOCK", ""})
        EXPECT_FALSE(IsVirtualBoxSocketName(bad)) << bad;
}

} // namespace
} // namespace ktv::platform
