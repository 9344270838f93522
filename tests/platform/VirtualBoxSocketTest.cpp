#include "box/BoxServer.h"
#include "core/TestSupport.h"
#include "device/HidPro.h"
#include "device/platform/DeviceWatcher.h"
#include "device/platform/LinuxHidPlatform.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/UnixSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
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
    void SetUp() override { ASSERT_TRUE(platform::EnsureVirtualBoxDirectory(dir)); }
    void TearDown() override
    {
        for (int fd : fds)
            close(fd);
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

    test::TempDir runtime;
    const std::string root = runtime.Path();
    const std::string dir = platform::VirtualBoxDirectory(root.c_str(), 0);
    std::vector<int> fds;
};

// The transport over a directory's virtual boxes, opened on the first.
struct Transport {
    explicit Transport(const std::string& dir)
        : Platform(dir)
    {
        Platform.UseHidapi = false;
        Hid.SetPlatform(&Platform);
        Hid.OpenDevice();
    }
    LinuxHidPlatform Platform;
    HidPro Hid;
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

    // The box went away, its socket with it.
    close(peer);
    EXPECT_FALSE(platform.Read(h, in, n, 500));
    EXPECT_EQ(platform.LastError(), PlatformError::NotConnected);
    close(listener);
    fds.erase(std::find(fds.begin(), fds.end(), listener));
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
    Transport transport(dir);
    HidPro& hid = transport.Hid;
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

// ---- the virtual box's socket server, run on a thread of the test ----

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A server on its own thread, with the lines it logs.
struct RunningBox {
    VirtualBox Box;
    tools::BoxServer Server;
    std::thread Thread;
    int Result = -2;
    std::mutex Mutex;
    std::vector<std::string> Lines;

    RunningBox(const std::string& dir, std::chrono::milliseconds idle = 0ms)
        : Server(Box, {dir, "1", idle})
    {
        Server.Log = [this](const std::string& line) {
            const std::lock_guard lock(Mutex);
            Lines.push_back(line);
        };
    }
    ~RunningBox() { Stop(); }

    void Start()
    {
        Thread = std::thread([this] {
            std::string error;
            Result = Server.Run(-1, error);
        });
    }
    void Stop()
    {
        if (!Thread.joinable())
            return;
        Server.Stop();
        Thread.join();
    }
    std::string Log()
    {
        const std::lock_guard lock(Mutex);
        std::string text;
        for (const std::string& l : Lines)
            text += l + "\n";
        return text;
    }
};

class BoxServerSockets : public RuntimeDir {
protected:
    std::string path;
    void SetUp() override
    {
        RuntimeDir::SetUp();
        path = dir + "/box-1.sock";
    }
};

TEST_F(BoxServerSockets, AnswersThroughTheSocketLogsEachExchangeAndRemovesItsSocket)
{
    RunningBox running(dir);
    std::string error;
    ASSERT_TRUE(running.Server.Listen(error)) << error;
    EXPECT_EQ(running.Server.Path(), path);
    running.Start();

    Transport transport(dir);
    HidPro& hid = transport.Hid;
    ASSERT_TRUE(hid.Opened);
    const std::uint8_t link[] = {0x2A, 0x01};
    ASSERT_TRUE(hid.WriteReport(link, sizeof link));
    ASSERT_EQ(hid.ReadReport(6), ReadResult::Ok);
    EXPECT_EQ(Bytes(hid.InReport + 1, hid.InReport + 7), (Bytes{0xAA, 0x01, 0x02, 0x2A, 0x01, 0x2B}));
    // A band run past band 38 is refused: no reply, and the log says why.
    const std::uint8_t badRun[] = {0xA0, 38, 2};
    ASSERT_TRUE(hid.WriteReport(badRun, sizeof badRun));
    EXPECT_EQ(hid.ReadReport(ReplyBytes(3 + 2 * 9)), ReadResult::ReadError);
    hid.CloseDevice();

    running.Stop();
    EXPECT_EQ(running.Result, 0);
    EXPECT_TRUE(running.Box.Linked);
    EXPECT_TRUE(running.Box.Log.empty()); // written to the log, not kept
    const std::string log = running.Log();
    EXPECT_NE(log.find(" #1 Link on=1 | ok      > AA 01 02 2A 01 2B  < AA 01 02 2A 01 2B\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" #2 ReadPeqBands first=38 count=2 | refused > AA 01 03 A0 26 02 C8  < (no reply)"
                       "  [ReadPeqBands: bad band run]\n"),
              std::string::npos)
        << log;

    running.Server.Close();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(BoxServerSockets, ListenTakesOverOnlyAStaleSocket)
{
    enum class There { Nothing, DeadSocket, LiveSocket, File };
    struct Case {
        const char* what;
        There there;
        bool listens;
        const char* says; // in the error, or in the log when it listens
    };
    const Case cases[] = {
        {"nothing there", There::Nothing, true, ""},
        {"a killed box's socket", There::DeadSocket, true, "replacing stale socket"},
        {"a live box", There::LiveSocket, false, "another box is already listening on"},
        {"a file", There::File, false, "exists and is not a socket"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // With nothing there, not even the directory: Listen makes it.
        std::filesystem::remove_all(dir);
        if (c.there != There::Nothing) {
            ASSERT_TRUE(platform::EnsureVirtualBoxDirectory(dir));
        }
        if (c.there == There::DeadSocket || c.there == There::LiveSocket)
            Listen("box-1.sock", c.there == There::LiveSocket);
        if (c.there == There::File)
            std::ofstream(path) << "x";
        RunningBox running(dir);
        std::string error;
        EXPECT_EQ(running.Server.Listen(error), c.listens);
        EXPECT_NE((c.listens ? running.Log() : error).find(c.says), std::string::npos) << error << running.Log();
        if (c.listens) {
            EXPECT_TRUE(platform::SomeoneListens(path));
        }
        running.Server.Close();
    }
}

TEST_F(BoxServerSockets, ASocketPutInItsPlaceOutlivesTheServer)
{
    RunningBox running(dir);
    std::string error;
    ASSERT_TRUE(running.Server.Listen(error)) << error;
    // A box started later under the same name renames its socket over ours.
    Listen(".later");
    ASSERT_EQ(rename((dir + "/.later").c_str(), path.c_str()), 0);
    running.Server.Close();
    EXPECT_TRUE(platform::SomeoneListens(path));
}

// A box that closes idle connections (as older boxes did, and --idle still
// does) must not cost a linked program its box: the next exchange connects
// again, once, without a word.
TEST_F(BoxServerSockets, ALinkOutlivesAnIdleLimit)
{
    RunningBox running(dir, 200ms);
    std::string error;
    ASSERT_TRUE(running.Server.Listen(error)) << error;
    running.Start();
    Transport transport(dir);
    HidPro& hid = transport.Hid;
    ASSERT_TRUE(hid.Opened);
    const std::uint8_t link[] = {0x2A, 0x01};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(hid.WriteReport(link, sizeof link));
        ASSERT_EQ(hid.ReadReport(6), ReadResult::Ok);
        EXPECT_EQ(Bytes(hid.InReport + 1, hid.InReport + 7), (Bytes{0xAA, 0x01, 0x02, 0x2A, 0x01, 0x2B}));
        std::this_thread::sleep_for(500ms); // longer than the box's limit
        if (round == 1) {
            // Watched between exchanges: the hang-up is no removal while
            // the box still listens; the new connection is the one to watch.
            const LinkWatch before = transport.Platform.WatchLink(hid.Handle);
            EXPECT_FALSE(transport.Platform.HungUp(hid.Handle));
            EXPECT_NE(transport.Platform.WatchLink(hid.Handle), before);
        }
    }
    hid.CloseDevice();

    // A box that is gone for good is still a failure, and a hang-up.
    Transport again(dir);
    ASSERT_TRUE(again.Hid.Opened);
    running.Stop();
    running.Server.Close();
    pollfd watched{again.Platform.WatchLink(again.Hid.Handle), POLLIN, 0};
    EXPECT_EQ(poll(&watched, 1, 2000), 1);
    EXPECT_TRUE(again.Platform.HungUp(again.Hid.Handle));
    EXPECT_FALSE(again.Hid.WriteReport(link, sizeof link) && again.Hid.ReadReport(6) == ReadResult::Ok);
}

TEST_F(BoxServerSockets, ClosesIdleConnectionsAndClientsThatNeverRead)
{
    RunningBox running(dir, 300ms);
    std::string error;
    ASSERT_TRUE(running.Server.Listen(error)) << error;
    running.Start();

    const Bytes link = {0, 0xAA, 0x01, 0x02, 0x2A, 0x01, 0x2B};
    Bytes report(65, 0);
    std::copy(link.begin(), link.end(), report.begin());
    auto closedWithin = [](int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        std::uint8_t buffer[100];
        while (poll(&p, 1, ms) > 0) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            // A box that closes with our requests unread resets the connection.
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                return true;
            if (n < 0)
                return false;
        }
        return false;
    };

    const int idle = platform::ConnectWithin(path, 500);
    const int stuck = platform::ConnectWithin(path, 500);
    ASSERT_GE(idle, 0);
    ASSERT_GE(stuck, 0);
    // Sends as fast as the socket takes requests and never reads: dropped
    // once its unread replies pile up.
    for (int i = 0; i < 5000; ++i) {
        if (send(stuck, report.data(), report.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == 65)
            continue;
        pollfd writable{stuck, POLLOUT, 0};
        if (errno != EAGAIN || poll(&writable, 1, 100) <= 0 || (writable.revents & (POLLERR | POLLHUP)))
            break; // dropped, or the box takes no more from us
    }
    EXPECT_TRUE(closedWithin(stuck, 2000));
    EXPECT_TRUE(closedWithin(idle, 2000));
    EXPECT_NE(running.Log().find("closing a client that does not read its replies"), std::string::npos);

    // The box still serves a newcomer.
    const int fresh = platform::ConnectWithin(path, 500);
    ASSERT_GE(fresh, 0);
    ASSERT_EQ(send(fresh, report.data(), report.size(), MSG_NOSIGNAL), 65);
    pollfd p{fresh, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    std::uint8_t reply[100];
    EXPECT_EQ(recv(fresh, reply, sizeof reply, 0), 65);
    for (int fd : {idle, stuck, fresh})
        close(fd);
}

} // namespace
} // namespace ktv
