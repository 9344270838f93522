// venue init, add-user and remove-user against a real Mosquitto: TLS only,
// passwords, the ACL, and users added and taken away while it runs.

#include "VenueHarness.h"

#include <sys/stat.h>

namespace ktv::venuetest {
namespace {

using namespace std::chrono_literals;

class VenueSetup : public Venue {};

// A subscriber that collects what reaches `topic` for `seconds`.
struct Listener {
    pid_t pid;
    std::string out;
};

TEST_F(VenueSetup, InitWritesATlsOnlyBrokerAndAFirstTechnician)
{
    InitVenue();
    const std::string conf = ReadText(dir + "/broker/mosquitto.conf");
    EXPECT_NE(conf.find("allow_anonymous false"), std::string::npos);
    EXPECT_NE(conf.find("listener " + std::to_string(port) + " 127.0.0.1\n"), std::string::npos);
    // One listener, and it takes TLS.
    std::size_t listeners = 0;
    for (std::size_t at = conf.find("listener "); at != std::string::npos; at = conf.find("listener ", at + 1))
        ++listeners;
    EXPECT_EQ(listeners, 1u);
    for (const char* line : {"cafile ", "certfile ", "keyfile ", "password_file ", "acl_file "})
        EXPECT_NE(conf.find(line), std::string::npos) << line;

    // The broker's certificate names the hosts given, and the venue's CA signed it.
    const Outcome cert = Program({"openssl", "x509", "-in", dir + "/broker/broker.pem", "-noout", "-text"});
    EXPECT_NE(cert.Out.find("IP Address:127.0.0.1"), std::string::npos) << cert.Out;
    EXPECT_NE(cert.Out.find("DNS:localhost"), std::string::npos);
    EXPECT_EQ(Program({"openssl", "verify", "-CAfile", dir + "/ca/ca.pem", dir + "/broker/broker.pem"}).Status, 0);

    // The technician's file: readable by its owner only, carrying the CA.
    const std::string tech = dir + "/users/technician.venue";
    struct stat st{};
    ASSERT_EQ(stat(tech.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto access = Access(tech);
    EXPECT_EQ(access["host"], "127.0.0.1");
    EXPECT_EQ(access["port"], port);
    EXPECT_EQ(access["role"], "technician");
    EXPECT_EQ(access["ca"], ReadText(dir + "/ca/ca.pem"));
    EXPECT_GE(std::string(access["password"]).size(), 20u);

    // A second init over it is refused; bad names and roles are refused.
    EXPECT_EQ(Cli({"venue", "init", dir}).Status, 1);
    struct Case {
        std::vector<std::string> args;
    } refused[] = {
        {{"venue", "add-user", dir, "a/b", "--role", "staff"}},
        {{"venue", "add-user", dir, "x", "--role", "boss"}},
        {{"venue", "add-user", dir, "x", "--role", "agent"}},                 // no room
        {{"venue", "add-user", dir, "x", "--role", "agent", "--room", "R#"}}, // a wildcard in a topic
        {{"venue", "add-user", dir, "technician", "--role", "staff"}},        // taken
        {{"venue", "remove-user", dir, "nobody"}},
    };
    for (const Case& c : refused) {
        const Outcome r = Cli(c.args);
        EXPECT_EQ(r.Status, 1) << c.args[3];
        EXPECT_NE(r.Err.find("ktvtune-cli: "), std::string::npos);
    }
}

TEST_F(VenueSetup, HostileConnectionsAreRefusedAndForgedTopicsDropped)
{
    InitVenue();
    const std::string agent = AddUser("agent-r1", "agent", "R1");
    const std::string staff = AddUser("staff1", "staff");
    const std::string tech = dir + "/users/technician.venue";
    StartBroker();

    // A second venue: its CA is not this broker's.
    const std::string other = root + "/other";
    ASSERT_EQ(Cli({"venue", "init", other, "--host", "127.0.0.1"}).Status, 0);

    // The agent listens to every request of its room.
    std::vector<std::string> sub = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V", "mqttv5",
                                    "-t", "ktv/main/R1/req/#", "-v", "-W", "8"};
    for (const std::string& o : Login(agent))
        sub.push_back(o);
    const pid_t listener = Spawn(sub, File("sub.out"), File("sub.err"));
    started.push_back(listener);
    std::this_thread::sleep_for(500ms);

    const auto techLogin = Login(tech);
    const auto a = Access(tech);
    const std::string pw = a["password"];
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* says;
    } hostile[] = {
        {"no user", {"--cafile", CaFile()}, "ot authori"},
        {"wrong password", {"--cafile", CaFile(), "-u", "technician", "-P", pw + "x"}, "ot authori"},
        {"no password", {"--cafile", CaFile(), "-u", "technician"}, "ot authori"},
        {"plain TCP", {"-u", "technician", "-P", pw}, ""},
        {"another venue's CA", {"--cafile", other + "/ca/ca.pem", "-u", "technician", "-P", pw}, ""},
    };
    for (const Case& c : hostile) {
        const Outcome r = Pub(c.options, "ktv/main/R1/req/technician/technician", std::string("from ") + c.what);
        EXPECT_NE(r.Status, 0) << c.what;
        EXPECT_NE(r.Err.find(c.says), std::string::npos) << c.what << ": " << r.Err;
    }
    // Staff publishing under the technician's topic is dropped by the broker;
    // its own topic goes through, as does the technician's.
    EXPECT_EQ(Pub(Login(staff), "ktv/main/R1/req/technician/technician", "forged").Status, 0);
    EXPECT_EQ(Pub(Login(staff), "ktv/main/R1/req/technician/staff1", "forged2").Status, 0);
    EXPECT_EQ(Pub(Login(staff), "ktv/main/R1/req/staff/staff1", "staff-own").Status, 0);
    EXPECT_EQ(Pub(techLogin, "ktv/main/R1/req/technician/technician", "tech-own").Status, 0);
    // An agent may not speak for another room.
    EXPECT_EQ(Pub(Login(agent), "ktv/main/R2/state", "forged-state").Status, 0);

    std::this_thread::sleep_for(500ms);
    kill(listener, SIGTERM);
    WaitFor(listener, 5s);
    const std::string got = ReadText(File("sub.out"));
    EXPECT_EQ(got, "ktv/main/R1/req/staff/staff1 staff-own\nktv/main/R1/req/technician/technician tech-own\n")
        << ReadText(File("sub.err"));
}

TEST_F(VenueSetup, UsersComeAndGoWhileTheBrokerRunsWithoutDroppingOthers)
{
    InitVenue();
    const std::string tech = dir + "/users/technician.venue";
    StartBroker();

    // A connected technician, listening to room states for the whole test.
    std::vector<std::string> sub = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-V", "mqttv5",
                                    "-t", "ktv/main/+/state", "-C", "2", "-W", "15"};
    for (const std::string& o : Login(tech))
        sub.push_back(o);
    const pid_t listener = Spawn(sub, File("sub.out"), File("sub.err"));
    started.push_back(listener);
    std::this_thread::sleep_for(500ms);

    // Taken up without a restart.
    const std::string agent = AddUser("agent-r1", "agent", "R1");
    Outcome r;
    for (int i = 0; i < 50 && (r = Pub(Login(agent), "ktv/main/R1/state", "first")).Status != 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(r.Status, 0) << r.Err;

    // Taken away: refused from the next connection on.
    const auto login = Login(agent);
    ASSERT_EQ(Cli({"venue", "remove-user", dir, "agent-r1"}).Status, 0);
    EXPECT_FALSE(fs::exists(agent));
    for (int i = 0; i < 50 && (r = Pub(login, "ktv/main/R1/state", "late")).Status == 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Err.find("ot authori"), std::string::npos) << r.Err;

    // The technician stayed connected through both reloads.
    const std::string agent2 = AddUser("agent-r2", "agent", "R2");
    for (int i = 0; i < 50 && (r = Pub(Login(agent2), "ktv/main/R2/state", "second")).Status != 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(WaitFor(listener, 15s), 0);
    EXPECT_EQ(ReadText(File("sub.out")), "first\nsecond\n") << ReadText(File("sub.err"));
}

} // namespace
} // namespace ktv::venuetest
