// What each role may send, by the box's command code, and the names and
// patterns that become topic levels: tables, no servers.

#include "protocol/CommandTable.h"
#include "venue/Roles.h"
#include "venue/VenueFile.h"

#include <gtest/gtest.h>

#include <vector>

namespace ktv::venue {
namespace {

// Report is a plain array: returned wrapped.
struct Framed {
    Report r{};
};

Framed Frame(std::vector<std::uint8_t> payload)
{
    Framed f;
    PutFrame(f.r, BoxAddress, payload.data(), payload.size());
    return f;
}

TEST(VenueRoles, EachRoleByCommandCode)
{
    const VolumeLimits limits{40, 50, 60};
    struct Case {
        std::vector<std::uint8_t> payload;
        bool staff; // a technician may send every well-formed request, an agent none
    } cases[] = {
        {{0x81}, true},                      // ReadSystem
        {{0x82}, true},                      // ReadEffects
        {{0xA0, 0, 6}, true},                // ReadPeqBands
        {{0x2A, 1}, true},                   // Link
        {{0x1F, 40, 50, 60}, true},          // MasterVolume at the limits
        {{0x1F, 41, 0, 0}, false},           // the mic above
        {{0x1F, 0, 51, 0}, false},           // the music above
        {{0x1F, 0, 0, 61}, false},           // the effect above
        {{0x28, FactoryRecall, 3}, true},    // recall a slot
        {{0x28, FactoryStore, 3}, false},    // store into one
        {{0x1E, 1}, false},                  // Mute
        {{0x20, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false}, // PeqBands
        {{0x23, 1}, false},                  // Input
        {{0x2D, 1, 2, 3, 4, 5, 6, 7, 8}, false}, // MaxVolume
        {{0x77}, false},                     // no command
    };
    for (const Case& c : cases) {
        const Framed framed = Frame(c.payload);
        const Report& r = framed.r;
        EXPECT_FALSE(Refusal("technician", r, limits)) << int(c.payload[0]);
        EXPECT_EQ(!Refusal("staff", r, limits), c.staff) << int(c.payload[0]);
        EXPECT_TRUE(Refusal("agent", r, limits)) << int(c.payload[0]);
    }
    // The refusal names what was refused and why.
    EXPECT_EQ(*Refusal("staff", Frame({0x1E, 1}).r, limits),
              "staff may change only the master volumes and recall slots, not Mute");
    EXPECT_EQ(*Refusal("staff", Frame({0x1F, 0, 51, 0}).r, limits),
              "staff may set the music volume up to 50 in this room, not 51");
}

TEST(VenueRoles, MalformedFramesAreRefusedToEveryone)
{
    Framed sum = Frame({0x81});
    sum.r[FramePayloadAt + 1] ^= 1;
    EXPECT_EQ(*Refusal("technician", sum.r, {}), "the request's checksum is wrong");
    Framed marker = Frame({0x81});
    marker.r[FrameMarkerAt] = 0;
    EXPECT_TRUE(Refusal("technician", marker.r, {}));
    Framed tooLong = Frame({0x81});
    tooLong.r[FrameLengthAt] = 61;
    EXPECT_TRUE(Refusal("technician", tooLong.r, {}));
}

TEST(VenueRoles, WholeChangesByRole)
{
    for (const char* op : {"write", "restore", "recall", "history"})
        EXPECT_FALSE(WholeRefusal("technician", op)) << op;
    EXPECT_FALSE(WholeRefusal("staff", "recall"));
    EXPECT_FALSE(WholeRefusal("staff", "history"));
    EXPECT_TRUE(WholeRefusal("staff", "write"));
    EXPECT_TRUE(WholeRefusal("staff", "restore"));
    EXPECT_TRUE(WholeRefusal("agent", "recall"));
}

TEST(VenueRoles, NamesAndPatterns)
{
    for (const char* good : {"Room1", "VIP-2", "hall_a", "b.2"})
        EXPECT_TRUE(IsPlainName(good)) << good;
    for (const char* bad : {"", "a/b", "a+b", "r#", ".hidden", "a b", "VIP*"})
        EXPECT_FALSE(IsPlainName(bad)) << bad;
    EXPECT_TRUE(IsRoomPattern("VIP*"));
    EXPECT_FALSE(IsRoomPattern("VIP/*"));
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {{"VIP*", "VIP1", true},  {"VIP*", "VIP", true},     {"VIP*", "Hall", false},
                 {"*1", "Room11", true},  {"Room?", "Room1", true},  {"Room?", "Room10", false},
                 {"*o*m*", "Room", true}, {"Room1", "Room1", true},  {"Room1", "Room10", false}};
    for (const Case& c : cases)
        EXPECT_EQ(MatchesPattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(VenueRoles, HexRoundTrips)
{
    const std::uint8_t bytes[] = {0x00, 0xAA, 0x0F, 0xF0, 0xFF};
    EXPECT_EQ(Hex(bytes, 5), "00aa0ff0ff");
    std::uint8_t back[5];
    ASSERT_TRUE(FromHex("00AA0ff0ff", back, 5));
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 5), std::vector<std::uint8_t>(bytes, bytes + 5));
    EXPECT_FALSE(FromHex("00aa0ff0f", back, 5));
    EXPECT_FALSE(FromHex("00aa0ff0fg", back, 5));
    EXPECT_FALSE(HexBytes("abc"));
}

} // namespace
} // namespace ktv::venue
