#include "VenueRooms.h"

#include "device/HidPro.h"
#include "venue/RemotePlatform.h"
#include "venue/RoomClient.h"
#include "venue/VenueFile.h"

#include "params/Commands.h"
#include "presets/DapFile.h"
#include "venue/Roles.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <future>

namespace ktv::cli {

using venue::Json;

namespace {

// The commands that work on a remote room as on a USB box.
constexpr const char* RoomCommands[] = {"read",    "write", "store",  "recall", "history",
                                        "restore", "dump",  "import", "volume"};

bool OnRooms(const Command& command)
{
    return std::any_of(std::begin(RoomCommands), std::end(RoomCommands),
                       [&](const char* name) { return std::strcmp(name, command.Name) == 0; });
}

std::optional<venue::VenueAccess> LoadAccess(Context& cx)
{
    std::string why;
    auto access = venue::ReadVenueFile(cx.VenueFile, &why);
    if (!access)
        cx.Say("ktvtune-cli: %s\n", why.c_str());
    return access;
}

int WholeOnRoom(Context& cx, const Command& c, const Arguments& a, venue::RoomClient& client, const std::string& room,
                const Json& body);

// The command on one room, through a remote platform in place of the local one.
int RunOnRoom(Context& cx, const Command& command, const Arguments& a, venue::RoomClient& client,
              const std::string& room)
{
    venue::RemoteHidPlatform platform(client, room, [&](const std::string& text) {
        cx.Say("ktvtune-cli: %s\n", text.c_str());
    });
    Context remote(cx.Out, cx.Err, platform);
    remote.In = cx.In;
    remote.Terminal = cx.Terminal;
    remote.VenueFile = cx.VenueFile;
    remote.Ui.Quiet = cx.Ui.Quiet;
    remote.ImportOnRoom = [&](EqChannel channel, const DapBytes& image) {
        const Json body = {{"op", "import"}, {"channel", EqChannelName(channel)},
                           {"dap", venue::Hex(image.data(), image.size())}};
        return WholeOnRoom(remote, command, a, client, room, body);
    };
    UserInterface* before = SetUserInterface(&remote.Ui);
    const int status = command.Run(remote, a);
    SetUserInterface(before);
    Hid().SetPlatform(&cx.Platform);
    return status;
}

// Room2 before Room10: digits compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// A whole change waits longer: the agent reads and writes the box in between.
constexpr int WholeTimeoutMs = 3 * venue::RemoteTimeoutMs;

bool IsWhole(const Command& c)
{
    for (const char* name : {"write", "recall", "restore", "history"})
        if (std::strcmp(c.Name, name) == 0)
            return true;
    return false;
}

// Why a room cannot be used now; empty when its agent and box are there.
std::string Unavailable(venue::RoomClient& client, const std::string& room)
{
    const auto state = client.State(room);
    if (!state)
        return "no room '" + room + "' is known to the broker (see 'venue list')";
    if (!state->value("online", false))
        return "room " + room + " is offline";
    if (!state->value("boxPresent", false))
        return "room " + room + ": box gone (its agent is online, the box is not)";
    return {};
}

// The request a whole command makes, or the exit status of its refusal.
struct WholeRequest {
    Json Body;
    int Refused = -1;
};

WholeRequest BuildWhole(Context& cx, const Command& c, const Arguments& a)
{
    WholeRequest w;
    const std::string name = c.Name;
    if (name == "write") {
        if (a.Free.size() != 1)
            return {{}, Refuse(cx, a, "write needs exactly one FILE.dap")};
        if (a.Flag("--all"))
            return {{}, Refuse(cx, a, "--all and --venue exclude each other: name the rooms with --room")};
        DapBytes preset{};
        if (const DapReadError error = LoadDapFile(a.Free[0], preset); error != DapReadError::None) {
            cx.Say("ktvtune-cli: %s: %s\n", a.Free[0].c_str(), DapReadErrorText(error));
            return {{}, ExitUsage};
        }
        const std::string file = a.Free[0].substr(a.Free[0].find_last_of('/') + 1);
        w.Body = {{"op", "write"}, {"dap", venue::Hex(preset.data(), preset.size())}, {"name", file}};
    } else if (name == "recall") {
        const std::string slotText = a.Free.empty() ? "" : a.Free[0];
        const auto slot = ParseSlot(slotText);
        if (!slot)
            return {{}, Refuse(cx, a, slotText.empty() ? "recall needs one slot number"
                                                         : "the slot must be 1..8, not '" + slotText + "'")};
        w.Body = {{"op", "recall"}, {"slot", *slot}};
    } else if (name == "restore") {
        if (a.Free.size() != 1)
            return {{}, Refuse(cx, a, "restore needs one number from 'history'")};
        std::size_t n = 0;
        const std::string& text = a.Free[0];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < 1)
            return {{}, Refuse(cx, a, "the number must be 1 or more, not '" + text + "'")};
        w.Body = {{"op", "restore"}, {"n", n}};
    } else {
        if (!a.Free.empty())
            return {{}, Refuse(cx, a, "history takes no arguments")};
        w.Body = {{"op", "history"}};
    }
    return w;
}

// The agent's answer as the command's own output; the exit status.
int ShowAnswer(Context& cx, const Command& c, const Arguments& a, const std::string& room, const Json& answer)
{
    if (answer.contains("refused")) {
        cx.Say("ktvtune-cli: room %s refused the request: %s (nothing was sent to the box)\n", room.c_str(),
               answer.value("refused", std::string()).c_str());
        return ExitFailed;
    }
    if (answer.value("gone", false)) {
        cx.Say("ktvtune-cli: room %s: box gone (its agent is online, the box is not)\n", room.c_str());
        cx.Ui.SetStatus(StatusPanel::Connection, "Connect:no!");
        return ExitFailed;
    }
    if (answer.contains("say"))
        cx.Say("ktvtune-cli: %s\n", answer.value("say", std::string()).c_str());
    if (answer.contains("events"))
        for (const Json& e : answer["events"]) {
            if (e.contains("status"))
                cx.Ui.SetStatus(StatusPanel(e.value("panel", 0)), e.value("status", std::string()));
            else if (e.contains("message"))
                cx.Ui.ShowMessage(e.value("message", std::string()));
            else if (e.contains("say"))
                cx.Say("ktvtune-cli: %s\n", e.value("say", std::string()).c_str());
        }
    int status = answer.value("status", int(ExitFailed));
    if (std::strcmp(c.Name, "history") == 0 && answer.contains("entries")) {
        const Json& entries = answer["entries"];
        if (entries.empty())
            cx.Say("no saved states of %s\n", answer.value("box", std::string()).c_str());
        if (answer.contains("interrupted"))
            cx.Say("ktvtune-cli: room %s: %s\n", room.c_str(), answer.value("interrupted", std::string()).c_str());
        std::size_t n = 0;
        for (const Json& e : entries)
            cx.Print("%zu\t%s\t%s\t%s\n", ++n, e.value("time", std::string()).c_str(),
                     e.value("after", std::string()).c_str(), e.value("user", std::string()).c_str());
    }
    const std::string& out = a.Value("--output");
    if (status == ExitOk && std::strcmp(c.Name, "recall") == 0 && !out.empty()) {
        DapBytes image{};
        const std::string hex = answer.value("dap", std::string());
        LoadDefaults();
        if (!venue::FromHex(hex, image.data(), image.size()) || !ApplyDapWhole(image.data(), image.size()))
            status = ExitFailed;
        else if (!SaveImage(cx, out))
            status = ExitUsage;
    }
    return status;
}

// One whole change on one room: carried out by its agent as one request.
int WholeOnRoom(Context& cx, const Command& c, const Arguments& a, venue::RoomClient& client, const std::string& room,
                const Json& body)
{
    if (const std::string why = Unavailable(client, room); !why.empty()) {
        cx.Say("ktvtune-cli: %s\n", why.c_str());
        if (std::strcmp(c.Name, "history") != 0)
            cx.Ui.SetStatus(StatusPanel::Connection, "Connect:no!");
        return ExitFailed;
    }
    std::string why;
    const auto answer = client.Call(room, body, why, WholeTimeoutMs);
    if (!answer) {
        cx.Say("ktvtune-cli: %s; the journal of the room keeps the state from before any change\n", why.c_str());
        return ExitFailed;
    }
    return ShowAnswer(cx, c, a, room, *answer);
}

// The same change on every room a pattern names, all at once; one line per room.
int WholeOnRooms(Context& cx, venue::RoomClient& client, const std::string& pattern,
                 const Json& body)
{
    std::vector<std::string> rooms;
    for (const auto& [room, state] : client.States())
        if (venue::MatchesPattern(pattern, room))
            rooms.push_back(room);
    std::sort(rooms.begin(), rooms.end(), NaturalLess);
    if (rooms.empty()) {
        cx.Say("ktvtune-cli: no room matches '%s' (see 'venue list')\n", pattern.c_str());
        return ExitFailed;
    }
    using Outcome = std::pair<bool, std::string>; // ok, and what to print
    std::vector<std::future<Outcome>> outcomes;
    for (const std::string& room : rooms)
        outcomes.push_back(std::async(std::launch::async, [&client, room, body]() -> Outcome {
            if (std::string why = Unavailable(client, room); !why.empty())
                return {false, why};
            std::string why;
            const auto answer = client.Call(room, body, why, WholeTimeoutMs);
            if (!answer)
                return {false, why};
            if (answer->contains("refused"))
                return {false, "refused: " + answer->value("refused", std::string())};
            if (answer->value("gone", false))
                return {false, "box gone"};
            std::string last = "no answer from the box";
            if (answer->contains("events"))
                for (const Json& e : (*answer)["events"])
                    if (e.contains("message"))
                        last = e.value("message", std::string());
            return {answer->value("status", 1) == 0, last};
        }));
    int status = ExitOk;
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        const auto [ok, outcome] = outcomes[i].get();
        if (!ok)
            status = ExitFailed;
        cx.Print("%s\t%s\n", rooms[i].c_str(), outcome.c_str());
        std::fflush(cx.Out);
    }
    return status;
}

} // namespace

int RunVenueAware(Context& cx, const Command& command, const Arguments& a)
{
    if (cx.VenueFile.empty() || std::strcmp(command.Name, "venue") == 0)
        return command.Run(cx, a);
    const std::string& room = a.Value("--room");
    if (!OnRooms(command))
        return UsageError(cx, MainUsage(), std::string(command.Name) + " does not work on a venue's room");
    if (room.empty())
        return UsageError(cx, MainUsage(), "--venue needs --room ROOM");
    if (!cx.WantedBox.empty())
        return UsageError(cx, MainUsage(), "--device and --venue exclude each other");
    if (!venue::IsRoomPattern(room))
        return UsageError(cx, MainUsage(), "a room name takes letters, digits, '-', '_' and '.' (and * ? in a pattern)");
    const auto access = LoadAccess(cx);
    if (!access)
        return ExitUsage;
    venue::RoomClient client(*access);
    std::string why;
    if (!client.Connect(why)) {
        cx.Say("ktvtune-cli: %s\n", why.c_str());
        return ExitFailed;
    }
    const bool pattern = room.find_first_of("*?") != std::string::npos;
    if (pattern && std::strcmp(command.Name, "write") != 0 && std::strcmp(command.Name, "recall") != 0)
        return UsageError(cx, MainUsage(), "a room pattern takes write or recall; name one room for " +
                                               std::string(command.Name));
    if (!IsWhole(command))
        return RunOnRoom(cx, command, a, client, room);
    const WholeRequest w = BuildWhole(cx, command, a);
    if (w.Refused >= 0)
        return w.Refused;
    UserInterface* before = SetUserInterface(&cx.Ui);
    const int status = pattern ? WholeOnRooms(cx, client, room, w.Body)
                               : WholeOnRoom(cx, command, a, client, room, w.Body);
    SetUserInterface(before);
    return status;
}

namespace {

std::string Or(const std::string& text) { return text.empty() ? "-" : text; }

} // namespace

int VenueList(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 1)
        return Refuse(cx, a, "venue list takes no arguments");
    if (cx.VenueFile.empty())
        return Refuse(cx, a, "venue list needs --venue FILE.venue");
    const auto access = LoadAccess(cx);
    if (!access)
        return ExitUsage;
    venue::RoomClient client(*access);
    std::string why;
    if (!client.Connect(why)) {
        cx.Say("ktvtune-cli: %s\n", why.c_str());
        return ExitFailed;
    }
    const std::string& pattern = a.Value("--room");
    std::vector<std::pair<std::string, Json>> rooms;
    for (auto& [room, state] : client.States())
        if (pattern.empty() || venue::MatchesPattern(pattern, room))
            rooms.emplace_back(room, state);
    std::sort(rooms.begin(), rooms.end(), [](const auto& x, const auto& y) { return NaturalLess(x.first, y.first); });
    if (rooms.empty())
        cx.Say("no room is known to the broker%s\n", pattern.empty() ? "" : (" matching '" + pattern + "'").c_str());
    for (const auto& [room, s] : rooms) {
        const bool online = s.value("online", false);
        const std::string state = !online ? "offline" : s.value("boxPresent", false) ? "online" : "box gone";
        const std::string since = online ? s.value("since", std::string()) : s.value("seen", std::string());
        std::string tuner = "-";
        if (s.contains("tuner") && s["tuner"].is_object())
            tuner = s["tuner"].value("user", std::string()) + " since " + s["tuner"].value("since", std::string());
        std::string change = "-";
        if (s.contains("lastChange") && s["lastChange"].is_object()) {
            const Json& c = s["lastChange"];
            change = c.value("user", std::string()) + " " + c.value("when", std::string()) + " " +
                     c.value("what", std::string());
        }
        // A whole change its agent did not finish follows, until a later one clears it.
        const std::string interrupted = s.value("interrupted", std::string());
        cx.Print("%s\t%s\t%s\t%s\t%s\t%s\t%s%s\n", room.c_str(), state.c_str(), Or(since).c_str(),
                 Or(s.value("box", std::string())).c_str(), tuner.c_str(), change.c_str(),
                 Or(s.value("preset", std::string())).c_str(), interrupted.empty() ? "" : ("\t" + interrupted).c_str());
    }
    return rooms.empty() ? ExitFailed : ExitOk;
}

} // namespace ktv::cli
