// ktvtune-box: a virtual DSP box. It listens on a SOCK_SEQPACKET socket in the
// runtime directory, where ktvtune and ktvtune-cli find it like a plugged-in
// box, answers each 65-byte output report as the box would, and prints one
// line per exchange.

#include "box/BoxServer.h"
#include "common/ToolText.h"
#include "device/platform/PlatformHelpers.h"
#include "presets/PresetIo.h"
#include "protocol/CommandTable.h"
#include "sim/VirtualBox.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <sys/signalfd.h>

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
    "  --idle SECONDS   close a connection quiet for this long (default: never)\n"
    "  -h, --help       show this help\n"
    "\n"
    "Ends on SIGINT or SIGTERM and removes its socket.\n";

// The help is the text above, word for word, whatever CLI11 would make of it.
class UsageText : public CLI::Formatter {
public:
    std::string make_help(const CLI::App*, std::string, CLI::AppFormatMode) const override { return Usage; }
};

struct Options {
    std::string Name = "1";
    std::string Dir;
    std::string StateFile;
    VirtualBox::FaultPlan Faults;
    std::chrono::seconds IdleLimit{0}; // zero: idle connections stay
};

int UsageError(const std::string& what)
{
    std::fprintf(stderr, "ktvtune-box: %s\nTry 'ktvtune-box --help'.\n", what.c_str());
    return 2;
}

// A whole decimal number from `low` to `high`.
bool ParseNumber(const std::string& text, long low, long high, long& n)
{
    char* end = nullptr;
    n = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && !*end && n >= low && n <= high;
}

// 0: parsed (or help shown when `help` is set); otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& o, bool& help)
{
    CLI::App app{"ktvtune-box"};
    app.formatter(std::make_shared<UsageText>());
    // Unknown arguments are reported as this program always has, not as CLI11 words it.
    app.allow_extras();
    // A repeated option takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::string fault, from, only, idle;
    app.add_option("--name", o.Name);
    app.add_option("--dir", o.Dir);
    app.add_option("--state", o.StateFile);
    app.add_option("--fault", fault);
    app.add_option("--from", from);
    app.add_option("--only", only);
    app.add_option("--idle", idle);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        help = true;
        return 0;
    } catch (const CLI::ArgumentMismatch& e) {
        // "--name: 1 required TEXT missing"
        const std::string what = e.what();
        return UsageError(what.substr(0, what.find(':')) + " needs a value");
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (!app.remaining().empty())
        return UsageError("unknown argument '" + app.remaining().front() + "'");

    // The values are checked in the order they were given, so the first
    // wrong one is the one reported.
    std::set<const CLI::Option*> checked;
    for (const CLI::Option* option : app.parse_order()) {
        if (!checked.insert(option).second)
            continue;
        const std::string name = option->get_name();
        long n = 0;
        if (name == "--name") {
            if (o.Name.empty() || o.Name.find('/') != std::string::npos)
                return UsageError("a box name must be non-empty and hold no '/'");
        } else if (name == "--fault") {
            const auto kind = VirtualBox::FaultByName(fault);
            if (!kind)
                return UsageError("unknown fault '" + fault + "'");
            o.Faults.Kind = *kind;
        } else if (name == "--from") {
            if (!ParseNumber(from, 1, 1000000000, n))
                return UsageError("--from needs a request number of 1 or more");
            o.Faults.FromRequest = int(n);
        } else if (name == "--idle") {
            if (!ParseNumber(idle, 1, 86400, n))
                return UsageError("--idle needs a number of seconds from 1 to 86400");
            o.IdleLimit = std::chrono::seconds(n);
        } else if (name == "--only") {
            o.Faults.OnlyCommand = tools::ParseCommand(only);
            if (!o.Faults.OnlyCommand)
                return UsageError("unknown command '" + only + "'");
        }
    }
    return 0;
}

// The box's settings and slots kept in a file across runs.
class StateFile {
public:
    StateFile(VirtualBox& box, std::string path)
        : box_(box)
        , path_(std::move(path))
    {
    }

    // Loads the file if it exists; 0, or the exit status after a message.
    int Load()
    {
        if (!path_.empty()) {
            // One byte more than a state file holds, so a longer file is seen as one.
            std::vector<std::uint8_t> bytes(box_.SaveState().size() + 1);
            std::size_t size = 0;
            const FileReadError error = ReadFileHead(path_, bytes.data(), bytes.size(), size);
            if (error != FileReadError::None && error != FileReadError::CannotOpen) {
                std::fprintf(stderr, "ktvtune-box: --state %s: %s\n", path_.c_str(), FileReadErrorText(error));
                return 2;
            }
            if (error == FileReadError::None) {
                bytes.resize(size);
                if (!box_.LoadState(bytes)) {
                    std::fprintf(stderr, "ktvtune-box: %s is not a box state file\n", path_.c_str());
                    return 2;
                }
                std::printf("state loaded from %s\n", path_.c_str());
            }
        }
        saved_ = box_.SaveState();
        return 0;
    }

    // Writes the state when it changed.
    void Save()
    {
        if (path_.empty())
            return;
        std::vector<std::uint8_t> state = box_.SaveState();
        if (state == saved_)
            return;
        // Through a temporary file, so a box killed mid-write never leaves half a state.
        const FileWriteError error = ReplaceFile(path_, state.data(), state.size());
        if (error == FileWriteError::None)
            saved_ = std::move(state);
        else
            std::fprintf(stderr, "ktvtune-box: cannot write %s: %s\n", path_.c_str(), FileWriteErrorText(error));
    }

private:
    VirtualBox& box_;
    std::string path_;
    std::vector<std::uint8_t> saved_;
};

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
    StateFile state(box, options.StateFile);
    if (const int status = state.Load())
        return status;

    const std::string dir = options.Dir.empty() ? platform::VirtualBoxDirectory() : options.Dir;
    tools::BoxServer server(box, {dir, options.Name, options.IdleLimit});
    server.Log = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    server.AfterRequest = [&] { state.Save(); };

    // Signals arrive as readable data in the server's poll loop, so the
    // socket is removed on the way out however the box is stopped.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    std::string error;
    if (signalFd < 0 || !server.Listen(error)) {
        std::fprintf(stderr, "ktvtune-box: %s\n", signalFd < 0 ? "cannot watch for signals" : error.c_str());
        return 1;
    }
    std::printf("listening on %s as %s\n", server.Path().c_str(), platform::VirtualInstanceId(server.FileName()).c_str());
    if (box.Faults.Kind != VirtualBox::Fault::None) {
        std::string only;
        if (const auto code = box.Faults.OnlyCommand) {
            const char* name = CommandName(*code);
            char number[16];
            std::snprintf(number, sizeof number, "command 0x%02X", *code);
            only = std::string(" for ") + (name ? name : number);
        }
        std::printf("misbehaving: %s from request %d%s\n", VirtualBox::FaultName(box.Faults.Kind),
                    box.Faults.FromRequest, only.c_str());
    }

    const int exitSignal = server.Run(signalFd, error);
    if (exitSignal < 0)
        std::fprintf(stderr, "ktvtune-box: %s\n", error.c_str());
    server.Close();
    state.Save();
    if (exitSignal > 0)
        std::printf("stopped by %s, socket removed\n", exitSignal == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}
