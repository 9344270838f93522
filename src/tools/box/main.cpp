// ktvtune-box: a virtual DSP box. It listens on a SOCK_SEQPACKET socket in the
// runtime directory, where ktvtune and ktvtune-cli find it like a plugged-in
// box, answers each 65-byte output report as the box would, and prints one
// line per exchange.

#include "common/ToolText.h"
#include "device/VirtualBox.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/UnixSocket.h"
#include "presets/PresetIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace ktv;

namespace {

constexpr const char* Usage =
    "Usage: ktvtune-box [OPTIONS]\n"
    "\n"
    "Runs a virtual KTV DSP box that ktvtune and ktvtune-cli find like a\n"
    "plugged-in box, and prints one line per exchange.\n"
    "\n"
    "Options:\n"
    "  --name NAME      listen on box-NAME.sock (default: box-1.sock)\n"
    "  --dir DIR        socket directory (default: $XDG_RUNTIME_DIR/ktvtune,\n"
    "                   or /tmp/ktvtune-<uid> when XDG_RUNTIME_DIR is unset)\n"
    "  --state FILE     keep the settings and the eight slots in FILE across runs\n"
    "                   (read at start if it exists, rewritten after every change)\n"
    "  --fault KIND     misbehave on purpose: silent, bad-checksum, wrong-address,\n"
    "                   wrong-length, wrong-reply-code, short-report,\n"
    "                   foreign-band-run, foreign-band-count\n"
    "  --from N         misbehave from the N-th request on (default: 1)\n"
    "  --only COMMAND   misbehave only for this command, by name (Link, PeqBands,\n"
    "                   ReadSystem, ...) or code (0x2a)\n"
    "  --idle SECONDS   close a connection quiet for this long (default: 60)\n"
    "  -h, --help       show this help\n"
    "\n"
    "Ends on SIGINT or SIGTERM and removes its socket.\n";

struct FaultName {
    const char* Name;
    VirtualBox::Fault Kind;
};
constexpr FaultName FaultNames[] = {
    {"silent", VirtualBox::Fault::Silent},
    {"bad-checksum", VirtualBox::Fault::BadChecksum},
    {"wrong-address", VirtualBox::Fault::WrongAddress},
    {"wrong-length", VirtualBox::Fault::WrongLength},
    {"wrong-reply-code", VirtualBox::Fault::WrongReplyCode},
    {"short-report", VirtualBox::Fault::ShortReport},
    {"foreign-band-run", VirtualBox::Fault::ForeignBandRun},
    {"foreign-band-count", VirtualBox::Fault::ForeignBandCount},
};

struct Options {
    std::string Name = "1";
    std::string Dir;
    std::string StateFile;
    VirtualBox::FaultPlan Faults;
    // A connection quiet for this long is closed, so forgotten ones do not pile up.
    std::chrono::seconds IdleLimit{60};
};

int UsageError(const std::string& what)
{
    std::fprintf(stderr, "ktvtune-box: %s\nTry 'ktvtune-box --help'.\n", what.c_str());
    return 2;
}

// 0: parsed; otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& o, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            help = true;
            return 0;
        }
        std::optional<std::string> v;
        if (arg == "--name" || arg == "--dir" || arg == "--state" || arg == "--fault" || arg == "--from" ||
            arg == "--only" || arg == "--idle") {
            v = value();
            if (!v)
                return UsageError(arg + " needs a value");
        } else {
            return UsageError("unknown argument '" + arg + "'");
        }
        if (arg == "--name") {
            if (v->empty() || v->find('/') != std::string::npos)
                return UsageError("a box name must be non-empty and hold no '/'");
            o.Name = *v;
        } else if (arg == "--dir") {
            o.Dir = *v;
        } else if (arg == "--state") {
            o.StateFile = *v;
        } else if (arg == "--fault") {
            bool found = false;
            for (const FaultName& f : FaultNames)
                if (*v == f.Name) {
                    o.Faults.Kind = f.Kind;
                    found = true;
                }
            if (!found)
                return UsageError("unknown fault '" + *v + "'");
        } else if (arg == "--from") {
            char* end = nullptr;
            const long n = std::strtol(v->c_str(), &end, 10);
            if (v->empty() || *end || n < 1 || n > 1000000000)
                return UsageError("--from needs a request number of 1 or more");
            o.Faults.FromRequest = int(n);
        } else if (arg == "--idle") {
            char* end = nullptr;
            const long n = std::strtol(v->c_str(), &end, 10);
            if (v->empty() || *end || n < 1 || n > 86400)
                return UsageError("--idle needs a number of seconds from 1 to 86400");
            o.IdleLimit = std::chrono::seconds(n);
        } else if (arg == "--only") {
            const auto code = tools::ParseCommand(*v);
            if (!code)
                return UsageError("unknown command '" + *v + "'");
            o.Faults.OnlyCommand = code;
        }
    }
    return 0;
}

std::string Now()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return text;
}

// A connection and the replies it has not taken yet.
struct Client {
    int Fd = -1;
    std::deque<std::vector<std::uint8_t>> Pending;
    std::chrono::steady_clock::time_point LastActive;
};

// Replies a client may leave unread before it is dropped: a client that
// sends and never reads must not hold the box for the others.
constexpr std::size_t MaxPendingReplies = 16;
// Requests taken from one client per round, so a busy one cannot starve the rest.
constexpr int RequestsPerRound = 8;

// Sends what the client has pending without blocking; false when the
// connection is broken.
bool Flush(Client& c)
{
    while (!c.Pending.empty()) {
        const std::vector<std::uint8_t>& reply = c.Pending.front();
        const ssize_t n = send(c.Fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.Pending.pop_front();
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (const int status = ParseOptions(argc, argv, options, help))
        return status;
    if (help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    // Someone watching the log wants each line as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    VirtualBox box;
    box.Faults = options.Faults;
    if (!options.StateFile.empty()) {
        // One byte more than a state file holds, so a longer file is seen as one.
        std::vector<std::uint8_t> bytes(box.SaveState().size() + 1);
        std::size_t size = 0;
        const FileReadError error = ReadFileHead(options.StateFile, bytes.data(), bytes.size(), size);
        if (error != FileReadError::None && error != FileReadError::CannotOpen) {
            std::fprintf(stderr, "ktvtune-box: --state %s: %s\n", options.StateFile.c_str(), FileReadErrorText(error));
            return 2;
        }
        if (error == FileReadError::None) {
            bytes.resize(size);
            if (!box.LoadState(bytes)) {
                std::fprintf(stderr, "ktvtune-box: %s is not a box state file\n", options.StateFile.c_str());
                return 2;
            }
            std::printf("state loaded from %s\n", options.StateFile.c_str());
        }
    }
    std::vector<std::uint8_t> savedState = box.SaveState();
    auto saveState = [&] {
        if (options.StateFile.empty())
            return;
        std::vector<std::uint8_t> state = box.SaveState();
        if (state == savedState)
            return;
        // Through a temporary file, so a box killed mid-write never leaves half a state.
        const FileWriteError error = ReplaceFile(options.StateFile, state.data(), state.size());
        if (error == FileWriteError::None)
            savedState = std::move(state);
        else
            std::fprintf(stderr, "ktvtune-box: cannot write %s: %s\n", options.StateFile.c_str(),
                         FileWriteErrorText(error));
    };

    const std::string dir = options.Dir.empty() ? platform::VirtualBoxDirectory() : options.Dir;
    std::string dirError;
    if (!platform::EnsureVirtualBoxDirectory(dir, &dirError)) {
        std::fprintf(stderr, "ktvtune-box: %s\n", dirError.c_str());
        return 1;
    }
    const std::string fileName = "box-" + options.Name + ".sock";
    const std::string path = dir + "/" + fileName;
    const std::string temp = dir + "/.box-" + options.Name + ".sock." + std::to_string(getpid());
    sockaddr_un addr;
    if (!platform::FillAddress(addr, temp)) {
        std::fprintf(stderr, "ktvtune-box: socket path too long: %s\n", path.c_str());
        return 1;
    }

    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            std::fprintf(stderr, "ktvtune-box: %s exists and is not a socket\n", path.c_str());
            return 1;
        }
        if (platform::SomeoneListens(path)) {
            std::fprintf(stderr, "ktvtune-box: another box is already listening on %s (try --name)\n",
                         path.c_str());
            return 1;
        }
        std::printf("replacing stale socket %s\n", path.c_str());
    }

    // Signals arrive as readable data in the poll loop, so the socket is
    // removed on the way out however the box is stopped.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    unlink(temp.c_str());
    // Bound and listening under a temporary name, then renamed into place: a
    // client that sees the name can connect at once, and a stale socket is
    // replaced in one step.
    if (signalFd < 0 || listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, SOMAXCONN) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "ktvtune-box: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        unlink(temp.c_str());
        return 1;
    }
    struct stat ours{};
    lstat(path.c_str(), &ours);

    std::printf("listening on %s as %s\n", path.c_str(), platform::VirtualInstanceId(fileName).c_str());
    if (box.Faults.Kind != VirtualBox::Fault::None) {
        const char* faultName = "";
        for (const FaultName& f : FaultNames)
            if (f.Kind == box.Faults.Kind)
                faultName = f.Name;
        std::printf("misbehaving: %s from request %d%s%s\n", faultName, box.Faults.FromRequest,
                    box.Faults.OnlyCommand ? " for " : "",
                    box.Faults.OnlyCommand ? tools::CommandName(*box.Faults.OnlyCommand) : "");
    }

    // Kept open so that, with every descriptor taken, one can be freed to
    // accept and drop a connection instead of polling a listener that stays
    // readable for ever.
    int spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::vector<Client> clients;
    auto closeClient = [&](std::size_t i) {
        close(clients[i].Fd);
        clients.erase(clients.begin() + std::ptrdiff_t(i));
    };
    auto acceptClients = [&] {
        for (;;) {
            const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (c >= 0) {
                clients.push_back({c, {}, std::chrono::steady_clock::now()});
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EMFILE && errno != ENFILE)
                return;
            // Out of descriptors: the connection idle the longest makes room.
            if (!clients.empty()) {
                std::size_t oldest = 0;
                for (std::size_t i = 1; i < clients.size(); ++i)
                    if (clients[i].LastActive < clients[oldest].LastActive)
                        oldest = i;
                closeClient(oldest);
                continue;
            }
            if (spareFd < 0)
                return;
            close(spareFd);
            const int dropped = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (dropped >= 0)
                close(dropped);
            spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            return;
        }
    };

    int exitSignal = 0;
    std::vector<pollfd> fds;
    while (!exitSignal) {
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = clients.size(); i-- > 0;)
            if (now - clients[i].LastActive > options.IdleLimit)
                closeClient(i);
        int timeoutMs = -1;
        if (!clients.empty()) {
            auto oldest = clients.front().LastActive;
            for (const Client& c : clients)
                oldest = std::min(oldest, c.LastActive);
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(oldest + options.IdleLimit - now);
            timeoutMs = int(std::max<std::int64_t>(left.count(), 0) + 1);
        }

        fds.assign({{signalFd, POLLIN, 0}, {listener, POLLIN, 0}});
        for (const Client& c : clients)
            fds.push_back({c.Fd, short(POLLIN | (c.Pending.empty() ? 0 : POLLOUT)), 0});
        if (poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "ktvtune-box: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == ssize_t(sizeof info))
                exitSignal = int(info.ssi_signo);
        }

        // Clients polled this round sit at the front in poll order; closing
        // goes backwards so the indices stay valid.
        const std::size_t polled = fds.size() - 2;
        for (std::size_t i = polled; i-- > 0;) {
            const short revents = fds[i + 2].revents;
            if (!revents)
                continue;
            Client& c = clients[i];
            bool keep = true;
            if (revents & POLLIN) {
                for (int round = 0; keep && round < RequestsPerRound; ++round) {
                    // One byte more than a report, so a longer datagram shows
                    // as one (MSG_TRUNC gives its real length).
                    std::uint8_t request[ReportSize + 1] = {};
                    const ssize_t n = recv(c.Fd, request, sizeof request, MSG_DONTWAIT | MSG_TRUNC);
                    if (n < 0) {
                        keep = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
                        break;
                    }
                    if (n == 0) { // the client left, or sent an empty datagram
                        keep = false;
                        break;
                    }
                    c.LastActive = std::chrono::steady_clock::now();
                    const std::size_t size = std::min(std::size_t(n), sizeof request);
                    std::vector<std::uint8_t> reply = box.Handle(request, size);
                    // Logged before the reply goes: a client that has its reply may
                    // end at once, and whoever reads the log then must find the line.
                    std::printf("%s #%d %s | %s\n", Now().c_str(), box.RequestCount,
                                tools::DescribeRequest(request, std::min(size, ReportSize)).c_str(),
                                VirtualBox::Describe(box.Log.back()).c_str());
                    // The log is printed; the box itself need not keep it.
                    box.Log.clear();
                    saveState();
                    if (reply.empty())
                        continue;
                    if (c.Pending.size() >= MaxPendingReplies) {
                        std::printf("%s closing a client that does not read its replies\n", Now().c_str());
                        keep = false;
                        break;
                    }
                    c.Pending.push_back(std::move(reply));
                    keep = Flush(c);
                }
            } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
                keep = false;
            }
            if (keep && (revents & POLLOUT))
                keep = Flush(c);
            if (!keep)
                closeClient(i);
        }
        if (fds[1].revents & POLLIN)
            acceptClients();
    }

    if (spareFd >= 0)
        close(spareFd);
    for (const Client& c : clients)
        close(c.Fd);
    close(listener);
    // Only our own socket: a box started after us under the same name keeps its.
    struct stat now{};
    if (lstat(path.c_str(), &now) == 0 && now.st_ino == ours.st_ino && now.st_dev == ours.st_dev)
        unlink(path.c_str());
    saveState();
    if (exitSignal)
        std::printf("stopped by %s, socket removed\n", exitSignal == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}
