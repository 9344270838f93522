#include "core/TestSupport.h"

#include "device/HidPro.h"

#include <algorithm>
#include <deque>
#include <string>

namespace ktv::test {
namespace {

// Platform services that hand out scripted replies and record what the
// transport asked of them.
class ScriptedPlatform final : public HidPlatform {
public:
    std::vector<HidInterface> interfaces;
    std::uint32_t openError = PlatformError::None;
    std::vector<std::string> opened;
    std::vector<PlatformHandle> closed;
    Bytes reply;                // what the next read returns (bytesRead = size)
    std::deque<Bytes> waiting;  // reports already queued: read first, and without waiting
    int reads = 0;
    bool readFails = false;
    std::uint32_t readError = PlatformError::Timeout;
    std::uint32_t lastError = 0;

    std::vector<HidInterface> ListInterfaces() override { return interfaces; }
    PlatformHandle Open(const std::string& path) override
    {
        opened.push_back(path);
        lastError = openError;
        return openError ? InvalidHandle : PlatformHandle(opened.size());
    }
    bool Write(PlatformHandle handle, const Report&) override
    {
        lastError = handle == InvalidHandle ? PlatformError::InvalidHandle : 0;
        return handle != InvalidHandle;
    }
    bool Read(PlatformHandle, Report& report, std::size_t& bytesRead, int timeoutMs) override
    {
        ++reads;
        if (!waiting.empty()) {
            std::copy(waiting.front().begin(), waiting.front().end(), report);
            bytesRead = waiting.front().size();
            waiting.pop_front();
            return true;
        }
        if (timeoutMs == 0) { // the reply to the next write has not come yet
            lastError = PlatformError::Timeout;
            return false;
        }
        if (readFails) {
            lastError = readError;
            return false;
        }
        std::copy(reply.begin(), reply.end(), report);
        bytesRead = reply.size();
        return true;
    }
    void Close(PlatformHandle handle) override { closed.push_back(handle); }
    std::uint32_t LastError() override { return lastError; }
};

Bytes Reply(const Bytes& payload) { return Frame(payload); }

class HidProTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetUserInterface(&ui);
        Hid() = HidPro{};
        Hid().SetPlatform(&platform);
    }
    void TearDown() override
    {
        Hid().CloseDevice();
        Hid().SetPlatform(nullptr);
        SetUserInterface(nullptr);
    }
    RecordingUi ui;
    ScriptedPlatform platform;
};

TEST(Checksum, SumsModulo256)
{
    struct Case {
        Bytes data;
        std::uint8_t sum;
    };
    const Case cases[] = {
        {{}, 0x00},
        {{0x2A}, 0x2A},
        {{0xFF, 0x02}, 0x01},
        {{0x80, 0x80, 0x80}, 0x80},
        {Bytes(60, 0xFF), 0xC4}, // 60 * 255 = 15300 = 0x3BC4
    };
    for (const Case& c : cases)
        EXPECT_EQ(Checksum(c.data.data(), c.data.size()), c.sum) << c.data.size() << " bytes";
}

TEST_F(HidProTest, OpenTakesFirstInterfaceWhoseIdHoldsTheBoxIdentifier)
{
    platform.interfaces = {
        {"HID\\VID_046D&PID_C077\\7&1", "/dev/mouse"},
        {"HID\\vid_2b5e&pid_61d3\\7&2", "/dev/lower"}, // lower case does not match
        {"HID\\VID_2B5E&PID_61D3\\7&3", "/dev/box1"},
        {"HID\\VID_2B5E&PID_61D3\\7&4", "/dev/box2"},
    };
    Hid().OpenDevice();
    EXPECT_TRUE(Hid().Opened);
    EXPECT_EQ(platform.opened, std::vector<std::string>{"/dev/box1"});
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(HidProTest, OpenTakesTheChosenBoxAndNoOtherWhenItIsGone)
{
    platform.interfaces = {
        {"HID\\VID_046D&PID_C077\\7&1", "/dev/mouse"},
        {"HID\\VID_2B5E&PID_61D3\\7&3", "/dev/box1"},
        {"HID\\VID_2B5E&PID_61D3\\7&4", "/dev/box2"},
    };
    Hid().DevicePath = "/dev/box2";
    Hid().OpenDevice();
    EXPECT_TRUE(Hid().Opened);
    EXPECT_EQ(platform.opened, std::vector<std::string>{"/dev/box2"});

    // The chosen box unplugged: never fall back to another one, and a
    // non-box interface under that path is no box either.
    Hid().CloseDevice();
    platform.opened.clear();
    platform.interfaces[2] = {"HID\\VID_046D&PID_C077\\7&4", "/dev/box2"};
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    EXPECT_TRUE(platform.opened.empty());
    EXPECT_EQ(ui.messages, std::vector<std::string>{"no usb device 2"});
}

TEST(SelectBox, ByIdentifierPathOrPosition)
{
    const std::vector<HidInterface> boxes = {
        {"HID\\VID_2B5E&PID_61D3\\7&3", "/dev/hidraw3"},
        {"VIRTUAL\\VID_2B5E&PID_61D3\\box-2.sock", "/run/ktvtune/box-2.sock"},
        // A box whose path is all digits: the path wins over the position.
        {"VIRTUAL\\VID_2B5E&PID_61D3\\odd", "1"},
    };
    struct Case {
        const char* wanted;
        int index; // -1: no box
    };
    const Case cases[] = {
        {"HID\\VID_2B5E&PID_61D3\\7&3", 0},
        {"/run/ktvtune/box-2.sock", 1},
        {"VIRTUAL\\VID_2B5E&PID_61D3\\box-2.sock", 1},
        {"2", 1},
        {"3", 2},
        {"1", 2},
        {"4", -1},
        {"0", -1},
        {"-1", -1},
        {"2x", -1},
        {"", -1},
        {"00000000000000000002", -1}, // no wrap-around of a long number
        {"box-2.sock", -1},           // a part of the identifier is not enough
        {"hid\\vid_2b5e&pid_61d3\\7&3", -1},
    };
    for (const Case& c : cases) {
        const HidInterface* got = SelectBox(boxes, c.wanted);
        if (c.index < 0)
            EXPECT_EQ(got, nullptr) << "'" << c.wanted << "'";
        else
            EXPECT_EQ(got, &boxes[std::size_t(c.index)]) << "'" << c.wanted << "'";
    }
}

TEST_F(HidProTest, OpenWithoutBoxShowsNoUsbDevice)
{
    struct Case {
        const char* name;
        std::vector<HidInterface> interfaces;
    };
    const Case cases[] = {
        {"empty list", {}},
        {"other devices only", {{"HID\\VID_046D&PID_C077\\1", "/dev/mouse"}}},
        {"identifier in lower case", {{"HID\\VID_2b5e&PID_61d3\\1", "/dev/box"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.Clear();
        platform.interfaces = c.interfaces;
        platform.opened.clear();
        Hid().OpenDevice();
        EXPECT_FALSE(Hid().Opened);
        EXPECT_TRUE(platform.opened.empty());
        EXPECT_EQ(ui.messages, std::vector<std::string>{"no usb device 2"});
    }
}

TEST_F(HidProTest, OpenWithoutPlatformFindsNoBox)
{
    Hid().SetPlatform(nullptr);
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"no usb device 2"});
    const std::uint8_t payload = 0x2A;
    EXPECT_FALSE(Hid().WriteReport(&payload, 1));
    EXPECT_EQ(ui.status[1], "Write:error!");
}

TEST_F(HidProTest, OpenFailureSaysWhyOnlyForMissingPermission)
{
    platform.interfaces = {{"HID\\VID_2B5E&PID_61D3\\1", "/dev/box"}};

    platform.openError = PlatformError::AccessDenied;
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    ASSERT_EQ(ui.messages.size(), 1u);
#ifdef _WIN32
    // Windows has no udev: the box is held by another program.
    EXPECT_EQ(ui.messages[0].find("udev"), std::string::npos);
    EXPECT_NE(ui.messages[0].find("access denied"), std::string::npos);
    EXPECT_NE(ui.messages[0].find("other program"), std::string::npos);
#else
    EXPECT_NE(ui.messages[0].find("70-ktvtune.rules"), std::string::npos);
    EXPECT_NE(ui.messages[0].find("permission"), std::string::npos);
#endif

    ui.Clear();
    platform.openError = PlatformError::NotConnected;
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(HidProTest, ReopenAndCloseReleaseTheHandleOnce)
{
    platform.interfaces = {{"HID\\VID_2B5E&PID_61D3\\1", "/dev/box"}};
    Hid().OpenDevice();
    const PlatformHandle first = Hid().Handle;
    Hid().OpenDevice(); // closes the earlier handle first
    EXPECT_EQ(platform.closed, std::vector<PlatformHandle>{first});
    EXPECT_TRUE(Hid().Opened);

    Hid().CloseDevice();
    Hid().CloseDevice(); // only clears Opened again
    EXPECT_EQ(platform.closed.size(), 2u);
    EXPECT_FALSE(Hid().Opened);
    EXPECT_EQ(Hid().Handle, InvalidHandle);
}

TEST_F(HidProTest, ReadChecksLengthThenChecksumThenAddress)
{
    platform.interfaces = {{"HID\\VID_2B5E&PID_61D3\\1", "/dev/box"}};
    Hid().OpenDevice();

    const Bytes good6 = Reply({0x1E, 0x21});
    auto with = [](Bytes r, std::size_t at, std::uint8_t v) {
        r[at] = v;
        return r;
    };
    Bytes shortRead = good6;
    shortRead.resize(6); // needs n + 1 = 7 bytes
    const Bytes good64 = Reply(Bytes(60, 0x11));

    struct Case {
        const char* name;
        Bytes reply;
        std::size_t n;
        ReadResult result;
        std::string status; // panel 1 afterwards ("" = untouched)
    };
    const Case cases[] = {
        {"valid", good6, 6, ReadResult::Ok, ""},
        {"wrong marker is not checked", with(good6, 1, 0x55), 6, ReadResult::Ok, ""},
        {"length byte 2 fits only n = 6", good6, 8, ReadResult::BadLength, ""},
        {"fewer than n + 1 bytes", shortRead, 6, ReadResult::BadLength, ""},
        {"bad checksum", with(good6, 6, 0x40), 6, ReadResult::BadChecksum, "CheckSum:error!6"},
        {"bad checksum, full report", with(good64, 64, 0), 64, ReadResult::BadChecksum, "CheckSum:error!64"},
        {"address 2", with(good6, 2, 2), 6, ReadResult::BadDeviceId, ""},
        {"length before checksum", with(with(good6, 3, 3), 6, 0), 6, ReadResult::BadLength, ""},
        {"checksum before address", with(with(good6, 2, 2), 6, 0), 6, ReadResult::BadChecksum, "CheckSum:error!6"},
        {"length before address", with(good6, 2, 2), 8, ReadResult::BadLength, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.Clear();
        platform.reply = c.reply;
        EXPECT_EQ(Hid().ReadReport(c.n), c.result);
        EXPECT_EQ(ui.status[1], c.status);
        EXPECT_TRUE(ui.messages.empty());
        // The report stays in InReport whatever its verdict.
        EXPECT_TRUE(std::equal(c.reply.begin(), c.reply.end(), Hid().InReport));
    }
}

TEST_F(HidProTest, ReadErrorShowsLow16BitsOfTheCode)
{
    platform.readFails = true;
    const std::pair<std::uint32_t, std::string> cases[] = {
        {1167, "ReadFile:error!1167"},
        {PlatformError::Timeout, "ReadFile:error!1460"},
        {0x8007001F, "ReadFile:error!31"},
    };
    for (const auto& [code, text] : cases) {
        platform.readError = code;
        EXPECT_EQ(Hid().ReadReport(6), ReadResult::ReadError);
        EXPECT_EQ(ui.status[1], text);
    }
}

TEST_F(HidProTest, LateRepliesAreDiscardedBeforeTheNextRequest)
{
    platform.interfaces = {{"HID\\VID_2B5E&PID_61D3\\1", "/dev/box"}};
    Hid().OpenDevice();
    // Two replies that came after their waits ran out, then the reply to
    // this request.
    platform.waiting = {Reply({0x81, 0x01}), Reply({0x2A, 0x00})};
    platform.reply = Reply({0x2A, 0x01});
    const std::uint8_t link = 0x2A;
    ASSERT_TRUE(Hid().WriteReport(&link, 1));
    EXPECT_TRUE(platform.waiting.empty());
    ASSERT_EQ(Hid().ReadReport(6), ReadResult::Ok);
    EXPECT_EQ(Hid().ReplyByte(1), 0x01);

    // A device that never stops sending does not hold the write forever.
    platform.waiting.assign(1000, Reply({0x2A, 0x00}));
    ASSERT_TRUE(Hid().WriteReport(&link, 1));
    EXPECT_LT(platform.waiting.size(), 1000u);
    EXPECT_GT(platform.waiting.size(), 900u);
}

class TransportOverBox : public CoreFixture {};

TEST_F(TransportOverBox, WriteFramesPayloadAndKeepsOlderTailBytes)
{
    Bytes longPayload(60);
    for (std::size_t i = 0; i < longPayload.size(); ++i)
        longPayload[i] = std::uint8_t(0x01 + i);
    longPayload[0] = 0x01; // System
    ASSERT_TRUE(Hid().WriteReport(longPayload.data(), 60));
    EXPECT_EQ(ui.status[1], "Write:ok!");
    const Bytes first = box.Box.Log.back().Request;
    EXPECT_EQ(first[3], 60);
    EXPECT_EQ(first[64], Checksum(longPayload.data(), 60)); // last byte of the report

    const std::uint8_t mute[] = {0x1E, 0x21};
    ASSERT_TRUE(Hid().WriteReport(mute, 2));
    const Bytes second = box.Box.Log.back().Request;
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 7), (Bytes{0x00, 0xAA, 0x01, 0x02, 0x1E, 0x21, 0x3F}));
    // Bytes after the checksum still hold what the longer report left.
    EXPECT_TRUE(std::equal(second.begin() + 7, second.end(), first.begin() + 7));
}

TEST_F(TransportOverBox, SilentBoxIsAReadErrorNotAHang)
{
    box.Box.Faults.Kind = VirtualBox::Fault::Silent;
    const std::uint8_t mute[] = {0x1E, 0x00};
    ASSERT_TRUE(Hid().WriteReport(mute, 2));
    EXPECT_EQ(Hid().ReadReport(6), ReadResult::ReadError);
    EXPECT_EQ(ui.status[1], "ReadFile:error!1460");
}

TEST_F(TransportOverBox, WriteFailsOnClosedOrUnpluggedBox)
{
    const std::uint8_t mute[] = {0x1E, 0x00};

    box.Present = false; // unplugged while open
    EXPECT_FALSE(Hid().WriteReport(mute, 2));
    EXPECT_EQ(ui.status[1], "Write:error!");
    EXPECT_TRUE(Hid().Opened); // a failure does not change Opened

    box.Present = true;
    Hid().CloseDevice();
    ui.Clear();
    EXPECT_FALSE(Hid().WriteReport(mute, 2));
    EXPECT_EQ(ui.status[1], "Write:error!");
    EXPECT_EQ(Hid().ReadReport(6), ReadResult::ReadError);
    EXPECT_EQ(ui.status[1], "ReadFile:error!6");
    EXPECT_TRUE(box.Box.Log.empty());
}

TEST_F(TransportOverBox, OpenFindsTheBoxBehindOtherDevicesAndMissesItWhenAbsent)
{
    Hid().CloseDevice();
    box.OtherDevices = {{"HID\\VID_046D&PID_C077\\1", "/dev/mouse"}};
    Hid().OpenDevice();
    EXPECT_TRUE(Hid().Opened);

    Hid().CloseDevice();
    box.Present = false;
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"no usb device 2"});

    ui.Clear();
    box.Present = true;
    box.DenyAccess = true;
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    ASSERT_EQ(ui.messages.size(), 1u);
#ifdef _WIN32
    EXPECT_NE(ui.messages[0].find("access denied"), std::string::npos);
#else
    EXPECT_NE(ui.messages[0].find("70-ktvtune.rules"), std::string::npos);
#endif
}

} // namespace
} // namespace ktv::test
