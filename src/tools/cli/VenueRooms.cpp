#include "VenueRooms.h"

#include "device/HidPro.h"
#include "venue/RemotePlatform.h"
#include "venue/RoomClient.h"
#include "venue/VenueFile.h"

#include <algorithm>
#include <cstring>

namespace ktv::cli {

using venue::Json;

namespace {

// The commands that work on a remote room as on a USB box.
constexpr const char* RoomCommands[] = {"read", "write", "store", "recall", "history", "restore", "dump", "import"};

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
    UserInterface* before = SetUserInterface(&remote.Ui);
    const int status = command.Run(remote, a);
    SetUserInterface(before);
    Hid().SetPlatform(&cx.Platform);
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
    return RunOnRoom(cx, command, a, client, room);
}

int VenueList(Context& cx, const Arguments&)
{
    cx.Say("ktvtune-cli: venue list is not there yet\n");
    return ExitFailed;
}

int VenueDemo(Context& cx, const Arguments&)
{
    cx.Say("ktvtune-cli: venue demo is not there yet\n");
    return ExitFailed;
}

} // namespace ktv::cli
