#include "params/Gloable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace ktv;

namespace {

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DspParams = {};
        LoadDefaults();
    }
};

TEST_F(ImageTest, DefaultsFillEveryGroupWithItsDefaultBands)
{
    const float q07 = 0.7f;
    for (const BandGroup& g : BandGroups) {
        for (int i = 0; i < g.BandCount; ++i) {
            const PeqBand& b = DspParams.Band[std::size_t(g.FirstBand + i)];
            SCOPED_TRACE(g.FirstBand + i);
            EXPECT_EQ(b.Flags, 0xC2);
            EXPECT_EQ(b.Fc, float(DefaultFcTable[std::size_t(i)]));
            EXPECT_EQ(b.Gain, 0.0f);
            EXPECT_EQ(std::memcmp(&b.Q, &q07, sizeof q07), 0);
        }
    }
    // Only the seven-band groups reach 5000 and 10000 Hz.
    for (int k : {5, 12})
        EXPECT_EQ(DspParams.Band[std::size_t(k)].Fc, 5000.0f);
    for (int k : {6, 13})
        EXPECT_EQ(DspParams.Band[std::size_t(k)].Fc, 10000.0f);
    for (int k = 14; k < BandTotal; ++k)
        EXPECT_LE(DspParams.Band[std::size_t(k)].Fc, 2000.0f) << k;
}

TEST_F(ImageTest, DefaultsOfTheOtherFields)
{
    const DspParamsImage& p = DspParams;
    EXPECT_EQ(p.MicVol + p.MusicVol + p.EffectVol + p.Mute + p.Pitch + p.Fbx + p.Input, 0);
    for (auto v : p.MaxVol)
        EXPECT_EQ(v, 100);
    EXPECT_EQ(p.NoiseGate[0], -84);
    EXPECT_EQ(p.NoiseGate[1], -84);
    for (const auto& d : p.Dyn) {
        EXPECT_EQ(d.Threshold, 0);
        EXPECT_EQ(d.Attack, 1);
        EXPECT_EQ(d.Release, 1);
        EXPECT_EQ(d.Ratio, 1);
    }
    EXPECT_EQ(p.ReservedWord, 0);
    for (auto v : p.ReservedBytes)
        EXPECT_EQ(v, 0);
}

TEST(BandGroups, ArrayOrderDiffersFromChannelOrder)
{
    EXPECT_EQ(GroupOf(EqChannel::MAIN).FirstBand, 14);
    EXPECT_EQ(GroupOf(EqChannel::EFFECT).FirstBand, 34);
    // The groups tile the 39 bands without gap or overlap.
    int covered[BandTotal] = {};
    for (const BandGroup& g : BandGroups)
        for (int i = 0; i < g.BandCount; ++i)
            ++covered[g.FirstBand + i];
    for (int k = 0; k < BandTotal; ++k)
        EXPECT_EQ(covered[k], 1) << k;
}

TEST(BandRecord, EncodesTheNearestTenthHalvesAwayFromZero)
{
    struct Case {
        std::uint8_t flags;
        float fc, q, gain;
        std::array<std::uint8_t, 9> bytes;
    };
    const Case cases[] = {
        // 0.7f and 1.4f lie just below their tenths; they still travel as 7 and 14.
        {0xC2, 50.0f, 0.7f, 0.0f, {0xC2, 0xF4, 0x01, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}},
        {0x80, 1000.0f, 1.4f, -3.5f, {0x80, 0x10, 0x27, 0x00, 0x00, 0x0E, 0x00, 0xDD, 0xFF}},
        {0x42, 20200.0f, 124.0f, -3.3f, {0x42, 0x10, 0x15, 0x03, 0x00, 0xD8, 0x04, 0xDF, 0xFF}},
        // Halves go away from zero on both sides; just under a half goes to zero.
        {0x80, 1000.0f, 0.05f, -0.05f, {0x80, 0x10, 0x27, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF}},
        {0x80, 1000.25f, 0.25f, -0.25f, {0x80, 0x13, 0x27, 0x00, 0x00, 0x03, 0x00, 0xFD, 0xFF}},
        {0x80, 1000.0f, 0.04f, -0.04f, {0x80, 0x10, 0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        // The largest Fc whose tenths fit is carried exactly.
        {0xC2, 214748352.0f, 0.7f, 0.0f, {0xC2, 0x80, 0xFF, 0xFF, 0x7F, 0x07, 0x00, 0x00, 0x00}},
        // The extreme Fc a record can carry comes back as a float whose tenths
        // lie just past the 32-bit range: they saturate, keeping the sign.
        {0xC2, 214748368.0f, 0.7f, 0.0f, {0xC2, 0xFF, 0xFF, 0xFF, 0x7F, 0x07, 0x00, 0x00, 0x00}},
        {0xC2, -214748368.0f, 0.7f, 0.0f, {0xC2, 0x00, 0x00, 0x00, 0x80, 0x07, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        PeqBand b;
        b.Flags = c.flags;
        b.Fc = c.fc;
        b.Q = c.q;
        b.Gain = c.gain;
        std::array<std::uint8_t, 9> out{};
        EncodeBandRecord(b, out.data());
        EXPECT_EQ(out, c.bytes) << c.fc;
    }
}

TEST(BandRecord, DecodesToNearestFloatOfTheTenths)
{
    const std::uint8_t rec[9] = {0x82, 0x10, 0x27, 0x00, 0x00, 0x06, 0x00, 0xDD, 0xFF};
    PeqBand b;
    b.Coef = {1, 2, 3, 4, 5};
    DecodeBandRecord(rec, b);
    EXPECT_EQ(b.Flags, 0x82);
    EXPECT_EQ(b.Fc, 1000.0f);
    EXPECT_EQ(b.Q, 0.6f); // tenths read back: 6 is 0.6
    EXPECT_EQ(b.Gain, -3.5f);
    EXPECT_EQ(b.Coef, (Coefficients{1, 2, 3, 4, 5})); // never carried
}

TEST(BandRecord, EveryTenthReadIsWrittenBackUnchanged)
{
    // The typed value (a float near n / 10) and the value read as n tenths
    // both go back as n, for every gain and Q the box takes.
    for (int n = -240; n <= 1500; ++n) {
        PeqBand typed;
        typed.Q = float(n) / 10.0f;
        typed.Gain = float(n) / 10.0f;
        std::uint8_t rec[9] = {};
        EncodeBandRecord(typed, rec);
        ASSERT_EQ(GetI16(rec + 5), n);
        ASSERT_EQ(GetI16(rec + 7), n);
        PeqBand read;
        DecodeBandRecord(rec, read);
        std::uint8_t again[9] = {};
        EncodeBandRecord(read, again);
        ASSERT_EQ(GetI16(again + 7), n);
    }
}

} // namespace
