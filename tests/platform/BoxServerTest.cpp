// The virtual box's socket server run on a thread of the test, reached
// through the socket platform the programs use.

#include "box/BoxServer.h"
#include "device/HidPro.h"
#include "device/platform/LinuxHidPlatform.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/UnixSocket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ktv {
namespace {

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

    RunningBox(const std::string& dir, std::chrono::milliseconds idle = 60s)
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

class BoxServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char base[] = "/tmp/ktv-server-XXXXXX";
        ASSERT_TRUE(mkdtemp(base));
        root = base;
        dir = root + "/ktvtune";
        path = dir + "/box-1.sock";
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    // A socket bound at `at`, listening or left as a killed box leaves it.
    int Bind(const std::string& at, bool listening)
    {
        sockaddr_un addr{};
        EXPECT_TRUE(platform::FillAddress(addr, at));
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        if (listening) {
            EXPECT_EQ(listen(fd, 4), 0);
        }
        return fd;
    }

    std::string root, dir, path;
};

TEST_F(BoxServerTest, AnswersThroughTheSocketLogsEachExchangeAndRemovesItsSocket)
{
    RunningBox running(dir);
    std::string error;
    ASSERT_TRUE(running.Server.Listen(error)) << error;
    EXPECT_EQ(running.Server.Path(), path);
    running.Start();

    LinuxHidPlatform platform(dir);
    platform.UseHidapi = false;
    HidPro hid;
    hid.SetPlatform(&platform);
    hid.OpenDevice();
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

TEST_F(BoxServerTest, ListenTakesOverOnlyAStaleSocket)
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
        std::filesystem::remove_all(dir);
        ASSERT_TRUE(platform::EnsureVirtualBoxDirectory(dir));
        std::vector<int> fds;
        if (c.there == There::DeadSocket || c.there == There::LiveSocket)
            fds.push_back(Bind(path, c.there == There::LiveSocket));
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
        for (int fd : fds)
            close(fd);
    }
}

TEST_F(BoxServerTest, ASocketPutInItsPlaceOutlivesTheServer)
{
    RunningBox running(dir);
    std::string error;
    ASSERT_TRUE(running.Server.Listen(error)) << error;
    // A box started later under the same name renames its socket over ours.
    const int later = Bind(dir + "/.later", true);
    ASSERT_EQ(rename((dir + "/.later").c_str(), path.c_str()), 0);
    running.Server.Close();
    EXPECT_TRUE(platform::SomeoneListens(path));
    close(later);
}

TEST_F(BoxServerTest, ClosesIdleConnectionsAndClientsThatNeverRead)
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
