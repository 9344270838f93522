// Faults between the laptop, the broker and the agents: each ends in bounded
// time with every box holding a known, reported state and nothing applied twice.

#include "../e2e/CliTestSupport.h"
#include "VenueHarness.h"

#include "protocol/CommandTable.h"

#include <sstream>

namespace ktv::venuetest {
namespace {

using namespace std::chrono_literals;

class VenueFault : public Venue {
protected:
    void SetUp() override
    {
        Venue::SetUp();
        InitVenue();
        StartBroker();
    }
    std::vector<Bytes> Payloads(const std::string& box)
    {
        std::vector<Bytes> payloads;
        for (const Bytes& frame : LoggedRequests(ReadText(BoxLog(box))))
            payloads.push_back(PayloadOf(frame));
        return payloads;
    }
    static long Count(const std::vector<Bytes>& payloads, std::uint8_t code)
    {
        return std::count_if(payloads.begin(), payloads.end(), [&](const Bytes& p) { return p.at(0) == code; });
    }
    bool AllOnline(const std::vector<std::string>& rooms)
    {
        const Outcome r = Cli({"--venue", Tech(), "venue", "list"});
        for (const std::string& room : rooms)
            if (r.Out.find(room + "\tonline\t") == std::string::npos)
                return false;
        return true;
    }
};

TEST_F(VenueFault, TheBrokerKilledAndRestartedDuringAWriteToSeveralRooms)
{
    const std::vector<std::string> rooms = {"R1", "R2", "R3"};
    for (const std::string& room : rooms) {
        StartBox(room);
        StartAgent(room, room);
        ASSERT_EQ(On(Tech(), room, {"read", "-o", File(room + "-before.dap")}).Status, 0);
    }
    const std::string preset = WritePreset(File("house.dap"), 7);
    const pid_t write = Spawn({KTV_CLI_EXE, "--venue", Tech(), "--room", "R*", "write", preset}, File("w.out"),
                              File("w.err"));
    started.push_back(write);
    std::this_thread::sleep_for(120ms);
    StopBroker(SIGKILL);
    const auto start = Clock::now();
    const int status = WaitFor(write, 30s);
    EXPECT_NE(status, -1) << "the write hung";
    EXPECT_LT(Clock::now() - start, 20s);
    const std::string report = ReadText(File("w.out"));

    // The broker returns; the agents find it by themselves and say where they are.
    StartBroker();
    const auto back = Clock::now();
    while (!AllOnline(rooms) && Clock::now() - back < 30s)
        std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(AllOnline(rooms)) << ReadText(AgentLog("R1"));

    for (const std::string& room : rooms) {
        // Each box holds either the whole preset or its state from before, and
        // was written at most once.
        const Outcome now = On(Tech(), room, {"read", "-o", File(room + "-after.dap")});
        ASSERT_EQ(now.Status, 0) << now.Err;
        const Bytes after = ReadBytes(File(room + "-after.dap"));
        const bool written = after != ReadBytes(File(room + "-before.dap"));
        EXPECT_LE(Count(Payloads(room), 0x01), 1) << room;
        EXPECT_EQ(Count(Payloads(room), 0x01), written ? 1 : 0) << room;
        // What the command said of the room is what happened, or it said it did not hear back.
        const bool saidOk = report.find(room + "\tWrite dsp ok!") != std::string::npos;
        EXPECT_TRUE(!saidOk || written) << room << ": " << report;
        // And the room's state on the broker tells who wrote it last.
        const Outcome list = Cli({"--venue", Tech(), "--room", room, "venue", "list"});
        EXPECT_EQ(list.Out.find("\ttechnician ") != std::string::npos, written) << list.Out;
    }
}

TEST_F(VenueFault, AnAgentKilledDuringAWholeWriteLeavesTheStateFromBeforeInItsJournal)
{
    StartBox("r1");
    const pid_t agent = StartAgent("R1", "r1");
    ASSERT_EQ(On(Tech(), "R1", {"read", "-o", File("before.dap")}).Status, 0);
    const pid_t write = Spawn({KTV_CLI_EXE, "--venue", Tech(), "--room", "R1", "write", WritePreset(File("a.dap"), 2)},
                              File("w.out"), File("w.err"));
    started.push_back(write);
    // Once the preset has begun to reach the box (its first System command), the agent dies.
    for (int i = 0; i < 2000 && Count(Payloads("r1"), 0x01) < 1; ++i)
        std::this_thread::sleep_for(1ms);
    kill(agent, SIGKILL);
    ASSERT_EQ(Count(Payloads("r1"), 0x01), 1);
    const int status = WaitFor(write, 30s);
    EXPECT_NE(status, -1) << "the write hung";
    // Less than the whole preset reached the box: its Link off never came.
    const std::vector<Bytes> sent = Payloads("r1");
    ASSERT_NE(sent.back(), (Bytes{0x2A, 0}));
    // The write's requests that reached the box, by name.
    std::vector<std::string> reached;
    for (const Bytes& p : sent)
        if (p.at(0) != 0x2A && p.at(0) < 0x80)
            reached.push_back(CommandName(p.at(0)));

    // A new agent says the write was cut short, by whom and when, and where the state before is.
    StartAgent("R1", "r1");
    const std::string said = "write by technician at ";
    const std::string rest = " interrupted: the box may hold part of it; the state before is journal entry 1"
                             "; sent to the box before the agent stopped: ";
    const Outcome list = Cli({"--venue", Tech(), "venue", "list"});
    ASSERT_EQ(list.Status, 0) << list.Err;
    EXPECT_NE(list.Out.find("\t" + said), std::string::npos) << list.Out;
    ASSERT_NE(list.Out.find(rest), std::string::npos) << list.Out;
    // It names what the box got, and at most the one request it was sending as the agent died.
    std::vector<std::string> named;
    std::istringstream names(list.Out.substr(list.Out.find(rest) + rest.size()));
    for (std::string name; std::getline(names, name, ',');)
        named.push_back(name.substr(name.find_first_not_of(' '), name.find_last_not_of(" \n") + 1 - name.find_first_not_of(' ')));
    ASSERT_GE(named.size(), reached.size()) << list.Out;
    EXPECT_LE(named.size(), reached.size() + 1) << list.Out;
    EXPECT_TRUE(std::equal(reached.begin(), reached.end(), named.begin())) << list.Out;
    const Outcome history = On(Tech(), "R1", {"history"});
    ASSERT_EQ(history.Status, 0) << history.Err;
    EXPECT_TRUE(history.Out.starts_with("1\t")) << history.Out;
    EXPECT_NE(history.Err.find("room R1: " + said), std::string::npos) << history.Err;
    EXPECT_NE(history.Err.find(rest), std::string::npos) << history.Err;
    // The journal holds the state from before, and restore puts it back.
    const Outcome restore = On(Tech(), "R1", {"restore", "1"});
    EXPECT_EQ(restore.Status, 0) << restore.Err;
    ASSERT_EQ(On(Tech(), "R1", {"read", "-o", File("after.dap")}).Status, 0);
    EXPECT_EQ(ReadBytes(File("after.dap")), ReadBytes(File("before.dap")));
    // That whole change clears the report.
    EXPECT_EQ(Cli({"--venue", Tech(), "venue", "list"}).Out.find(" interrupted"), std::string::npos);
    EXPECT_EQ(On(Tech(), "R1", {"history"}).Err.find(" interrupted"), std::string::npos);
}

TEST_F(VenueFault, AnInterruptedWholeChangeIsPublishedOnTheAuditTopicWhenTheAgentReturns)
{
    StartBox("r1");
    const pid_t agent = StartAgent("R1", "r1");
    const pid_t write = Spawn({KTV_CLI_EXE, "--venue", Tech(), "--room", "R1", "write", WritePreset(File("a.dap"), 3)},
                              File("w.out"), File("w.err"));
    started.push_back(write);
    for (int i = 0; i < 2000 && Count(Payloads("r1"), 0x01) < 1; ++i)
        std::this_thread::sleep_for(1ms);
    kill(agent, SIGKILL);
    EXPECT_NE(WaitFor(write, 30s), -1);

    std::vector<std::string> sub = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V", "mqttv5",
                                    "-t", "ktv/main/R1/audit", "-C", "1", "-W", "15"};
    const auto login = Login(Tech());
    sub.insert(sub.end(), login.begin(), login.end());
    const pid_t listener = Spawn(sub, File("audit.out"), File("audit.err"));
    started.push_back(listener);
    std::this_thread::sleep_for(300ms);
    StartAgent("R1", "r1");
    EXPECT_EQ(WaitFor(listener, 20s), 0) << ReadText(File("audit.err"));
    const nlohmann::json change = nlohmann::json::parse(ReadText(File("audit.out")));
    EXPECT_EQ(change["user"], "technician");
    EXPECT_EQ(change["role"], "technician");
    EXPECT_TRUE(std::string(change["client"]).starts_with("cli-"));
    EXPECT_EQ(change["interrupted"], true);
    const std::string what = change["what"];
    EXPECT_TRUE(what.starts_with("write by technician at ")) << what;
    EXPECT_NE(what.find(" interrupted: the box may hold part of it; the state before is journal entry 1"
                        "; sent to the box before the agent stopped: System"),
              std::string::npos)
        << what;
}

TEST_F(VenueFault, AClientThatNeverReadsHoldsNobodyUp)
{
    StartBox("r1");
    StartAgent("R1", "r1");
    // A technician's client subscribed to every state and its answers, then frozen.
    std::vector<std::string> sub = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V", "mqttv5",
                                    "-t", "ktv/main/#", "-t", "ktv/main/+/reply/technician/#"};
    const auto login = Login(Tech());
    sub.insert(sub.end(), login.begin(), login.end());
    const pid_t stuck = Spawn(sub, File("stuck.out"), File("stuck.err"));
    started.push_back(stuck);
    std::this_thread::sleep_for(300ms);
    kill(stuck, SIGSTOP);
    const std::string a = WritePreset(File("a.dap"), 1), b = WritePreset(File("b.dap"), 2);
    for (int i = 0; i < 10; ++i) {
        const Outcome r = On(Tech(), "R1", {"write", i % 2 ? a : b});
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_LT(r.Took, 5s);
    }
    EXPECT_EQ(Count(Payloads("r1"), 0x01), 10);
    kill(stuck, SIGCONT);
}

} // namespace
} // namespace ktv::venuetest
