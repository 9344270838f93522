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

TEST(BandRecord, EncodesTenthsTruncatedTowardZero)
{
    struct Case {
        std::uint8_t flags;
        float fc, q, gain;
        std::array<std::uint8_t, 9> bytes;
    };
    const Case cases[] = {
        {0xC2, 50.0f, 0.7f, 0.0f, {0xC2, 0xF4, 0x01, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00}},
        {0x80, 1000.0f, 1.4f, -3.5f, {0x80, 0x10, 0x27, 0x00, 0x00, 0x0D, 0x00, 0xDD, 0xFF}},
        {0x42, 20200.0f, 124.0f, -3.3f, {0x42, 0x10, 0x15, 0x03, 0x00, 0xD8, 0x04, 0xE0, 0xFF}},
        // The extreme Fc a record can carry comes back as a float whose tenths
        // lie just past the 32-bit range: they saturate, keeping the sign.
        {0xC2, 214748368.0f, 0.7f, 0.0f, {0xC2, 0xFF, 0xFF, 0xFF, 0x7F, 0x06, 0x00, 0x00, 0x00}},
        {0xC2, -214748368.0f, 0.7f, 0.0f, {0xC2, 0x00, 0x00, 0x00, 0x80, 0x06, 0x00, 0x00, 0x00}},
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
    EXPECT_EQ(b.Q, 0.6f);
    EXPECT_EQ(b.Gain, -3.5f);
    EXPECT_EQ(b.Coef, (Coefficients{1, 2, 3, 4, 5})); // never carried
}

} // namespace
