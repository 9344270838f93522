// venue: set up a venue (its broker, its users) and look at its rooms.

#include "../Command.h"
#include "../VenueRooms.h"

#include "venue/Process.h"
#include "venue/RoomClient.h"
#include "venue/VenueFile.h"
#include "venue/Setup.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <unistd.h>

namespace ktv::cli {
namespace {

int Failed(Context& cx, const std::string& why)
{
    cx.Say("ktvtune-cli: %s\n", why.c_str());
    return ExitFailed;
}

std::optional<int> ParsePort(const std::string& text)
{
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

int Init(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 2)
        return Refuse(cx, a, "venue init needs one folder");
    venue::InitOptions o;
    if (const CLI::Option* hosts = a.Parsed->get_option_no_throw("--host"))
        for (const std::string& h : hosts->results())
            o.Hosts.push_back(h);
    if (!a.Value("--port").empty()) {
        const auto port = ParsePort(a.Value("--port"));
        if (!port)
            return Refuse(cx, a, "the port must be 1..65535, not '" + a.Value("--port") + "'");
        o.Port = *port;
    }
    o.Bind = a.Value("--bind");
    if (!a.Value("--site").empty())
        o.Site = a.Value("--site");
    if (!a.Value("--user").empty())
        o.FirstUser = a.Value("--user");
    std::string next, why;
    if (!venue::InitVenue(a.Free[1], o, next, why))
        return Failed(cx, why);
    cx.Print("%s", next.c_str());
    return ExitOk;
}

int AddUser(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 3)
        return Refuse(cx, a, "venue add-user needs a folder and a user name");
    if (a.Value("--role").empty())
        return Refuse(cx, a, "venue add-user needs --role technician|staff|agent");
    std::string file, why;
    if (!venue::AddUser(a.Free[1], {a.Free[2], a.Value("--role"), a.Value("--room")}, file, why))
        return Failed(cx, why);
    cx.Print("%s\n", file.c_str());
    return ExitOk;
}

int RemoveUser(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 3)
        return Refuse(cx, a, "venue remove-user needs a folder and a user name");
    std::string why;
    if (!venue::RemoveUser(a.Free[1], a.Free[2], why))
        return Failed(cx, why);
    return ExitOk;
}

int Limits(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 1)
        return Refuse(cx, a, "venue limits takes no arguments");
    const std::string& room = a.Value("--room");
    if (cx.VenueFile.empty() || room.empty() || !venue::IsPlainName(room))
        return Refuse(cx, a, "venue limits needs --venue FILE and --room ROOM (one room)");
    venue::Json request = {{"op", "limits"}};
    for (const char* which : {"mic", "music", "effect"}) {
        const std::string& text = a.Value(std::string("--") + which);
        if (text.empty())
            continue;
        int v = -1;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > 255)
            return Refuse(cx, a, std::string("the ") + which + " limit must be 0..255, not '" + text + "'");
        request[which] = v;
    }
    std::string why;
    const auto access = venue::ReadVenueFile(cx.VenueFile, &why);
    if (!access)
        return Failed(cx, why);
    venue::RoomClient client(*access);
    if (!client.Connect(why))
        return Failed(cx, why);
    const auto answer = client.Call(room, request, why);
    if (!answer)
        return Failed(cx, why);
    if (answer->contains("refused"))
        return Failed(cx, "room " + room + " refused the request: " + answer->value("refused", std::string()));
    const venue::Json& l = (*answer)["limits"];
    cx.Print("mic\t%d\nmusic\t%d\neffect\t%d\n", l.value("mic", 255), l.value("music", 255), l.value("effect", 255));
    return ExitOk;
}

// take-over and release: the one-tuner hold on a room.
int Hold(Context& cx, const Arguments& a, const std::string& op)
{
    const std::string& room = a.Value("--room");
    if (a.Free.size() != 1 || cx.VenueFile.empty() || room.empty() || !venue::IsPlainName(room))
        return Refuse(cx, a, "venue " + op + " needs --venue FILE and --room ROOM (one room)");
    std::string why;
    const auto access = venue::ReadVenueFile(cx.VenueFile, &why);
    if (!access)
        return Failed(cx, why);
    venue::RoomClient client(*access);
    if (!client.Connect(why))
        return Failed(cx, why);
    const auto state = client.State(room);
    if (!state || !state->value("online", false))
        return Failed(cx, "room " + room + " is " + (state ? "offline" : "not known to the broker"));
    if (op == "take-over" && state->contains("tuner") && cx.Terminal) {
        // Taking a room from someone tuning it is asked, and the agent records it.
        const venue::Json& t = (*state)["tuner"];
        cx.Say("Room %s is being tuned by %s since %s. Take it over? [y/N] ", room.c_str(),
               t.value("user", std::string()).c_str(), t.value("since", std::string()).c_str());
        char answer[16] = {};
        if (!std::fgets(answer, sizeof answer, cx.In) || (answer[0] != 'y' && answer[0] != 'Y'))
            return ExitFailed;
    }
    const auto answer = client.Call(room, {{"op", op}}, why);
    if (!answer)
        return Failed(cx, why);
    if (answer->contains("refused"))
        return Failed(cx, "room " + room + " refused the request: " + answer->value("refused", std::string()));
    const std::string from = answer->value("from", std::string());
    if (op == "take-over")
        cx.Print("%s\n", from.empty() || from == access->User ? ("you hold room " + room).c_str()
                                                               : ("you hold room " + room + ", taken over from " + from).c_str());
    return ExitOk;
}

int Broker(Context& cx, const Arguments& a)
{
    if (a.Free.size() != 2)
        return Refuse(cx, a, "venue broker needs one folder");
    if (venue::VenueSite(a.Free[1]).empty())
        return Failed(cx, a.Free[1] + " holds no venue (see 'ktvtune-cli venue init')");
    const std::string conf = venue::BrokerConfig(a.Free[1]);
    std::fflush(cx.Out);
    std::fflush(cx.Err);
    // The broker in this process's place: Ctrl+C and signals reach it directly.
    execlp("mosquitto", "mosquitto", "-c", conf.c_str(), static_cast<char*>(nullptr));
    return Failed(cx, "mosquitto is not installed (scripts/deps.sh installs it)");
}

} // namespace

extern const Command VenueCommand{
    .Name = "venue",
    .Summaries = {"set up a venue (init, add-user, remove-user, broker, demo) or list its rooms"},
    .MoreOptions = true,
    .Options = {Free("ACTION"), Free("ARGS", Synopsis | Optional),
                {nullptr, "--host", "NAME", Table, "init: a name or address of the broker (repeatable)"},
                {nullptr, "--port", "N", Table, "init: the broker's TLS port (default 8883)"},
                {nullptr, "--bind", "ADDRESS", Table, "init: listen on this address only"},
                {nullptr, "--site", "NAME", Table, "init: the venue's site name (default main)"},
                {nullptr, "--user", "NAME", Table, "init: the first technician (default technician)"},
                {nullptr, "--role", "ROLE", Table, "add-user: technician, staff or agent"},
                {nullptr, "--room", "ROOM", Table, "add-user: an agent's room, or the one room of a staff user"},
                {nullptr, "--mic", "N", Table, "limits: the highest mic volume staff may set"},
                {nullptr, "--music", "N", Table, "limits: the highest music volume staff may set"},
                {nullptr, "--effect", "N", Table, "limits: the highest effect volume staff may set"},
                {nullptr, "--rooms", "N", Table, "demo: how many rooms (default 3)"}},
    .Description = R"(Sets up a venue, where every room's box is reached through one broker.
ACTION is one of:
  venue init DIR [--host NAME]... [--port N]
                          a venue folder: its certificate authority, the
                          broker's certificate and configuration (TLS only,
                          passwords, ACL) and a first technician
  venue add-user DIR NAME --role technician|staff|agent [--room ROOM]
                          a user, and DIR/users/NAME.venue, the one file
                          that person or agent needs
  venue remove-user DIR NAME
  venue broker DIR        runs the venue's broker (mosquitto) in the foreground
  venue list              with --venue FILE: every room, online or not, its
                          box, its tuner, its last change, its preset and,
                          if any, a whole change its agent did not finish
  venue limits [--mic N] [--music N] [--effect N]
                          with --venue FILE --room ROOM: the highest master
                          volumes staff may set in that room (a technician)
  venue take-over, venue release
                          with --venue FILE --room ROOM: take the room from the
                          technician tuning it (asked, and recorded), or let
                          it go; a hold also lapses after a set idle time
  venue demo [--rooms N]  a private venue with a broker and N agents on
                          virtual boxes, until Ctrl+C
)",
    .Run = [](Context& cx, const Arguments& a) {
        const std::string what = a.Free.empty() ? "" : a.Free[0];
        if (what == "init")
            return Init(cx, a);
        if (what == "add-user")
            return AddUser(cx, a);
        if (what == "remove-user")
            return RemoveUser(cx, a);
        if (what == "broker")
            return Broker(cx, a);
        if (what == "list")
            return VenueList(cx, a);
        if (what == "limits")
            return Limits(cx, a);
        if (what == "take-over" || what == "release")
            return Hold(cx, a, what);
        if (what == "demo")
            return VenueDemo(cx, a);
        return Refuse(cx, a, what.empty() ? "venue needs what to do" : "no venue command '" + what + "'");
    },
};

} // namespace ktv::cli
