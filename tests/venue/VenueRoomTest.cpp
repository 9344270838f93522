// The CLI on a room through its agent, as over USB: the same requests reach
// the box byte for byte, the same output and exit status come back; rooms
// that are offline, silent or without their box end a command with a clear
// error in bounded time.

#include "../e2e/CliTestSupport.h"
#include "VenueHarness.h"

namespace ktv::venuetest {
namespace {

using namespace std::chrono_literals;

class VenueRoom : public Venue {
protected:
    void SetUp() override
    {
        Venue::SetUp();
        InitVenue();
        StartBroker();
    }

    std::vector<Bytes> Requests(const std::string& box) { return LoggedRequests(ReadText(BoxLog(box))); }
};

TEST_F(VenueRoom, EveryBoxCommandThroughTheAgentIsTheUsbOne)
{
    // One box on "USB" (its socket, straight), one behind the agent of R1.
    StartBox("usb");
    StartBox("r1");
    StartAgent("R1", "r1");
    const std::string preset = WritePreset(File("a.dap"), 3);

    struct Case {
        std::vector<std::string> args; // "OUT" becomes a file of the run's own
    } cases[] = {
        {{"write", preset}}, {{"read", "-o", "OUT"}}, {{"store", "3"}},   {{"recall", "3", "-o", "OUT"}},
        {{"dump", "--box"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        auto args = [&](const std::string& where) {
            std::vector<std::string> a = c.args;
            for (std::string& w : a)
                if (w == "OUT")
                    w = File(where + std::to_string(n) + ".dap");
            return a;
        };
        const std::size_t usbBefore = Requests("usb").size(), roomBefore = Requests("r1").size();
        std::vector<std::string> usbArgs = {"--device", BoxPath("usb")};
        for (const std::string& w : args("usb"))
            usbArgs.push_back(w);
        const Outcome usb = Cli(usbArgs);
        const Outcome room = On(Tech(), "R1", args("room"));
        const std::string what = c.args.front();
        EXPECT_EQ(room.Status, usb.Status) << what << ": " << room.Err;
        EXPECT_EQ(room.Out, usb.Out) << what;
        EXPECT_EQ(room.Err, usb.Err) << what;
        const std::vector<Bytes> u = Requests("usb"), r = Requests("r1");
        EXPECT_EQ(std::vector<Bytes>(r.begin() + long(roomBefore), r.end()),
                  std::vector<Bytes>(u.begin() + long(usbBefore), u.end()))
            << what;
        if (c.args.back() == "OUT") {
            EXPECT_EQ(ReadBytes(File("room" + std::to_string(n) + ".dap")),
                      ReadBytes(File("usb" + std::to_string(n) + ".dap")))
                << what;
        }
    }
    // And the write put exactly the preset's nine requests on the room's box.
    const std::vector<Bytes> r = Requests("r1");
    const std::vector<Bytes> expected = ExpectedWriteAll(preset);
    ASSERT_GE(r.size(), 20u);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(PayloadOf(r[10 + i]), expected[i]) << "request " << i + 1;
}

TEST_F(VenueRoom, AnUnknownOfflineSilentOrBoxlessRoomEndsWithAClearErrorInBoundedTime)
{
    StartBox("r1");
    const pid_t agent = StartAgent("R1", "r1");

    Outcome r = On(Tech(), "R9", {"read", "-o", File("x.dap")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("no room 'R9' is known to the broker"), std::string::npos) << r.Err;

    // A silent agent: every exchange is bounded, the command ends.
    kill(agent, SIGSTOP);
    r = On(Tech(), "R1", {"store", "2"});
    kill(agent, SIGCONT);
    EXPECT_EQ(r.Status, 1);
    EXPECT_LT(r.Took, 15s);
    EXPECT_NE(r.Err.find("room R1 did not answer within 5 s"), std::string::npos) << r.Err;

    // The box killed at the agent: the agent stays online and says the box is gone.
    kill(started.front(), SIGKILL);
    for (int i = 0; i < 100 && ReadText(AgentLog("R1")).find("box gone") == std::string::npos; ++i)
        std::this_thread::sleep_for(50ms);
    r = On(Tech(), "R1", {"read", "-o", File("x.dap")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("room R1: box gone"), std::string::npos) << r.Err;

    // A box coming back is taken up again.
    StartBox("r1");
    for (int i = 0; i < 100 && (r = On(Tech(), "R1", {"store", "1"})).Status != 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(r.Status, 0) << r.Err;

    // A dead agent: its last will shows the room offline within 15 s.
    kill(agent, SIGKILL);
    const auto start = Clock::now();
    while ((r = On(Tech(), "R1", {"store", "1"})).Err.find("room R1 is offline") == std::string::npos &&
           Clock::now() - start < 20s)
        std::this_thread::sleep_for(250ms);
    EXPECT_NE(r.Err.find("room R1 is offline"), std::string::npos) << r.Err;
    EXPECT_LT(Clock::now() - start, 15s);
    EXPECT_EQ(r.Status, 1);
}

TEST_F(VenueRoom, AWrongPasswordOrNoBrokerEndsTheCommandAtOnce)
{
    auto access = Access(Tech());
    access["password"] = "wrong";
    WriteText(File("bad.venue"), access.dump());
    Outcome r = On(File("bad.venue"), "R1", {"store", "1"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("refused user 'technician'"), std::string::npos) << r.Err;

    StopBroker();
    r = On(Tech(), "R1", {"store", "1"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_LT(r.Took, 10s);
    EXPECT_NE(r.Err.find("no broker answered at 127.0.0.1:" + std::to_string(port)), std::string::npos) << r.Err;
}

} // namespace
} // namespace ktv::venuetest
