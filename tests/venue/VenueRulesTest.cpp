// The venue's rules at the agent: roles checked by command code (staff may
// set the master volumes within the room's limits and recall slots, nothing
// else), refusals that say why and send nothing to the box, whole changes
// carried out beside the box with the journal naming who made them, and a
// request delivered twice carried out once.

#include "../e2e/CliTestSupport.h"
#include "VenueHarness.h"

#include "device/HidPlatform.h"

namespace ktv::venuetest {
namespace {

using namespace std::chrono_literals;

// A box request as an agent's exchange request carries it.
std::string ReportHex(std::initializer_list<std::uint8_t> payload)
{
    Report report{};
    const std::vector<std::uint8_t> bytes(payload);
    PutFrame(report, 1, bytes.data(), bytes.size());
    std::string hex;
    for (std::uint8_t b : report) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

class VenueRules : public Venue {
protected:
    void SetUp() override
    {
        Venue::SetUp();
        InitVenue();
        staff = AddUser("staff1", "staff");
        StartBroker();
        StartBox("r1");
        StartAgent("R1", "r1");
    }

    std::vector<Bytes> Requests() { return LoggedRequests(ReadText(BoxLog("r1"))); }
    // The payloads the box received since `from` requests.
    std::vector<Bytes> PayloadsSince(std::size_t from)
    {
        std::vector<Bytes> payloads;
        const std::vector<Bytes> all = Requests();
        for (std::size_t i = from; i < all.size(); ++i)
            payloads.push_back(PayloadOf(all[i]));
        return payloads;
    }
    static bool Has(const std::vector<Bytes>& payloads, std::uint8_t code)
    {
        return std::any_of(payloads.begin(), payloads.end(), [&](const Bytes& p) { return p.at(0) == code; });
    }

    std::string staff;
};

TEST_F(VenueRules, StaffSetsVolumesWithinTheLimitsAndRecallsNothingElseReachesTheBox)
{
    // The technician sets the room's limits; staff may not.
    Outcome r = On(Tech(), "R1", {"venue", "limits", "--mic", "40", "--music", "50", "--effect", "60"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "mic\t40\nmusic\t50\neffect\t60\n");
    r = On(staff, "R1", {"venue", "limits", "--music", "255"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("only a technician sets the staff's volume limits"), std::string::npos) << r.Err;

    const std::string preset = WritePreset(File("a.dap"), 1);
    struct Refused {
        std::vector<std::string> args;
        const char* why;
        bool reachesBox; // the command links to (and reads) the box before its refused change
    } refused[] = {
        {{"write", preset}, "staff may change only the master volumes and recall slots, not write", false},
        {{"restore", "1"}, "staff may change only the master volumes and recall slots, not restore", false},
        {{"store", "2"}, "staff may change only the master volumes and recall slots, not FactoryMode", true},
        {{"volume", "--music", "51"}, "staff may set the music volume up to 50 in this room, not 51", true},
        {{"volume", "--mic", "41", "--music", "10"}, "staff may set the mic volume up to 40 in this room, not 41",
         true},
    };
    for (const Refused& c : refused) {
        const std::size_t before = Requests().size();
        r = On(staff, "R1", c.args);
        EXPECT_EQ(r.Status, 1) << c.args[0];
        EXPECT_NE(r.Err.find(std::string("refused the request: ") + c.why + " (nothing was sent to the box)"),
                  std::string::npos)
            << r.Err;
        // Reads and the link, never a change.
        for (const Bytes& p : PayloadsSince(before))
            EXPECT_TRUE(p[0] == 0x2A || p[0] == 0x81 || p[0] == 0x82 || p[0] == 0xA0) << c.args[0] << ": " << int(p[0]);
        if (!c.reachesBox) {
            EXPECT_EQ(Requests().size(), before) << c.args[0];
        }
    }

    // Within the limits: the one MasterVolume request, the other volumes as the box held them.
    std::size_t before = Requests().size();
    r = On(staff, "R1", {"volume", "--music", "50"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::vector<Bytes> sent = PayloadsSince(before);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[sent.size() - 2], (Bytes{0x1F, 0, 50, 0}));
    r = On(staff, "R1", {"volume"});
    EXPECT_EQ(r.Out, "mic\t0\nmusic\t50\neffect\t0\n");

    // Recalling a slot is staff's too, carried out whole at the agent.
    before = Requests().size();
    r = On(staff, "R1", {"recall", "2"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    sent = PayloadsSince(before);
    EXPECT_TRUE(Has(sent, 0x28));
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const Bytes& p) { return p[0] == 0x28; }), 1);
    EXPECT_EQ(sent[sent.size() - 11], (Bytes{0x28, 2, 2}));
}

TEST_F(VenueRules, ForgedTopicsAndForgedRequestsGainNothing)
{
    const auto login = Login(staff);
    const std::size_t before = Requests().size();
    // Under the technician's topic: the broker drops it (no answer, nothing at the box).
    const std::string store = R"({"id":"f1","client":"c1","op":"exchange","report":")";
    const std::string hex = ReportHex({0x28, 1, 3});
    EXPECT_EQ(Pub(login, "ktv/main/R1/req/technician/technician", store + hex + "\"}").Status, 0);
    EXPECT_EQ(Pub(login, "ktv/main/R1/req/technician/staff1", store + hex + "\"}").Status, 0);
    // Under its own topic, a whole write by hand: the agent refuses it by role.
    EXPECT_EQ(Pub(login, "ktv/main/R1/req/staff/staff1", R"({"id":"f2","client":"c1","op":"write","dap":"00"})").Status,
              0);
    // And a store slipped in as a raw box request.
    EXPECT_EQ(Pub(login, "ktv/main/R1/req/staff/staff1", store + hex + "\"}").Status, 0);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Requests().size(), before);
    EXPECT_NE(ReadText(AgentLog("R1")).find("online"), std::string::npos);
}

TEST_F(VenueRules, WholeChangesAreJournalledWithTheirUserAndRestorable)
{
    const std::string a = WritePreset(File("a.dap"), 1), b = WritePreset(File("b.dap"), 2);
    ASSERT_EQ(On(Tech(), "R1", {"write", a}).Status, 0);
    ASSERT_EQ(On(Tech(), "R1", {"read", "-o", File("after-a.dap")}).Status, 0);
    ASSERT_EQ(On(Tech(), "R1", {"write", b}).Status, 0);
    // The technician lets the room go, so that staff may recall a slot.
    ASSERT_EQ(On(Tech(), "R1", {"venue", "release"}).Status, 0);
    ASSERT_EQ(On(staff, "R1", {"recall", "4"}).Status, 0);

    Outcome h = On(staff, "R1", {"history"});
    ASSERT_EQ(h.Status, 0) << h.Err;
    std::vector<std::string> lines;
    std::istringstream in(h.Out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << h.Out;
    // Newest first: number, time, what (with what changed), who.
    EXPECT_TRUE(lines[0].starts_with("1\t")) << lines[0];
    EXPECT_NE(lines[0].find("\trecall 4"), std::string::npos) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("\tstaff1")) << lines[0];
    EXPECT_NE(lines[1].find("\twrite: "), std::string::npos) << lines[1];
    EXPECT_TRUE(lines[1].ends_with("\ttechnician")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("\ttechnician")) << lines[2];

    // Restoring the state from before b's write puts a's settings back.
    const std::size_t before = Requests().size();
    Outcome r = On(Tech(), "R1", {"restore", "2"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find("Write dsp ok!"), std::string::npos);
    ASSERT_EQ(On(Tech(), "R1", {"read", "-o", File("restored.dap")}).Status, 0);
    EXPECT_EQ(ReadBytes(File("restored.dap")), ReadBytes(File("after-a.dap")));
    // Read (9), write (9) between Link on and off: one whole change.
    EXPECT_EQ(PayloadsSince(before).front(), (Bytes{0x2A, 1}));
    r = On(Tech(), "R1", {"restore", "9"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("the box has 4 saved states, no 9"), std::string::npos) << r.Err;
}

TEST_F(VenueRules, AnImportIsOneWholeChangeJournalledAtTheAgentWithItsUser)
{
    const std::string filters = File("room.txt");
    WriteText(filters, "Preamp: -3.0 dB\n"
                       "Filter 1: ON PK Fc 250 Hz Gain -4.0 dB Q 2.00\n"
                       "Filter 2: ON PK Fc 3000 Hz Gain 3.5 dB Q 1.00\n");
    ASSERT_EQ(On(Tech(), "R1", {"read", "-o", File("before.dap")}).Status, 0);

    // Staff may not import: refused with why, and nothing reaches the box.
    std::size_t before = Requests().size();
    Outcome r = On(staff, "R1", {"import", filters, "--channel", "MUSIC"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("refused the request: staff may change only the master volumes and recall slots, not import"),
              std::string::npos) << r.Err;
    EXPECT_EQ(Requests().size(), before);

    before = Requests().size();
    r = On(Tech(), "R1", {"import", filters, "--channel", "MUSIC"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find("Connect:ok!"), std::string::npos) << r.Err;
    const std::vector<Bytes> remote = PayloadsSince(before);
    // The state before is kept by the agent, not in the laptop's own journal.
    EXPECT_FALSE(fs::exists(root + "/data/ktvtune/journal"));
    const Outcome h = On(Tech(), "R1", {"history"});
    ASSERT_EQ(h.Status, 0) << h.Err;
    EXPECT_TRUE(h.Out.starts_with("1\t")) << h.Out;
    EXPECT_NE(h.Out.find("\timport MUSIC: "), std::string::npos) << h.Out;
    EXPECT_TRUE(h.Out.ends_with("\ttechnician\n")) << h.Out;
    EXPECT_EQ(std::count(h.Out.begin(), h.Out.end(), '\n'), 1) << h.Out;

    // The room's box got what a box given the same import over USB gets: Link
    // on, the read of its state, the channel's bands, Link off.
    StartBox("usb");
    const Outcome usb = Cli({"--device", BoxPath("usb"), "import", filters, "--channel", "MUSIC"});
    ASSERT_EQ(usb.Status, 0) << usb.Err;
    std::vector<Bytes> local;
    for (const Bytes& frame : LoggedRequests(ReadText(BoxLog("usb"))))
        local.push_back(PayloadOf(frame));
    EXPECT_TRUE(Has(local, 0x20));
    EXPECT_EQ(remote, local);

    // Restoring that journal entry puts the room's bands back.
    r = On(Tech(), "R1", {"restore", "1"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(On(Tech(), "R1", {"read", "-o", File("after.dap")}).Status, 0);
    EXPECT_EQ(ReadBytes(File("after.dap")), ReadBytes(File("before.dap")));
}

TEST_F(VenueRules, EveryChangeIsPublishedWithWhoWhenFromWhereAndWhat)
{
    const auto login = Login(staff);
    std::vector<std::string> sub = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V", "mqttv5",
                                    "-t", "ktv/main/R1/audit", "-C", "2", "-W", "10"};
    sub.insert(sub.end(), login.begin(), login.end());
    const pid_t listener = Spawn(sub, File("audit.out"), File("audit.err"));
    started.push_back(listener);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(On(Tech(), "R1", {"write", WritePreset(File("a.dap"), 1)}).Status, 0);
    ASSERT_EQ(On(Tech(), "R1", {"store", "5"}).Status, 0);
    EXPECT_EQ(WaitFor(listener, 15s), 0) << ReadText(File("audit.err"));
    std::vector<nlohmann::json> changes;
    std::istringstream in(ReadText(File("audit.out")));
    for (std::string line; std::getline(in, line);)
        changes.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0]["user"], "technician");
    EXPECT_EQ(changes[0]["role"], "technician");
    EXPECT_TRUE(std::string(changes[0]["client"]).starts_with("cli-"));
    EXPECT_TRUE(std::string(changes[0]["what"]).starts_with("write: ")) << changes[0];
    EXPECT_EQ(std::string(changes[0]["when"]).size(), 19u);
    EXPECT_EQ(changes[1]["what"], "FactoryMode");
}

TEST_F(VenueRules, ARequestDeliveredTwiceIsCarriedOutOnceAndAnsweredTwice)
{
    const auto login = Login(Tech());
    std::vector<std::string> sub = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V", "mqttv5",
                                    "-t", "ktv/main/R1/reply/technician/dup", "-C", "2", "-W", "10"};
    sub.insert(sub.end(), login.begin(), login.end());
    const pid_t listener = Spawn(sub, File("sub.out"), File("sub.err"));
    started.push_back(listener);
    std::this_thread::sleep_for(300ms);

    const std::size_t before = Requests().size();
    const std::string request = R"({"id":"once-1","client":"dup","op":"recall","slot":3})";
    EXPECT_EQ(Pub(login, "ktv/main/R1/req/technician/technician", request).Status, 0);
    EXPECT_EQ(Pub(login, "ktv/main/R1/req/technician/technician", request).Status, 0);
    EXPECT_EQ(WaitFor(listener, 15s), 0) << ReadText(File("sub.err"));
    std::vector<std::string> answers;
    std::istringstream in(ReadText(File("sub.out")));
    for (std::string line; std::getline(in, line);)
        answers.push_back(line);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], answers[1]);
    const std::vector<Bytes> sent = PayloadsSince(before);
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const Bytes& p) { return p[0] == 0x28; }), 1);
}

TEST_F(VenueRules, AFloodFromOneUserDoesNotKeepOthersWaiting)
{
    // A hundred slot recalls from staff, each some 200 ms at the box, sent as
    // fast as the broker takes them: served one after the other they would
    // keep the agent busy for 20 s.
    std::string lines;
    for (int i = 0; i < 100; ++i)
        lines += R"({"id":"flood-)" + std::to_string(i) + R"(","client":"c1","op":"recall","slot":1})" "\n";
    WriteText(File("flood.txt"), lines);
    auto args = std::vector<std::string>{"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V",
                                         "mqttv5", "-t", "ktv/main/R1/req/staff/staff1", "-l"};
    const auto login = Login(staff);
    args.insert(args.end(), login.begin(), login.end());
    // mosquitto_pub -l reads the lines from its input.
    const pid_t flood = fork();
    if (flood == 0) {
        const int f = open(File("flood.txt").c_str(), O_RDONLY);
        dup2(f, 0);
        std::vector<char*> argv;
        for (const std::string& s : args)
            argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    started.push_back(flood);
    std::this_thread::sleep_for(300ms);
    // The technician's three requests (Link on, the store, Link off) each wait for one recall at most.
    const Outcome r = On(Tech(), "R1", {"store", "1"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_LT(r.Took, 4s);
    EXPECT_EQ(WaitFor(flood, 20s), 0);
}

} // namespace
} // namespace ktv::venuetest

namespace ktv::venuetest {
namespace {

class VenueHold : public VenueRules {};

TEST_F(VenueHold, OneTechnicianTunesARoomOthersReadTakeOverIsRecordedAndTheHoldLapses)
{
    const std::string other = AddUser("tech2", "technician");
    const std::string a = WritePreset(File("a.dap"), 1);
    ASSERT_EQ(On(Tech(), "R1", {"write", a}).Status, 0);

    // Everyone sees who tunes the room and since when.
    Outcome r = Cli({"--venue", other, "venue", "list"});
    EXPECT_NE(r.Out.find("\ttechnician since 20"), std::string::npos) << r.Out;

    // Another technician reads but does not write; nothing reaches the box.
    std::size_t before = Requests().size();
    r = On(other, "R1", {"write", a});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("room R1 is being tuned by technician since "), std::string::npos) << r.Err;
    EXPECT_EQ(Requests().size(), before);
    r = On(other, "R1", {"store", "2"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_FALSE(Has(PayloadsSince(before), 0x28));
    EXPECT_EQ(On(other, "R1", {"read", "-o", File("r.dap")}).Status, 0);
    // The room stays in use: staff still set its volumes, but do not recall.
    EXPECT_EQ(On(staff, "R1", {"volume", "--music", "30"}).Status, 0);
    EXPECT_EQ(On(staff, "R1", {"recall", "1"}).Status, 1);

    // A take-over: then the first technician is the one refused.
    r = On(other, "R1", {"venue", "take-over"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "you hold room R1, taken over from technician\n");
    EXPECT_EQ(On(other, "R1", {"write", a}).Status, 0);
    r = On(Tech(), "R1", {"store", "3"});
    EXPECT_NE(r.Err.find("being tuned by tech2"), std::string::npos) << r.Err;
    // The journal of changes keeps the take-over.
    EXPECT_NE(ReadText(root + "/data/ktvtune/venue/main/R1/changes.jsonl").find("took the room over from technician"),
              std::string::npos);

    // Released, the room is free again.
    EXPECT_EQ(On(other, "R1", {"venue", "release"}).Status, 0);
    EXPECT_EQ(On(Tech(), "R1", {"store", "3"}).Status, 0);
}

TEST_F(VenueHold, AHoldLapsesAfterItsIdleTime)
{
    StartBox("r2");
    AddUser("agent-R2", "agent", "R2");
    const pid_t agent = Spawn({KTV_AGENT_EXE, "--venue", dir + "/users/agent-R2.venue", "--room", "R2", "--device",
                               BoxPath("r2"), "--hold-idle", "1"},
                              File("agent-R2.out"), AgentLog("R2"));
    started.push_back(agent);
    for (int i = 0; i < 500 && ReadText(AgentLog("R2")).find("online") == std::string::npos; ++i)
        std::this_thread::sleep_for(10ms);
    const std::string other = AddUser("tech2", "technician");
    ASSERT_EQ(On(Tech(), "R2", {"store", "1"}).Status, 0);
    EXPECT_EQ(On(other, "R2", {"store", "1"}).Status, 1);
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(On(other, "R2", {"store", "1"}).Status, 0);
}

} // namespace
} // namespace ktv::venuetest
