#pragma once
// A private venue for one test: a folder made by 'ktvtune-cli venue init',
// its own Mosquitto on 127.0.0.1 at a free port, and the processes the test
// starts (agents, virtual boxes), all stopped at the end. Every wait is
// bounded: a process that outlives its limit is killed and the test fails.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ktv::venuetest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A port nobody listens on now.
inline int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

inline bool Listening(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// The exit status; -1 when it outlived `limit` (it is killed), -2 when a signal ended it.
inline int WaitFor(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto start = Clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

struct Outcome {
    int Status = -1;
    std::string Out, Err;
    Clock::duration Took{};
};

class Venue : public ::testing::Test {
protected:
    std::string root;
    std::string dir; // the venue folder
    int port = 0;
    pid_t broker = -1;
    std::vector<pid_t> started;
    int runs = 0;

    void SetUp() override
    {
        char name[] = "/tmp/ktv-venue-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        dir = root + "/venue";
        // The agents' journals and the boxes' sockets stay in the test's folder.
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        fs::create_directories(root + "/run");
        chmod((root + "/run").c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    }

    void TearDown() override
    {
        for (const pid_t pid : started)
            kill(pid, SIGKILL);
        for (const pid_t pid : started)
            waitpid(pid, nullptr, 0);
        StopBroker();
        if (!HasFailure()) {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    }

    std::string File(const std::string& name) const { return root + "/" + name; }

    Outcome Program(std::vector<std::string> argv, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        const std::string out = File("run" + std::to_string(++runs) + ".out");
        const std::string err = File("run" + std::to_string(runs) + ".err");
        Outcome r;
        const auto start = Clock::now();
        r.Status = WaitFor(Spawn(argv, out, err), limit);
        r.Took = Clock::now() - start;
        r.Out = ReadText(out);
        r.Err = ReadText(err);
        return r;
    }

    Outcome Cli(std::vector<std::string> args, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        args.insert(args.begin(), KTV_CLI_EXE);
        return Program(args, limit);
    }

    // venue init on 127.0.0.1 at a free port; the test's broker runs as root
    // and keeps root as its user (it could not read the test's folder as the
    // mosquitto user).
    void InitVenue(std::vector<std::string> extra = {})
    {
        port = FreePort();
        std::vector<std::string> args = {"venue", "init", dir, "--host", "127.0.0.1", "--host", "localhost",
                                         "--port", std::to_string(port), "--bind", "127.0.0.1"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome r = Cli(args);
        ASSERT_EQ(r.Status, 0) << r.Err;
        const std::string conf = ReadText(dir + "/broker/mosquitto.conf");
        WriteText(dir + "/broker/test.conf", (geteuid() == 0 ? "user root\n" : "") + conf);
    }

    void StartBroker()
    {
        broker = Spawn({"mosquitto", "-c", dir + "/broker/test.conf"}, File("broker.out"), File("broker.log"));
        for (int i = 0; i < 500; ++i) {
            if (Listening(port))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "the broker did not start: " << ReadText(File("broker.log"));
    }

    void StopBroker(int sig = SIGTERM)
    {
        if (broker <= 0)
            return;
        kill(broker, sig);
        EXPECT_NE(WaitFor(broker, std::chrono::seconds(10)), -1);
        broker = -1;
    }

    std::string AddUser(const std::string& name, const std::string& role, const std::string& room = {})
    {
        std::vector<std::string> args = {"venue", "add-user", dir, name, "--role", role};
        if (!room.empty())
            args.insert(args.end(), {"--room", room});
        const Outcome r = Cli(args);
        EXPECT_EQ(r.Status, 0) << r.Err;
        return dir + "/users/" + name + ".venue";
    }

    static nlohmann::json Access(const std::string& venueFile)
    {
        return nlohmann::json::parse(ReadText(venueFile));
    }

    // The venue file's CA as a file, for mosquitto_pub and mosquitto_sub.
    std::string CaFile()
    {
        return dir + "/ca/ca.pem";
    }

    // mosquitto_pub with the given connection options; its exit status.
    Outcome Pub(std::vector<std::string> options, const std::string& topic, const std::string& message)
    {
        std::vector<std::string> args = {"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V",
                                         "mqttv5", "-t", topic, "-m", message};
        args.insert(args.end(), options.begin(), options.end());
        return Program(args, std::chrono::seconds(10));
    }

    // The socket folder of the test's virtual boxes.
    std::string BoxDir() const { return root + "/run/ktvtune"; }
    std::string BoxPath(const std::string& name) const { return BoxDir() + "/box-" + name + ".sock"; }
    std::string BoxLog(const std::string& name) const { return root + "/box-" + name + ".log"; }

    pid_t StartBox(const std::string& name, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {KTV_BOX_EXE, "--name", name};
        args.insert(args.end(), extra.begin(), extra.end());
        std::error_code ec;
        fs::remove(BoxLog(name), ec);
        const pid_t pid = Spawn(args, BoxLog(name), File("box-" + name + ".err"));
        started.push_back(pid);
        for (int i = 0; i < 500; ++i) {
            if (ReadText(BoxLog(name)).find("listening on") != std::string::npos)
                return pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "box " << name << " did not start: " << ReadText(File("box-" + name + ".err"));
        return pid;
    }

    std::string AgentLog(const std::string& room) const { return root + "/agent-" + room + ".log"; }

    // An agent for `room` on box `box` (its own user, made here unless given);
    // returns once it is online.
    pid_t StartAgent(const std::string& room, const std::string& box, std::string venueFile = {})
    {
        if (venueFile.empty()) {
            venueFile = dir + "/users/agent-" + room + ".venue";
            if (!fs::exists(venueFile))
                AddUser("agent-" + room, "agent", room);
        }
        // A log left by an earlier agent of the room must not say "online" for this one.
        std::error_code ec;
        fs::remove(AgentLog(room), ec);
        const pid_t pid = Spawn({KTV_AGENT_EXE, "--venue", venueFile, "--room", room, "--device", BoxPath(box)},
                                File("agent-" + room + ".out"), AgentLog(room));
        started.push_back(pid);
        for (int i = 0; i < 1000; ++i) {
            if (ReadText(AgentLog(room)).find("room " + room + ": online") != std::string::npos)
                return pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "agent " << room << " did not come online: " << ReadText(AgentLog(room));
        return pid;
    }

    std::string Tech() const { return dir + "/users/technician.venue"; }

    // The CLI as a user of the venue on a room.
    Outcome On(const std::string& venueFile, const std::string& room, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--venue", venueFile, "--room", room});
        return Cli(args);
    }

    std::vector<std::string> Login(const std::string& venueFile)
    {
        const nlohmann::json a = Access(venueFile);
        return {"--cafile", CaFile(), "-u", a["user"], "-P", a["password"]};
    }
};

} // namespace ktv::venuetest
