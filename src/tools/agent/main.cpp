// ktvtune-agent: serves one room's box to the venue. It runs on the PC the
// box is plugged into, holds the box's link and connects out to the venue's
// broker; nothing listens on the room's PC.

#include "Agent.h"

#include "base/UserInterface.h"
#include "common/Console.h"
#include "device/platform/SystemHidPlatform.h"
#include "presets/BoxJournal.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <thread>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> stopping{false};

// The agent shows nothing: status texts and messages go to its log.
class LogUi final : public ktv::UserInterface {
public:
    void ShowMessage(std::string_view) override {}
    void SetStatus(ktv::StatusPanel, std::string_view) override {}
    void SetBusyCursor(bool) override {}
    void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

} // namespace

int main(int argc, char** argv)
{
    ktv::tools::FlushEachLine(stderr);
    CLI::App app{"Serves one room's KTV DSP box to the venue through its broker."};
    std::string venueFile, room, device, data;
    int holdIdle = 300;
    app.add_option("--venue", venueFile, "the agent's FILE.venue ('ktvtune-cli venue add-user')")->required();
    app.add_option("--room", room, "the room this box is in")->required();
    app.add_option("--device", device, "the box to serve: identifier, path or number (default: the first)");
    app.add_option("--data", data, "where the room's journal is kept (default: the user's data folder)");
    app.add_option("--hold-idle", holdIdle, "seconds without a change after which a tuner's hold lapses (300)")
        ->check(CLI::Range(1, 86400));
    CLI11_PARSE(app, argc, argv);

    std::string why;
    const auto access = ktv::venue::ReadVenueFile(venueFile, &why);
    if (!access) {
        std::fprintf(stderr, "ktvtune-agent: %s\n", why.c_str());
        return 2;
    }
    if (!ktv::venue::IsPlainName(room)) {
        std::fprintf(stderr, "ktvtune-agent: a room name takes letters, digits, '-', '_' and '.'\n");
        return 2;
    }
    if (access->Role != "agent" || access->Room != room) {
        std::fprintf(stderr, "ktvtune-agent: %s is not the agent file of room %s\n", venueFile.c_str(), room.c_str());
        return 2;
    }
    if (data.empty()) {
        const std::string home = ktv::DataDirectory();
        data = (home.empty() ? std::string(".") : home) + "/venue/" + access->Site + "/" + room;
    }
    std::signal(SIGINT, [](int) { stopping = true; });
    std::signal(SIGTERM, [](int) { stopping = true; });
    std::signal(SIGPIPE, SIG_IGN);
    LogUi ui;
    ktv::SetUserInterface(&ui);
    ktv::SystemHidPlatform platform;
    ktv::agent::Agent agent({*access, room, device, data, std::chrono::seconds(holdIdle)}, platform);
    return agent.Run(stopping);
}
