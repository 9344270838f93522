// The box's named-pipe server in-process, the Windows platform's virtual
// boxes and the watcher's events, in a temporary virtual-box folder.
#include "base/WinText.h"
#include "box/BoxServer.h"
#include "core/TestSupport.h"
#include "device/HidPro.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/WindowsDeviceWatcher.h"
#include "device/platform/WindowsHidPlatform.h"
#include "device/platform/WindowsPipes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <windows.h>

#include <dbt.h>
#include <sddl.h>
extern "C" {
#include <hidsdi.h>
}

namespace ktv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A Link request as the transport frames it: report ID, marker, address,
// length, payload, checksum.
Bytes LinkRequest()
{
    Bytes r(ReportSize, 0);
    r[1] = 0xAA;
    r[2] = 1;
    r[3] = 2;
    r[4] = 0x2A;
    r[5] = 1;
    r[6] = 0x2B;
    return r;
}

// One box served by a thread of its own; its log kept for the test.
class RunningBox {
public:
    RunningBox(const std::string& dir, const std::string& name = "1", std::chrono::milliseconds idle = 0ms)
        : server(box, {dir, name, idle})
    {
        server.Log = [this](const std::string& line) {
            const std::lock_guard lock(mutex);
            log.push_back(line);
        };
        listening = server.Listen(error);
        if (listening)
            thread = std::thread([this] {
                std::string why;
                server.Run(-1, why);
            });
    }
    ~RunningBox() { Stop(); }
    void Stop()
    {
        server.Stop();
        if (thread.joinable())
            thread.join();
        server.Close();
    }
    std::vector<std::string> Log()
    {
        const std::lock_guard lock(mutex);
        return log;
    }
    std::size_t Count(const std::string& text)
    {
        std::size_t n = 0;
        for (const std::string& line : Log())
            n += line.find(text) != std::string::npos;
        return n;
    }

    VirtualBox box;
    tools::BoxServer server;
    bool listening = false;
    std::string error;

private:
    std::thread thread;
    std::mutex mutex;
    std::vector<std::string> log;
};

// A raw client of the pipe, for what the platform never sends.
struct RawClient {
    explicit RawClient(const std::string& pipe) : h(platform::ConnectToBox(pipe, 2000)) {}
    ~RawClient()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    // A message of `bytes`, without waiting longer than a second.
    bool Send(const Bytes& bytes)
    {
        // Kept on the heap and given up when the write is stuck: Wine does
        // not end a cancelled write to a pipe whose server has gone.
        auto* ov = new OVERLAPPED{};
        auto* data = new Bytes(bytes);
        ov->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD done = 0;
        const bool started = WriteFile(h, data->data(), DWORD(data->size()), nullptr, ov) ||
                             GetLastError() == ERROR_IO_PENDING;
        if (started && WaitForSingleObject(ov->hEvent, 1000) != WAIT_OBJECT_0) {
            CancelIoEx(h, ov);
            if (WaitForSingleObject(ov->hEvent, 1000) != WAIT_OBJECT_0)
                return false;
        }
        const bool ok = started && GetOverlappedResult(h, ov, &done, FALSE) && done == data->size();
        CloseHandle(ov->hEvent);
        delete ov;
        delete data;
        return ok;
    }
    // The next message, empty when none came within a second.
    Bytes Receive()
    {
        Bytes buffer(256);
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD done = 0;
        if (!ReadFile(h, buffer.data(), DWORD(buffer.size()), nullptr, &ov) && GetLastError() == ERROR_IO_PENDING &&
            WaitForSingleObject(ov.hEvent, 1000) != WAIT_OBJECT_0)
            CancelIoEx(h, &ov);
        if (!GetOverlappedResult(h, &ov, &done, TRUE))
            done = 0;
        CloseHandle(ov.hEvent);
        buffer.resize(done);
        return buffer;
    }
    HANDLE h;
};

// The virtual boxes among what the platform lists (Wine has HID devices of its own).
std::vector<HidInterface> VirtualBoxes(WindowsHidPlatform& platform)
{
    std::vector<HidInterface> found;
    for (HidInterface& i : platform.ListInterfaces())
        if (i.InstanceId.starts_with("VIRTUAL\\"))
            found.push_back(std::move(i));
    return found;
}

class WindowsBoxes : public ::testing::Test {
protected:
    test::TempDir temp;
    const std::string dir = temp.Path() + "\\boxes";
    std::string Pipe(const std::string& name = "1") { return platform::VirtualBoxPipe(dir, "box-" + name + ".sock"); }
};

TEST_F(WindowsBoxes, ListedOpenedAndAnsweredOneReportPerMessage)
{
    RunningBox running(dir);
    ASSERT_TRUE(running.listening) << running.error;
    EXPECT_EQ(running.server.Path(), Pipe());
    EXPECT_TRUE(std::filesystem::exists(dir + "\\box-1.sock"));

    WindowsHidPlatform platform(dir);
    const std::vector<HidInterface> found = VirtualBoxes(platform);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].InstanceId, "VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock");
    EXPECT_EQ(found[0].Path, Pipe());

    const PlatformHandle h = platform.Open(found[0].Path);
    ASSERT_NE(h, InvalidHandle) << platform.LastError();
    Report request, reply;
    const Bytes link = LinkRequest();
    std::copy(link.begin(), link.end(), request);
    std::size_t got = 0;
    ASSERT_TRUE(platform.Write(h, request));
    ASSERT_TRUE(platform.Read(h, reply, got, ReadTimeoutMs)) << platform.LastError();
    EXPECT_EQ(got, ReportSize);
    EXPECT_EQ(Bytes(reply + 1, reply + 7), Bytes(link.begin() + 1, link.begin() + 7));
    // Nothing more comes: the wait ends at its bound.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform.Read(h, reply, got, 100));
    EXPECT_EQ(platform.LastError(), PlatformError::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(running.Count("#1 Link on=1 | ok"), 1u);

    // The messages keep their bounds: a longer and a shorter one are each one
    // request the box refuses, and the next report is answered as usual.
    RawClient raw(Pipe());
    ASSERT_NE(raw.h, INVALID_HANDLE_VALUE);
    Bytes longer = link;
    longer.resize(300, 0x55);
    ASSERT_TRUE(raw.Send(longer));
    ASSERT_TRUE(raw.Send(Bytes(link.begin(), link.begin() + 10)));
    ASSERT_TRUE(raw.Send(link));
    const Bytes answer = raw.Receive();
    ASSERT_EQ(answer.size(), ReportSize);
    EXPECT_EQ(answer[4], 0x2A);
    const std::vector<std::string> lines = running.Log();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[1].find("#2 "), std::string::npos);
    EXPECT_EQ(lines[1].find("| ok"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].find("| ok"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("#4 Link on=1 | ok"), std::string::npos) << lines[3];

    platform.Close(h);
    running.Stop();
    // Its file goes with it, and with it the box from the list.
    EXPECT_FALSE(std::filesystem::exists(dir + "\\box-1.sock"));
    EXPECT_TRUE(VirtualBoxes(platform).empty());
    EXPECT_EQ(platform.Open(Pipe()), InvalidHandle);
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);
}

TEST_F(WindowsBoxes, ASecondBoxOfTheSameNameIsRefusedAStaleFileReplaced)
{
    // A file left without its box is no box, and a box takes its place.
    std::filesystem::create_directories(dir);
    { std::ofstream(dir + "\\box-1.sock"); }
    WindowsHidPlatform platform(dir);
    EXPECT_TRUE(VirtualBoxes(platform).empty());

    RunningBox first(dir);
    ASSERT_TRUE(first.listening) << first.error;
    EXPECT_EQ(first.Count("replacing stale file"), 1u);
    RunningBox second(dir);
    EXPECT_FALSE(second.listening);
    EXPECT_NE(second.error.find("another box is already listening"), std::string::npos) << second.error;
    // The same name in another folder is another box.
    test::TempDir other;
    RunningBox elsewhere(other.Path());
    EXPECT_TRUE(elsewhere.listening) << elsewhere.error;
    EXPECT_EQ(VirtualBoxes(platform).size(), 1u);
}

TEST_F(WindowsBoxes, APipeOfAnotherOwnerIsNeitherListedNorOpened)
{
    // Someone else's pipe under the name our box would have.
    ASSERT_TRUE(platform::EnsureVirtualBoxDirectory(dir));
    { std::ofstream(dir + "\\box-1.sock"); }
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;GA;;;WD)", SDDL_REVISION_1, &sd,
                                                                     nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const HANDLE foreign = CreateNamedPipeW(win::Wide(Pipe()).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 4, 4096, 4096, 0, &sa);
    LocalFree(sd);
    ASSERT_NE(foreign, INVALID_HANDLE_VALUE);
    OVERLAPPED waiting{};
    waiting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ConnectNamedPipe(foreign, &waiting);
    if (platform::OwnedByCurrentUser(foreign)) {
        CloseHandle(foreign);
        GTEST_SKIP() << "this system makes every pipe the creator's";
    }
    // (The pipe has one instance, and each check takes it.)
    WindowsHidPlatform platform(dir);
    EXPECT_EQ(platform.Open(Pipe()), InvalidHandle);
    EXPECT_EQ(platform.LastError(), PlatformError::AccessDenied);
    DisconnectNamedPipe(foreign);
    ResetEvent(waiting.hEvent);
    ConnectNamedPipe(foreign, &waiting);
    EXPECT_TRUE(VirtualBoxes(platform).empty());
    CloseHandle(foreign);
    CloseHandle(waiting.hEvent);
}

TEST_F(WindowsBoxes, AClientThatNeverReadsIsDroppedWhileOthersAreServed)
{
    RunningBox running(dir);
    ASSERT_TRUE(running.listening) << running.error;
    RawClient greedy(Pipe());
    ASSERT_NE(greedy.h, INVALID_HANDLE_VALUE);
    // Requests without ever reading a reply, until the box lets go.
    int sent = 0;
    while (sent < 2000 && greedy.Send(LinkRequest()))
        ++sent;
    EXPECT_LT(sent, 2000);

    WindowsHidPlatform platform(dir);
    const PlatformHandle h = platform.Open(Pipe());
    ASSERT_NE(h, InvalidHandle);
    Report request, reply;
    const Bytes link = LinkRequest();
    std::copy(link.begin(), link.end(), request);
    std::size_t got = 0;
    EXPECT_TRUE(platform.Write(h, request));
    EXPECT_TRUE(platform.Read(h, reply, got, ReadTimeoutMs));
    EXPECT_EQ(running.Count("closing a client that does not read its replies"), 1u);
    platform.Close(h);
}

TEST_F(WindowsBoxes, AnIdleConnectionIsClosedAndTheLinkMadeAgainSilently)
{
    RunningBox running(dir, "1", 200ms);
    ASSERT_TRUE(running.listening) << running.error;
    WindowsHidPlatform platform(dir);
    const PlatformHandle h = platform.Open(Pipe());
    ASSERT_NE(h, InvalidHandle);
    Report request, reply;
    const Bytes link = LinkRequest();
    std::copy(link.begin(), link.end(), request);
    std::size_t got = 0;
    ASSERT_TRUE(platform.Write(h, request));
    ASSERT_TRUE(platform.Read(h, reply, got, ReadTimeoutMs));
    std::this_thread::sleep_for(700ms); // the box closes our end meanwhile
    EXPECT_TRUE(platform.Write(h, request)) << platform.LastError();
    EXPECT_TRUE(platform.Read(h, reply, got, ReadTimeoutMs)) << platform.LastError();
    EXPECT_EQ(running.Count("Link on=1 | ok"), 2u);
    platform.Close(h);
}

TEST_F(WindowsBoxes, TheTransportOpensTheFirstBoxAndTellsAMissingOne)
{
    test::RecordingUi ui;
    const test::BoxSession session(ui);
    WindowsHidPlatform platform(dir);
    Hid().SetPlatform(&platform);
    Hid().OpenDevice();
    EXPECT_FALSE(Hid().Opened);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"no usb device 2"});
    {
        RunningBox running(dir);
        ASSERT_TRUE(running.listening);
        ui.Clear();
        Hid().OpenDevice();
        EXPECT_TRUE(Hid().Opened);
        EXPECT_EQ(Hid().OpenedId, "VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock");
        Hid().CloseDevice();
    }
    Hid().SetPlatform(nullptr);
}

TEST_F(WindowsBoxes, TheWatcherReportsBoxesComingAndGoing)
{
    DeviceWatcher watcher(dir);
    std::vector<DeviceEvent> events;
    ASSERT_TRUE(watcher.Register(nullptr, [&](const DeviceEvent& e) { events.push_back(e); }));
    ASSERT_NE(watcher.FolderChangeHandle(), nullptr);
    auto waitFor = [&](std::size_t n) {
        for (int i = 0; i < 300 && events.size() < n; ++i)
            if (WaitForSingleObject(watcher.FolderChangeHandle(), 20) == WAIT_OBJECT_0)
                watcher.ProcessPendingEvents();
    };
    {
        RunningBox running(dir, "7");
        ASSERT_TRUE(running.listening);
        waitFor(1);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].Kind, DeviceEventKind::Arrival);
        EXPECT_EQ(events[0].Path, "VIRTUAL\\VID_2B5E&PID_61D3\\box-7.sock");
        EXPECT_EQ(events[0].DevicePath, Pipe("7"));
    }
    waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].Kind, DeviceEventKind::Removal);
    EXPECT_EQ(events[1].Path, "VIRTUAL\\VID_2B5E&PID_61D3\\box-7.sock");
    watcher.Unregister();
    EXPECT_FALSE(watcher.Registered());
    EXPECT_EQ(watcher.FolderChangeHandle(), nullptr);
}

// What the window forwards from WM_DEVICECHANGE, as the system sends it.
std::vector<std::uint8_t> Broadcast(const GUID& cls, const std::wstring& name)
{
    std::vector<std::uint8_t> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t));
    auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    b->dbcc_size = DWORD(bytes.size());
    b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    b->dbcc_classguid = cls;
    std::copy(name.begin(), name.end(), b->dbcc_name);
    return bytes;
}

TEST_F(WindowsBoxes, TheWatcherTurnsTheWindowsDeviceMessagesIntoEvents)
{
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    DeviceWatcher watcher(dir);
    std::vector<DeviceEvent> events;
    ASSERT_TRUE(watcher.Register(window, [&](const DeviceEvent& e) { events.push_back(e); }));
    GUID hid;
    HidD_GetHidGuid(&hid);
    const std::wstring path = L"\\\\?\\hid#vid_2b5e&pid_61d3#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    auto arrival = Broadcast(hid, path);
    EXPECT_TRUE(watcher.HandleDeviceChange(DBT_DEVICEARRIVAL, std::intptr_t(arrival.data())));
    EXPECT_TRUE(watcher.HandleDeviceChange(DBT_DEVICEREMOVECOMPLETE, std::intptr_t(arrival.data())));
    // Other classes, other messages and no data are none of ours.
    GUID other = hid;
    other.Data1 ^= 1;
    auto foreign = Broadcast(other, path);
    EXPECT_FALSE(watcher.HandleDeviceChange(DBT_DEVICEARRIVAL, std::intptr_t(foreign.data())));
    EXPECT_FALSE(watcher.HandleDeviceChange(DBT_DEVNODES_CHANGED, 0));
    EXPECT_FALSE(watcher.HandleDeviceChange(DBT_DEVICEARRIVAL, 0));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Kind, DeviceEventKind::Arrival);
    EXPECT_EQ(events[1].Kind, DeviceEventKind::Removal);
    for (const DeviceEvent& e : events) {
        // The identifier in upper case, so the case-sensitive search finds the box.
        EXPECT_EQ(e.Path, "HID\\VID_2B5E&PID_61D3\\7&1A2B3C&0&0000");
        EXPECT_EQ(e.DevicePath, win::Utf8(path.c_str()));
    }
    watcher.Unregister();
    EXPECT_FALSE(watcher.HandleDeviceChange(DBT_DEVICEARRIVAL, std::intptr_t(arrival.data())));
    EXPECT_EQ(events.size(), 2u);
    DestroyWindow(window);
}

} // namespace
} // namespace ktv
