#include "device/HidPro.h"
#include "device/platform/DeviceWatcher.h"
#include "device/platform/LinuxHidPlatform.h"
#include "device/platform/PlatformHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ktv {
namespace {

// A temporary runtime directory holding the virtual-box directory.
class RuntimeDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char base[] = "/tmp/ktv-rt-XXXXXX";
        ASSERT_TRUE(mkdtemp(base));
        root = base;
        dir = platform::VirtualBoxDirectory(root.c_str(), 0);
        ASSERT_TRUE(platform::EnsureVirtualBoxDirectory(dir));
    }
    void TearDown() override
    {
        for (int fd : fds)
            close(fd);
        std::filesystem::remove_all(root);
    }

    // A listening SOCK_SEQPACKET socket at dir/name.
    int Listen(const std::string& name, bool listening = true)
    {
        const std::string path = dir + "/" + name;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        if (listening) {
            EXPECT_EQ(listen(fd, 4), 0);
        }
        fds.push_back(fd);
        return fd;
    }

    std::string root, dir;
    std::vector<int> fds;
};

using VirtualBoxSockets = RuntimeDir;

TEST_F(VirtualBoxSockets, ListedByNameWithVirtualIdentifier)
{
    Listen("box-b.sock");
    Listen("box-a.sock");
    Listen("box-0.sock", false); // left by a killed box: nobody answers
    Listen("other.sock");
    std::ofstream(dir + "/box-file.sock") << "not a socket";

    LinuxHidPlatform platform(dir);
    platform.UseHidapi = false;
    const auto list = platform.ListInterfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].InstanceId, "VIRTUAL\\VID_2B5E&PID_61D3\\box-a.sock");
    EXPECT_EQ(list[0].Path, dir + "/box-a.sock");
    EXPECT_EQ(list[1].InstanceId, "VIRTUAL\\VID_2B5E&PID_61D3\\box-b.sock");
}

TEST_F(VirtualBoxSockets, ExchangeTimeoutAndHangUp)
{
    const int listener = Listen("box-1.sock");
    LinuxHidPlatform platform(dir);
    platform.UseHidapi = false;
    const PlatformHandle h = platform.Open(dir + "/box-1.sock");
    ASSERT_NE(h, InvalidHandle);
    const int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    Report out{};
    out[1] = 0xAA;
    out[64] = 0x77;
    ASSERT_TRUE(platform.Write(h, out));
    std::uint8_t got[100];
    ASSERT_EQ(recv(peer, got, sizeof got, 0), 65); // one datagram, the whole report
    EXPECT_EQ(got[64], 0x77);

    // A short reply is a short read, counted as it came.
    const std::uint8_t reply[10] = {0, 0xAA, 1, 2};
    ASSERT_EQ(send(peer, reply, sizeof reply, 0), 10);
    Report in;
    std::fill(in, in + ReportSize, std::uint8_t(0x55));
    std::size_t n = 0;
    ASSERT_TRUE(platform.Read(h, in, n, 500));
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(in[1], 0xAA);
    EXPECT_EQ(in[10], 0); // nothing left from before

    // Nothing within the wait: a timeout, never a hang.
    EXPECT_FALSE(platform.Read(h, in, n, 50));
    EXPECT_EQ(platform.LastError(), PlatformError::Timeout);

    // The box went away.
    close(peer);
    EXPECT_FALSE(platform.Read(h, in, n, 500));
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);
    EXPECT_FALSE(platform.Write(h, out));
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);

    platform.Close(h);
    EXPECT_FALSE(platform.Write(h, out));
    EXPECT_EQ(platform.LastError(), PlatformError::InvalidHandle);
}

TEST_F(VirtualBoxSockets, OpenFailuresCarryTheirCodes)
{
    Listen("box-stale.sock", false); // bound, nobody listening: left by a killed box
    LinuxHidPlatform platform(dir);
    platform.UseHidapi = false;
    EXPECT_EQ(platform.Open(dir + "/box-stale.sock"), InvalidHandle);
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);
    EXPECT_EQ(platform.Open(dir + "/box-gone.sock"), InvalidHandle);
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);
}

TEST_F(VirtualBoxSockets, NodeWithoutPermissionIsAccessDenied)
{
    const std::string node = root + "/hidraw-locked";
    std::ofstream(node) << "";
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    ASSERT_EQ(chmod(node.c_str(), 0600), 0);
    // Root opens any node, so the open runs as an unprivileged user.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        LinuxHidPlatform platform(root + "/unused");
        const bool refused = platform.Open(node) == InvalidHandle;
        _exit(!refused ? 1 : platform.LastError() == PlatformError::AccessDenied ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs `work` on its own thread; false when it has not ended within
// `seconds` (the thread is then left behind, blocked).
bool EndsWithin(double seconds, std::function<void()> work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([done, work = std::move(work)] {
        work();
        done->set_value();
    }).detach();
    return ended.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
}

// A box that is paused or stuck stops taking connections once its listen
// queue is full; neither the listing nor an open may wait for it.
TEST_F(VirtualBoxSockets, BoxWithFullListenQueueIsNotWaitedFor)
{
    const int listener = Listen("box-1.sock", false);
    ASSERT_EQ(listen(listener, 0), 0);
    const std::string path = dir + "/box-1.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    for (int i = 0; i < 16; ++i) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
        fds.push_back(fd);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            break;
    }

    auto listed = std::make_shared<std::size_t>(99);
    auto opened = std::make_shared<PlatformHandle>(0);
    auto error = std::make_shared<std::uint32_t>(0);
    const std::string d = dir;
    ASSERT_TRUE(EndsWithin(5, [=] {
        LinuxHidPlatform platform(d);
        platform.UseHidapi = false;
        *listed = platform.ListInterfaces().size();
        *opened = platform.Open(path);
        *error = platform.LastError();
    }));
    EXPECT_EQ(*listed, 0u);
    EXPECT_EQ(*opened, InvalidHandle);
    EXPECT_EQ(*error, PlatformError::Timeout);
}

// A box that takes requests but never reads them fills the socket; a write
// then fails after the wait instead of blocking.
TEST_F(VirtualBoxSockets, WriteToABoxThatNeverReadsGivesUp)
{
    const int listener = Listen("box-1.sock");
    LinuxHidPlatform platform(dir);
    platform.UseHidapi = false;
    const PlatformHandle h = platform.Open(dir + "/box-1.sock");
    ASSERT_NE(h, InvalidHandle);
    const int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    fds.push_back(peer);
    Report out{};
    auto failures = std::make_shared<int>(0);
    ASSERT_TRUE(EndsWithin(10, [&platform, h, out, failures] {
        for (int i = 0; i < 100000 && !*failures; ++i)
            if (!platform.Write(h, out))
                ++*failures;
    }));
    EXPECT_EQ(*failures, 1);
    EXPECT_EQ(platform.LastError(), PlatformError::Timeout);
}

// The transport finds a virtual box through the platform like a real one.
TEST_F(VirtualBoxSockets, TransportOpensTheFirstBox)
{
    Listen("box-0.sock", false); // stale, sorts first, must not shadow the live box
    const int listener = Listen("box-1.sock");
    LinuxHidPlatform platform(dir);
    platform.UseHidapi = false;
    HidPro hid;
    hid.SetPlatform(&platform);
    hid.OpenDevice();
    ASSERT_TRUE(hid.Opened);

    std::thread box([&] {
        // The listing's probe connects and leaves at once; the transport's
        // connection is the one that sends.
        for (int tries = 0; tries < 4; ++tries) {
            const int peer = accept(listener, nullptr, nullptr);
            std::uint8_t request[65];
            const bool sent = recv(peer, request, sizeof request, 0) == 65;
            if (sent) {
                request[0] = 0;
                send(peer, request, sizeof request, 0); // Link echoed
            }
            close(peer);
            if (sent)
                break;
        }
    });
    const std::uint8_t link[] = {0x2A, 0x01};
    ASSERT_TRUE(hid.WriteReport(link, 2));
    EXPECT_EQ(hid.ReadReport(6), ReadResult::Ok);
    box.join();
    hid.CloseDevice();
}

using Watcher = RuntimeDir;

std::vector<DeviceEvent> WaitForEvents(DeviceWatcher& watcher, std::vector<DeviceEvent>& events, std::size_t count)
{
    for (int i = 0; i < 50 && events.size() < count; ++i) {
        pollfd pfd{watcher.Fd(), POLLIN, 0};
        if (poll(&pfd, 1, 100) > 0)
            watcher.ProcessPendingEvents();
    }
    return events;
}

TEST_F(Watcher, SocketsAppearingAndLeavingAreArrivalsAndRemovals)
{
    DeviceWatcher watcher(dir);
    watcher.UseUdev = false;
    std::vector<DeviceEvent> events;
    ASSERT_TRUE(watcher.Register([&](const DeviceEvent& e) { events.push_back(e); }));
    ASSERT_GE(watcher.Fd(), 0);
    EXPECT_EQ(watcher.ProcessPendingEvents(), 0);

    Listen("box-a.sock");
    Listen("unrelated.sock");
    std::ofstream(dir + "/notes.txt") << "x";
    WaitForEvents(watcher, events, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Kind, DeviceEventKind::Arrival);
    EXPECT_EQ(events[0].Path, "VIRTUAL\\VID_2B5E&PID_61D3\\box-a.sock");
    EXPECT_NE(events[0].Path.find(BoxIdentifier), std::string::npos);
    EXPECT_EQ(events[0].DevicePath, dir + "/box-a.sock");

    // A box renames its socket into place once it listens.
    Listen(".box-b.sock.tmp");
    ASSERT_EQ(rename((dir + "/.box-b.sock.tmp").c_str(), (dir + "/box-b.sock").c_str()), 0);
    ASSERT_EQ(unlink((dir + "/box-a.sock").c_str()), 0);
    WaitForEvents(watcher, events, 3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].Kind, DeviceEventKind::Arrival);
    EXPECT_EQ(events[1].DevicePath, dir + "/box-b.sock");
    EXPECT_EQ(events[2].Kind, DeviceEventKind::Removal);
    EXPECT_EQ(events[2].Path, "VIRTUAL\\VID_2B5E&PID_61D3\\box-a.sock");

    watcher.Unregister();
    EXPECT_EQ(watcher.Fd(), -1);
    unlink((dir + "/box-b.sock").c_str());
    EXPECT_EQ(watcher.ProcessPendingEvents(), 0);
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(Watcher, RegistersWithUdevWhereAvailable)
{
    DeviceWatcher watcher(dir);
    int delivered = 0;
    ASSERT_TRUE(watcher.Register([&](const DeviceEvent&) { ++delivered; }));
    EXPECT_GE(watcher.Fd(), 0);
    EXPECT_EQ(watcher.ProcessPendingEvents(), 0);
    watcher.Unregister();
    EXPECT_FALSE(watcher.Registered());
}

} // namespace
} // namespace ktv
