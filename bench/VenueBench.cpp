// The venue at scale on one broker: 'venue list' of 200 rooms, and one
// preset written to 50 rooms at once, with the broker's and the agents' CPU
// time and memory at idle and under that load. A private venue in a
// temporary folder: its own Mosquitto on 127.0.0.1, 200 rooms' retained
// states published by 200 agent connections of this process, and 50 real
// ktvtune-agent processes on ktvtune-box boxes for the writes.

#include "params/Gloable.h"
#include "presets/DapFile.h"
#include "venue/Mqtt.h"
#include "venue/Roles.h"
#include "venue/RoomClient.h"
#include "venue/Setup.h"
#include "venue/Topics.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <sstream>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace ktv::venue;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int ListedRooms = 200;
constexpr int WrittenRooms = 50;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

pid_t Start(const std::vector<std::string>& argv, const std::string& log)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// CPU seconds used so far and resident memory in MiB, from /proc.
std::pair<double, double> Usage(pid_t pid)
{
    const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && in >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    const std::string status = ReadAll("/proc/" + std::to_string(pid) + "/status");
    const auto at = status.find("VmRSS:");
    const double rss = at == std::string::npos ? 0 : std::stod(status.substr(at + 6)) / 1024.0;
    return {ticks / double(sysconf(_SC_CLK_TCK)), rss};
}

struct Venue {
    std::string root, dir;
    int port = 0;
    pid_t broker = -1;
    std::vector<pid_t> agents, boxes;
    std::vector<std::unique_ptr<MqttClient>> fakes; // the listed rooms' agents
    std::string tech;

    Venue()
    {
        char temp[] = "/tmp/ktvtune-bench-XXXXXX";
        root = mkdtemp(temp);
        dir = root + "/venue";
        fs::create_directories(root + "/run");
        fs::permissions(root + "/run", fs::perms(0700));
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
        close(s);
        port = ntohs(a.sin_port);
        InitOptions o;
        o.Hosts = {"127.0.0.1"};
        o.Port = port;
        o.Bind = "127.0.0.1";
        std::string next, why, file;
        InitVenue(dir, o, next, why);
        tech = dir + "/users/technician.venue";
        for (int i = 1; i <= ListedRooms; ++i)
            AddUser(dir, {"agent-Room" + std::to_string(i), "agent", "Room" + std::to_string(i)}, file, why);
        std::ofstream(dir + "/broker/bench.conf") << (geteuid() == 0 ? "user root\n" : "")
                                                  << ReadAll(BrokerConfig(dir)) << "max_connections -1\n";
        broker = Start({"mosquitto", "-c", dir + "/broker/bench.conf"}, root + "/broker.log");
        std::this_thread::sleep_for(500ms);
        // The first rooms are real agents on boxes; the others only keep their state on the broker.
        for (int i = 1; i <= WrittenRooms; ++i) {
            const std::string room = "Room" + std::to_string(i);
            boxes.push_back(Start({KTV_BOX_EXE, "--name", room}, root + "/box-" + room + ".log"));
        }
        std::this_thread::sleep_for(500ms);
        for (int i = 1; i <= WrittenRooms; ++i) {
            const std::string room = "Room" + std::to_string(i);
            agents.push_back(Start({KTV_AGENT_EXE, "--venue", dir + "/users/agent-" + room + ".venue", "--room", room,
                                    "--device", root + "/run/ktvtune/box-" + room + ".sock"},
                                   root + "/agent-" + room + ".log"));
        }
        for (int i = WrittenRooms + 1; i <= ListedRooms; ++i) {
            const std::string room = "Room" + std::to_string(i);
            auto access = ReadVenueFile(dir + "/users/agent-" + room + ".venue");
            auto client = std::make_unique<MqttClient>(*access, "bench-" + room);
            client->Start();
            client->WaitConnected(RemoteTimeoutMs, nullptr);
            client->Publish(StateTopic(access->Site, room),
                            Json{{"room", room}, {"online", true}, {"since", "2026-12-11 00:00:00"}, {"box", "VIRTUAL\\VID_2B5E&PID_61D3\\" + room},
                                 {"boxPresent", true}}
                                .dump(),
                            true);
            fakes.push_back(std::move(client));
        }
        std::this_thread::sleep_for(3s); // every agent online
    }

    ~Venue()
    {
        fakes.clear();
        for (const pid_t pid : agents)
            kill(pid, SIGTERM);
        for (const pid_t pid : agents)
            waitpid(pid, nullptr, 0);
        for (const pid_t pid : boxes)
            kill(pid, SIGTERM);
        for (const pid_t pid : boxes)
            waitpid(pid, nullptr, 0);
        kill(broker, SIGTERM);
        waitpid(broker, nullptr, 0);
        fs::remove_all(root);
    }

    void Report(benchmark::State& state, const char* when, double seconds)
    {
        const auto [brokerCpu, brokerMem] = Usage(broker);
        double agentCpu = 0, agentMem = 0;
        for (const pid_t pid : agents) {
            const auto [cpu, mem] = Usage(pid);
            agentCpu += cpu;
            agentMem = std::max(agentMem, mem);
        }
        state.counters[std::string(when) + "_broker_cpu_s"] = brokerCpu;
        state.counters[std::string(when) + "_broker_MiB"] = brokerMem;
        state.counters[std::string(when) + "_agent_cpu_s_each"] = agentCpu / double(agents.size());
        state.counters[std::string(when) + "_agent_MiB_most"] = agentMem;
        state.counters[std::string(when) + "_wall_s"] = seconds;
    }
};

Venue& TheVenue()
{
    static Venue venue;
    return venue;
}

// venue list: connect, take in every room's retained state.
void BM_VenueList200Rooms(benchmark::State& state)
{
    Venue& v = TheVenue();
    const auto access = ReadVenueFile(v.tech);
    std::size_t rooms = 0;
    for (auto _ : state) {
        RoomClient client(*access);
        std::string why;
        if (!client.Connect(why))
            state.SkipWithError(why.c_str());
        rooms = client.States().size();
    }
    state.counters["rooms"] = double(rooms);
}
BENCHMARK(BM_VenueList200Rooms)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// One whole write on one room, then on 50 rooms at once.
void WriteTo(benchmark::State& state, int rooms)
{
    Venue& v = TheVenue();
    const auto access = ReadVenueFile(v.tech);
    RoomClient client(*access);
    std::string why;
    if (!client.Connect(why))
        state.SkipWithError(why.c_str());
    // A preset unlike the factory image, so that every write changes the box.
    ktv::LoadDefaults();
    ktv::DspParams.Delay[0] = 42;
    const ktv::DapBytes preset = ktv::EncodeDap();
    const Json body = {{"op", "write"}, {"dap", Hex(preset.data(), preset.size())}, {"name", "house.dap"}};
    const auto start = std::chrono::steady_clock::now();
    v.Report(state, "before", 0);
    for (auto _ : state) {
        std::vector<std::thread> threads;
        std::atomic<int> ok{0};
        for (int i = 1; i <= rooms; ++i)
            threads.emplace_back([&, i] {
                std::string w;
                const auto a = client.Call("Room" + std::to_string(i), body, w, 30000);
                if (a && a->value("status", 1) == 0)
                    ok++;
            });
        for (std::thread& t : threads)
            t.join();
        if (ok != rooms)
            state.SkipWithError("a room did not answer");
    }
    v.Report(state, "after", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
void BM_WholeChangeOneRoom(benchmark::State& state) { WriteTo(state, 1); }
void BM_WholeChange50RoomsAtOnce(benchmark::State& state) { WriteTo(state, WrittenRooms); }
BENCHMARK(BM_WholeChangeOneRoom)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_WholeChange50RoomsAtOnce)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The load at idle: ten seconds of nothing.
void BM_Idle10s(benchmark::State& state)
{
    Venue& v = TheVenue();
    for (auto _ : state)
        std::this_thread::sleep_for(10s);
    v.Report(state, "idle", 10);
}
BENCHMARK(BM_Idle10s)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
