// Twenty rooms, each a real ktvtune-agent process on its own ktvtune-box, on
// one broker: the list shows them all, and one preset goes to every room at
// once, each box receiving exactly the preset's requests, once.

#include "../e2e/CliTestSupport.h"
#include "VenueHarness.h"

namespace ktv::venuetest {
namespace {

using namespace std::chrono_literals;

class VenueScale : public Venue {};

TEST_F(VenueScale, TwentyAgentsOnOneBrokerTakeOnePresetAtOnce)
{
    constexpr int Rooms = 20;
    InitVenue();
    StartBroker();
    for (int n = 1; n <= Rooms; ++n)
        StartBox("room" + std::to_string(n));
    for (int n = 1; n <= Rooms; ++n)
        StartAgent("Room" + std::to_string(n), "room" + std::to_string(n));

    Outcome r = Cli({"--venue", Tech(), "venue", "list"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream lines(r.Out);
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("Room" + std::to_string(++n) + "\tonline\t")) << line;
    EXPECT_EQ(n, Rooms);

    const std::string preset = WritePreset(File("house.dap"), 4);
    r = On(Tech(), "Room*", {"write", preset});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::string expectedReport;
    for (int i = 1; i <= Rooms; ++i)
        expectedReport += "Room" + std::to_string(i) + "\tWrite dsp ok!\n";
    EXPECT_EQ(r.Out, expectedReport);
    EXPECT_LT(r.Took, 15s);

    const std::vector<Bytes> expected = ExpectedWriteAll(preset);
    for (int i = 1; i <= Rooms; ++i) {
        const std::vector<Bytes> requests = LoggedRequests(ReadText(BoxLog("room" + std::to_string(i))));
        // Link on, nine reads, the nine writes, Link off.
        ASSERT_EQ(requests.size(), 20u) << i;
        EXPECT_EQ(PayloadOf(requests.front()), (Bytes{0x2A, 1}));
        for (std::size_t k = 0; k < expected.size(); ++k)
            EXPECT_EQ(PayloadOf(requests[10 + k]), expected[k]) << "room " << i << " request " << k + 1;
        EXPECT_EQ(PayloadOf(requests.back()), (Bytes{0x2A, 0}));
    }
}

} // namespace
} // namespace ktv::venuetest
