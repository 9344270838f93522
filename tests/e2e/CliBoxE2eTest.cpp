#include "CliTestSupport.h"
#include "core/TestSupport.h"
#include "device/platform/PlatformHelpers.h"
#include "dsp/StepTables.h"
#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ktv {
namespace {

namespace fs = std::filesystem;

// Anything slower than this is a hang, not a slow run.
constexpr auto HangLimit = std::chrono::seconds(10);

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Waits for pid; kills it and reports -1 if it outlives the hang limit.
int WaitFor(pid_t pid)
{
    const auto start = Clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > HangLimit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

class CliAndBox : public ::testing::Test {
protected:
    // The boxes' saved states go to the test's own folder, not the user's.
    void SetUp() override { setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1); }
    void TearDown() override
    {
        if (boxPid > 0)
            StopBox();
        for (const pid_t pid : otherBoxes) {
            kill(pid, SIGTERM);
            EXPECT_EQ(WaitFor(pid), 0);
        }
    }

    void StartBox(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), KTV_BOX_EXE);
        boxPid = Spawn(args, root + "/box.log", root + "/box.err");
        for (int i = 0; i < 400; ++i) {
            struct stat st{};
            if (lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
                ReadText(root + "/box.log").find("listening on") != std::string::npos)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        FAIL() << "box did not start: " << ReadText(root + "/box.err");
    }

    // One more box, box-NAME.sock, logging to box-NAME.log; stopped at the end.
    void StartOtherBox(const std::string& name, std::vector<std::string> args = {})
    {
        args.insert(args.begin(), {KTV_BOX_EXE, "--name", name});
        otherBoxes.push_back(Spawn(args, File("box-" + name + ".log"), File("box-" + name + ".err")));
        for (int i = 0; i < 400; ++i) {
            if (ReadText(File("box-" + name + ".log")).find("listening on") != std::string::npos)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        FAIL() << "box " << name << " did not start: " << ReadText(File("box-" + name + ".err"));
    }
    std::vector<Bytes> RequestsOf(const std::string& name) { return LoggedRequests(ReadText(File("box-" + name + ".log"))); }

    // SIGTERM; the box must end cleanly and take its socket with it.
    void StopBox(int sig = SIGTERM)
    {
        kill(boxPid, sig);
        EXPECT_EQ(WaitFor(boxPid), 0);
        boxPid = -1;
        EXPECT_FALSE(fs::exists(fs::symlink_status(socketPath)));
    }

    CliRun Cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), KTV_CLI_EXE);
        const auto start = Clock::now();
        CliRun run;
        run.Status = WaitFor(Spawn(args, root + "/cli.out", root + "/cli.err"));
        run.Took = Clock::now() - start;
        run.Out = ReadText(root + "/cli.out");
        run.Err = ReadText(root + "/cli.err");
        return run;
    }

    std::string BoxLog() { return ReadText(root + "/box.log"); }
    std::vector<Bytes> Requests() { return LoggedRequests(BoxLog()); }
    std::string File(const std::string& name) { return runtime.File(name); }

    // The programs' runtime folder: the boxes' sockets, their logs, the files.
    test::TempDir runtime{test::TempDir::Runtime};
    const std::string root = runtime.Path();
    const std::string dir = platform::VirtualBoxDirectory(root.c_str(), 0);
    const std::string socketPath = dir + "/box-1.sock";
    pid_t boxPid = -1;
    std::vector<pid_t> otherBoxes;
};
TEST_F(CliAndBox, WriteSendsTheNineRequestsBetweenLinkOnAndOff)
{
    StartBox();
    const std::string preset = WritePreset(File("a.dap"), 0);
    const CliRun run = Cli({"write", preset});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Err.find("Connect:ok!"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Write dsp ok!"), std::string::npos) << run.Err;

    // The box is read first (nine requests), then written.
    const std::vector<Bytes> requests = Requests();
    const std::vector<Bytes> expected = ExpectedWriteAll(preset);
    ASSERT_EQ(requests.size(), 20u) << BoxLog();
    EXPECT_EQ(PayloadOf(requests.front()), (Bytes{0x2A, 1}));
    EXPECT_EQ(PayloadOf(requests[1]), (Bytes{0x81}));
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(PayloadOf(requests[10 + i]), expected[i]) << "request " << i + 1;
    EXPECT_EQ(PayloadOf(requests.back()), (Bytes{0x2A, 0}));
    // Every frame as the transport builds it: marker, address 1, length, sum.
    for (const Bytes& frame : requests) {
        EXPECT_EQ(frame[0], 0xAA);
        EXPECT_EQ(frame[1], 1);
        const Bytes payload = PayloadOf(frame);
        std::uint8_t sum = 0;
        for (std::uint8_t b : payload)
            sum = std::uint8_t(sum + b);
        EXPECT_EQ(frame.at(3 + payload.size()), sum);
    }
    // The log is readable too: command names and decoded fields.
    EXPECT_NE(BoxLog().find("PeqBands first=36 count=3"), std::string::npos);
    EXPECT_NE(BoxLog().find("Link on=1"), std::string::npos);
}



TEST_F(CliAndBox, StoreAndRecallRoundTripASlotAcrossRestarts)
{
    StartBox({"--state", File("state.bin")});
    ASSERT_EQ(Cli({"write", WritePreset(File("a.dap"), 1)}).Status, 0);
    std::size_t before = Requests().size();
    const CliRun store = Cli({"store", "3"});
    EXPECT_EQ(store.Status, 0) << store.Err;
    EXPECT_NE(store.Err.find("Set factory mode ok!"), std::string::npos);
    // The box already holds what was written: only the slot command, between Link on and off.
    std::vector<Bytes> sent = Requests();
    ASSERT_EQ(sent.size(), before + 3) << BoxLog();
    EXPECT_EQ(PayloadOf(sent[before]), (Bytes{0x2A, 1}));
    EXPECT_EQ(PayloadOf(sent[before + 1]), (Bytes{0x28, 1, 3}));
    EXPECT_EQ(PayloadOf(sent[before + 2]), (Bytes{0x2A, 0}));
    ASSERT_EQ(Cli({"read", "-o", File("stored.dap")}).Status, 0);

    ASSERT_EQ(Cli({"write", WritePreset(File("b.dap"), 2)}).Status, 0);
    ASSERT_EQ(Cli({"read", "-o", File("other.dap")}).Status, 0);
    EXPECT_NE(ReadBytes(File("other.dap")), ReadBytes(File("stored.dap")));

    before = Requests().size();
    const CliRun recall = Cli({"recall", "3", "-o", File("recalled.dap")});
    EXPECT_EQ(recall.Status, 0) << recall.Err;
    // The state kept first (nine reads), the recall, then the nine reads of
    // the whole state, between Link on and off.
    sent = Requests();
    ASSERT_EQ(sent.size(), before + 21) << BoxLog();
    EXPECT_EQ(PayloadOf(sent[before]), (Bytes{0x2A, 1}));
    EXPECT_EQ(PayloadOf(sent[before + 1]), (Bytes{0x81}));
    EXPECT_EQ(PayloadOf(sent[before + 10]), (Bytes{0x28, 2, 3}));
    EXPECT_EQ(PayloadOf(sent[before + 11]), (Bytes{0x81}));
    EXPECT_EQ(PayloadOf(sent[before + 19]), (Bytes{0xA0, 36, 3}));
    EXPECT_EQ(PayloadOf(sent[before + 20]), (Bytes{0x2A, 0}));
    EXPECT_NE(recall.Err.find("Reset factory mode Ok!"), std::string::npos);
    EXPECT_EQ(ReadBytes(File("recalled.dap")), ReadBytes(File("stored.dap")));

    bool stored = false, recalled = false;
    for (const Bytes& r : Requests()) {
        stored = stored || PayloadOf(r) == Bytes{0x28, 1, 3};
        recalled = recalled || PayloadOf(r) == Bytes{0x28, 2, 3};
    }
    EXPECT_TRUE(stored && recalled) << BoxLog();

    // Each whole change kept the state before it; restore brings back the
    // state before the last write.
    ASSERT_EQ(Cli({"write", WritePreset(File("c.dap"), 4)}).Status, 0);
    const CliRun history = Cli({"history"});
    EXPECT_EQ(history.Status, 0) << history.Err;
    std::vector<std::string> after;
    std::istringstream lines(history.Out);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t', line.find('\t') + 1);
        after.push_back(line.substr(0, line.find('\t')) + " " + line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1));
    }
    EXPECT_EQ(after, (std::vector<std::string>{"1 write", "2 recall 3", "3 write", "4 write"})) << history.Out;
    const CliRun restore = Cli({"restore", "1"});
    EXPECT_EQ(restore.Status, 0) << restore.Err;
    ASSERT_EQ(Cli({"read", "-o", File("restored.dap")}).Status, 0);
    EXPECT_EQ(ReadBytes(File("restored.dap")), ReadBytes(File("stored.dap")));
    EXPECT_EQ(Cli({"history"}).Out.substr(0, 2), "1\t");
    EXPECT_NE(Cli({"history"}).Out.find("\trestore\t"), std::string::npos);
    EXPECT_EQ(Cli({"restore", "99"}).Status, 2);
    EXPECT_EQ(Cli({"restore", "x"}).Status, 2);

    // The box keeps its settings and slots across a restart, as across a power cycle.
    StopBox();
    StartBox({"--state", File("state.bin")});
    ASSERT_EQ(Cli({"read", "-o", File("after.dap")}).Status, 0);
    EXPECT_EQ(ReadBytes(File("after.dap")), ReadBytes(File("stored.dap")));
}



TEST_F(CliAndBox, NoBoxMeansExitOneWithTheWindowsTexts)
{
    const CliRun run = Cli({"write", WritePreset(File("a.dap"), 0)});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("no usb device 2"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Connect:no!"), std::string::npos) << run.Err;
    EXPECT_EQ(Cli({"list"}).Status, 1);

    // A running box in a directory open to others is not trusted, and list says why.
    StartBox();
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.Status, 1);
    EXPECT_NE(list.Err.find("virtual boxes ignored: " + dir + ": open to other users"), std::string::npos) << list.Err;
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
}

// A box started under a name is found by it, the options after the
// command's name; only that box receives the requests.
TEST_F(CliAndBox, DeviceTakesTheNameTheBoxWasStartedWith)
{
    StartBox();
    StartOtherBox("studio");
    const CliRun run = Cli({"store", "2", "--device", "studio", "-q"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "Set factory mode ok!\n");
    std::vector<Bytes> sent;
    for (const Bytes& frame : RequestsOf("studio"))
        sent.push_back(PayloadOf(frame));
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x2A, 1}, {0x28, 1, 2}, {0x2A, 0}}));
    EXPECT_TRUE(Requests().empty()) << BoxLog();
}

TEST_F(CliAndBox, ListAndDump)
{
    StartBox();
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "1\tVIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock\t" + socketPath + "\n");

    LoadDefaults();
    DspParams.MicVol = 42;
    DspParams.Band[9] = {std::uint8_t(FlagChannelEqOn | 4), 1234.0f, 2.0f, -3.5f, {}};
    ASSERT_TRUE(WriteDapFile(File("d.dap")));
    const CliRun dump = Cli({"dump", File("d.dap")});
    EXPECT_EQ(dump.Status, 0) << dump.Err;
    EXPECT_NE(dump.Out.find("\"MicVol\": 42,"), std::string::npos) << dump.Out;
    EXPECT_NE(dump.Out.find("{\"Band\": 9, \"Channel\": \"MUSIC\", \"Type\": \"HighShelf\", \"Fc\": 1234, \"Q\": 2, "
                            "\"Gain\": -3.5, \"On\": false, \"ChannelEqOn\": true, \"Flags\": 68}"),
              std::string::npos)
        << dump.Out;
    EXPECT_NE(dump.Out.find("\"Band\": 38, \"Channel\": \"EFFECT\""), std::string::npos);
    EXPECT_TRUE(Requests().empty()); // no box needed
}




TEST_F(CliAndBox, BoxReplacesAStaleSocketAndRefusesToDoubleALiveOne)
{
    ASSERT_TRUE(platform::EnsureVirtualBoxDirectory(dir));
    {
        // What a killed box leaves: a socket file nobody listens on.
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    // Another killed box's socket sorting first must not hide the live box.
    {
        const std::string stale = dir + "/box-0.sock";
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, stale.c_str(), sizeof addr.sun_path - 1);
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    StartBox();
    EXPECT_NE(BoxLog().find("replacing stale socket"), std::string::npos);
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "1\tVIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock\t" + socketPath + "\n");
    EXPECT_EQ(Cli({"store", "1"}).Status, 0);

    const pid_t second = Spawn({KTV_BOX_EXE}, File("second.log"), File("second.err"));
    EXPECT_EQ(WaitFor(second), 1);
    EXPECT_NE(ReadText(File("second.err")).find("already listening"), std::string::npos);
    EXPECT_EQ(Cli({"store", "1"}).Status, 0); // the first box is untouched

    StopBox(SIGINT);
    EXPECT_NE(BoxLog().find("stopped by SIGINT"), std::string::npos);

    WriteBytes(File("bad-state.bin"), Bytes(10, 1));
    const pid_t damaged = Spawn({KTV_BOX_EXE, "--state", File("bad-state.bin")}, File("d.log"), File("d.err"));
    EXPECT_EQ(WaitFor(damaged), 2);
    EXPECT_NE(ReadText(File("d.err")).find("not a box state file"), std::string::npos);
}

// A client of the box's socket that the test drives by hand.
int Connect(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Link on, as a 65-byte request.
Bytes LinkRequest()
{
    Bytes r(65, 0);
    r[1] = 0xAA;
    r[2] = 1;
    r[3] = 2;
    r[4] = 0x2A;
    r[5] = 1;
    r[6] = 0x2B;
    return r;
}

// The size of the reply that arrives within a second, -1 for none, 0 when
// the box closed the connection.
int ReplySize(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 1000) <= 0)
        return -1;
    std::uint8_t buffer[100];
    return int(recv(fd, buffer, sizeof buffer, MSG_DONTWAIT));
}

TEST_F(CliAndBox, FilesThatAreNoPresetsAreRefusedWithoutWaitingOrReadingThemWhole)
{
    StartBox();
    ASSERT_EQ(mkfifo(File("pipe.dap").c_str(), 0600), 0);
    fs::create_directories(File("folder.dap"));
    // A preset with a gigabyte of tail (sparse): only its head is read.
    const std::string big = WritePreset(File("big.dap"), 0);
    fs::resize_file(big, std::uintmax_t(1) << 30);

    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Expected;
    };
    const Case cases[] = {
        {{"dump", File("folder.dap")}, 2, "it is a directory"},
        {{"write", File("folder.dap")}, 2, "it is a directory"},
        {{"dump", File("pipe.dap")}, 2, "it is not a regular file"},
        {{"write", File("pipe.dap")}, 2, "it is not a regular file"},
        {{"dump", "/dev/zero"}, 2, "it is not a regular file"},
        {{"dump", "/proc/self/mem"}, 2, "cannot be read"},
        {{"dump", big}, 0, ""},
        {{"read", "-o", File("pipe.dap")}, 2, "cannot write " + File("pipe.dap") + ": it is not a regular file"},
        {{"read", "-o", File("folder.dap")}, 2, "it is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args.back());
        const CliRun run = Cli(c.Args);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_NE(run.Err.find(c.Expected), std::string::npos) << run.Err;
    }
    EXPECT_EQ(fs::symlink_status(File("pipe.dap")).type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_directory(File("folder.dap")));

    // The box refuses a state "file" that is a directory instead of aborting.
    const pid_t box = Spawn({KTV_BOX_EXE, "--name", "2", "--state", File("folder.dap")}, File("s.log"), File("s.err"));
    EXPECT_EQ(WaitFor(box), 2);
    EXPECT_NE(ReadText(File("s.err")).find("it is a directory"), std::string::npos) << ReadText(File("s.err"));
}


// One client that misbehaves or a crowd of idle ones must not keep the box
// from serving the next client.
TEST_F(CliAndBox, BoxServesOthersDespiteAClientThatNeverReadsOrManyIdleOnes)
{
    StartBox({"--idle", "2"});
    std::vector<int> clients;
    auto cleanup = [&] {
        for (int fd : clients)
            close(fd);
        clients.clear();
    };

    // Requests sent as fast as the socket takes them, replies never read.
    const int greedy = Connect(socketPath);
    ASSERT_GE(greedy, 0);
    clients.push_back(greedy);
    const Bytes link = LinkRequest();
    for (int i = 0; i < 2000; ++i)
        if (send(greedy, link.data(), link.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
            break;
    EXPECT_EQ(Cli({"store", "1"}).Status, 0);

    // An empty datagram closes that connection only; a datagram longer than
    // a report is refused, not cut to one.
    const int empty = Connect(socketPath), longer = Connect(socketPath);
    clients.push_back(empty);
    clients.push_back(longer);
    ASSERT_EQ(send(empty, "", 0, 0), 0);
    EXPECT_EQ(ReplySize(empty), 0);
    Bytes tooLong = link;
    tooLong.push_back(0);
    ASSERT_EQ(send(longer, tooLong.data(), tooLong.size(), 0), 66);
    EXPECT_EQ(ReplySize(longer), -1);
    EXPECT_NE(BoxLog().find("long request"), std::string::npos);
    ASSERT_EQ(send(longer, link.data(), link.size(), 0), 65);
    EXPECT_EQ(ReplySize(longer), 65);

    // A connection quiet for longer than --idle is closed by the box.
    EXPECT_EQ(ReplySize(longer), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(ReplySize(longer), 0);
    cleanup();

    // More idle connections than the box has descriptors.
    rlimit limit{200, 200};
    ASSERT_EQ(prlimit(boxPid, RLIMIT_NOFILE, &limit, nullptr), 0);
    for (int i = 0; i < 260; ++i) {
        const int fd = Connect(socketPath);
        if (fd >= 0)
            clients.push_back(fd);
    }
    EXPECT_EQ(Cli({"store", "1"}).Status, 0);
    cleanup();
}







} // namespace
} // namespace ktv
