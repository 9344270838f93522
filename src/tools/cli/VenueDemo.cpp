// venue demo: a private venue in a temporary folder, with its own broker and
// agents on virtual boxes, for trying everything without hardware.

#include "VenueRooms.h"

#include "venue/Process.h"
#include "venue/Setup.h"

#include <arpa/inet.h>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ktv::cli {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int MostRooms = 200;

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0;
    close(s);
    return ok ? ntohs(a.sin_port) : 0;
}

bool Listening(int port)
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

// ktvtune-box and ktvtune-agent: beside this program when installed, in
// their own folders of the build tree, or on PATH.
std::string Sibling(const std::string& name)
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path dir = self.parent_path();
        for (const fs::path& p : {dir / name, dir.parent_path() / (name == "ktvtune-box" ? "box" : "agent") / name})
            if (access(p.c_str(), X_OK) == 0)
                return p.string();
    }
    return name;
}

// The demo's children: its own signal mask is theirs until exec, so they
// are started with SIGINT and SIGTERM let through again.
pid_t Start(const std::vector<std::string>& argv, const std::string& log, const std::string& runtime)
{
    const pid_t pid = fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        setpgid(0, 0); // Ctrl+C reaches the demo, which stops them in order
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
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

void StopAll(std::vector<pid_t>& pids)
{
    // Agents first (they say offline), then the boxes, the broker last.
    for (auto it = pids.rbegin(); it != pids.rend(); ++it)
        kill(*it, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + 5s;
    for (auto it = pids.rbegin(); it != pids.rend(); ++it) {
        int status = 0;
        while (waitpid(*it, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(*it, SIGKILL);
                waitpid(*it, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    pids.clear();
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

int VenueDemo(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 1)
        return Refuse(cx, a, "venue demo takes no arguments");
    int rooms = 3;
    if (const std::string& text = a.Value("--rooms"); !text.empty()) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rooms);
        if (ec != std::errc() || end != text.data() + text.size() || rooms < 1 || rooms > MostRooms)
            return Refuse(cx, a, "--rooms must be 1.." + std::to_string(MostRooms) + ", not '" + text + "'");
    }
    for (const char* program : {"mosquitto", "openssl", "mosquitto_passwd"})
        if (!venue::HaveProgram(program)) {
            cx.Say("ktvtune-cli: %s is not installed (scripts/deps.sh installs it)\n", program);
            return ExitFailed;
        }
    char temp[] = "/tmp/ktvtune-demo-XXXXXX";
    if (!mkdtemp(temp)) {
        cx.Say("ktvtune-cli: no temporary folder for the demo\n");
        return ExitFailed;
    }
    const std::string root = temp, dir = root + "/venue", runtime = root + "/run", data = root + "/data";
    std::error_code ec;
    fs::create_directories(runtime, ec);
    fs::permissions(runtime, fs::perms(0700), ec);
    auto cleanUp = [&] { fs::remove_all(root, ec); };

    // Ctrl+C and SIGTERM are waited for below, not taken by surprise.
    sigset_t stopSignals, before;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &before);
    std::vector<pid_t> children;
    auto fail = [&](const std::string& why) {
        StopAll(children);
        cx.Say("ktvtune-cli: %s\n", why.c_str());
        cleanUp();
        sigprocmask(SIG_SETMASK, &before, nullptr);
        return ExitFailed;
    };

    venue::InitOptions o;
    o.Hosts = {"127.0.0.1", "localhost"};
    o.Port = FreePort();
    o.Bind = "127.0.0.1";
    std::string next, why, file;
    if (!venue::InitVenue(dir, o, next, why))
        return fail(why);
    // The demo's broker reads the demo's own folder: it keeps the user it
    // was started as.
    const std::string conf = dir + "/broker/demo.conf";
    const passwd* me = getpwuid(geteuid());
    std::ofstream(conf) << (me ? "user " + std::string(me->pw_name) + "\n" : "") << ReadAll(venue::BrokerConfig(dir));
    if (!venue::AddUser(dir, {"staff", "staff", ""}, file, why))
        return fail(why);
    children.push_back(Start({"mosquitto", "-c", conf}, root + "/broker.log", runtime));
    for (int i = 0; i < 500 && !Listening(o.Port); ++i)
        std::this_thread::sleep_for(10ms);
    if (!Listening(o.Port))
        return fail("the broker did not start: " + ReadAll(root + "/broker.log"));

    const std::string box = Sibling("ktvtune-box"), agent = Sibling("ktvtune-agent");
    for (int n = 1; n <= rooms; ++n) {
        const std::string room = "Room" + std::to_string(n);
        children.push_back(Start({box, "--name", room}, root + "/box-" + room + ".log", runtime));
        if (!venue::AddUser(dir, {"agent-" + room, "agent", room}, file, why))
            return fail(why);
    }
    for (int n = 1; n <= rooms; ++n) {
        const std::string room = "Room" + std::to_string(n);
        const std::string socket = runtime + "/ktvtune/box-" + room + ".sock";
        for (int i = 0; i < 500 && !fs::exists(socket, ec); ++i)
            std::this_thread::sleep_for(10ms);
        children.push_back(Start({agent, "--venue", dir + "/users/agent-" + room + ".venue", "--room", room,
                                  "--device", socket, "--data", data + "/" + room},
                                 root + "/agent-" + room + ".log", runtime));
    }
    for (int n = 1; n <= rooms; ++n) {
        const std::string log = root + "/agent-Room" + std::to_string(n) + ".log";
        for (int i = 0; i < 1000 && ReadAll(log).find(": online") == std::string::npos; ++i)
            std::this_thread::sleep_for(10ms);
        if (ReadAll(log).find(": online") == std::string::npos)
            return fail("the agent of Room" + std::to_string(n) + " did not come online: " + ReadAll(log));
    }

    const std::string tech = dir + "/users/technician.venue", staff = dir + "/users/staff.venue";
    cx.Print("A private venue in %s (removed at the end): a broker on 127.0.0.1:%d,\n"
             "rooms Room1..Room%d, each an agent on a virtual box.\n"
             "technician: %s\n"
             "staff: %s\n"
             "Try:\n"
             "  ktvtune-cli --venue %s venue list\n"
             "  ktvtune-cli --venue %s --room 'Room*' write house.dap\n"
             "  ktvtune-cli --venue %s --room Room1 history\n"
             "  ktvtune-cli --venue %s --room Room1 volume --music 40\n"
             "Ctrl+C stops everything.\n",
             root.c_str(), o.Port, rooms, tech.c_str(), staff.c_str(), tech.c_str(), tech.c_str(), tech.c_str(),
             staff.c_str());
    std::fflush(cx.Out);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    StopAll(children);
    cleanUp();
    sigprocmask(SIG_SETMASK, &before, nullptr);
    cx.Say("the demo venue is stopped and removed\n");
    return ExitOk;
}

} // namespace ktv::cli
