// venue demo as a user meets it first: the private venue it starts, then
// venue list, a preset to every room by pattern, history, restore, and a
// staff user's refused band write and allowed volume change; Ctrl+C (here
// SIGTERM) stops and removes everything.

#include "../e2e/CliTestSupport.h"
#include "VenueHarness.h"

namespace ktv::venuetest {
namespace {

using namespace std::chrono_literals;

class VenueDemo : public Venue {};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string After(const std::string& text, const std::string& prefix)
{
    for (const std::string& line : Lines(text))
        if (line.starts_with(prefix))
            return line.substr(prefix.size());
    return {};
}

TEST_F(VenueDemo, ThreeRoomsFromOneLaptop)
{
    const pid_t demo = Spawn({KTV_CLI_EXE, "venue", "demo", "--rooms", "3"}, File("demo.out"), File("demo.err"));
    started.push_back(demo);
    for (int i = 0; i < 1500 && ReadText(File("demo.out")).find("Ctrl+C") == std::string::npos; ++i)
        std::this_thread::sleep_for(10ms);
    const std::string banner = ReadText(File("demo.out"));
    const std::string tech = After(banner, "technician: "), staff = After(banner, "staff: ");
    ASSERT_FALSE(tech.empty()) << banner << ReadText(File("demo.err"));
    const std::string folder = tech.substr(0, tech.find("/venue/users/"));

    Outcome r = Cli({"--venue", tech, "venue", "list"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::vector<std::string> rooms = Lines(r.Out);
    ASSERT_EQ(rooms.size(), 3u) << r.Out;
    for (int n = 0; n < 3; ++n) {
        EXPECT_TRUE(rooms[std::size_t(n)].starts_with("Room" + std::to_string(n + 1) + "\tonline\t")) << rooms[n];
        EXPECT_NE(rooms[std::size_t(n)].find("VID_2B5E&PID_61D3"), std::string::npos);
    }

    const std::string house = WritePreset(File("house.dap"), 5);
    r = On(tech, "Room*", {"write", house});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "Room1\tWrite dsp ok!\nRoom2\tWrite dsp ok!\nRoom3\tWrite dsp ok!\n");
    // Every box holds the preset: each room reads back what a box given it over USB holds.
    r = Cli({"--venue", tech, "venue", "list"});
    for (const std::string& line : Lines(r.Out)) {
        EXPECT_NE(line.find("\ttechnician "), std::string::npos) << line;
        EXPECT_TRUE(line.ends_with("\thouse.dap")) << line;
    }
    std::vector<Bytes> dumps;
    for (const char* room : {"Room1", "Room2", "Room3"}) {
        ASSERT_EQ(On(tech, room, {"read", "-o", File(std::string(room) + ".dap")}).Status, 0);
        dumps.push_back(ReadBytes(File(std::string(room) + ".dap")));
    }
    EXPECT_EQ(dumps[0], dumps[1]);
    EXPECT_EQ(dumps[1], dumps[2]);

    r = On(tech, "Room2", {"history"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(Lines(r.Out).size(), 1u) << r.Out;
    EXPECT_TRUE(Lines(r.Out)[0].ends_with("\ttechnician")) << r.Out;
    r = On(tech, "Room2", {"restore", "1"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(On(tech, "Room2", {"read", "-o", File("restored.dap")}).Status, 0);
    EXPECT_NE(ReadBytes(File("restored.dap")), dumps[1]); // the factory state again

    r = On(staff, "Room3", {"write", house});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("staff may change only the master volumes and recall slots"), std::string::npos) << r.Err;
    r = On(staff, "Room3", {"volume", "--music", "40"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(On(staff, "Room3", {"volume"}).Out, "mic\t0\nmusic\t40\neffect\t0\n");

    kill(demo, SIGTERM);
    EXPECT_EQ(WaitFor(demo, 15s), 0);
    started.clear();
    EXPECT_FALSE(fs::exists(folder)) << folder;
}

TEST_F(VenueDemo, APatternReportsEveryRoomAndFailsIfAnyFailed)
{
    InitVenue();
    StartBroker();
    StartBox("vip1");
    StartBox("vip2");
    StartAgent("VIP1", "vip1");
    const pid_t gone = StartAgent("VIP2", "vip2");
    StartBox("hall");
    StartAgent("Hall", "hall");
    kill(gone, SIGTERM); // a clean stop: offline at once
    WaitFor(gone, 10s);

    Outcome r = On(Tech(), "VIP*", {"recall", "2"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "VIP1\tReset factory mode Ok!\nVIP2\troom VIP2 is offline\n") << r.Err;
    r = On(Tech(), "Nothing*", {"write", WritePreset(File("a.dap"), 1)});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("no room matches 'Nothing*'"), std::string::npos);
    r = On(Tech(), "VIP*", {"store", "2"});
    EXPECT_EQ(r.Status, 2);
    r = Cli({"--venue", Tech(), "--room", "VIP*", "venue", "list"});
    EXPECT_EQ(Lines(r.Out).size(), 2u);
    EXPECT_TRUE(Lines(r.Out)[1].starts_with("VIP2\toffline\t")) << r.Out;
}

} // namespace
} // namespace ktv::venuetest
