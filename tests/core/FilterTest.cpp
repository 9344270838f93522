#include "dsp/Filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace ktv {
namespace {

constexpr std::uint8_t Active = FlagBandOn | FlagChannelEqOn;

PeqBand MakeBand(std::uint8_t flags, float fc = 1000.0f, float q = 0.7f, float gain = 6.0f)
{
    PeqBand band;
    band.Flags = flags;
    band.Fc = fc;
    band.Q = q;
    band.Gain = gain;
    band.Coef = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f}; // stale values that must be overwritten
    return band;
}

std::string Digits7(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", double(v));
    return text;
}

std::string Decimals3(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

bool IsUnity(const Coefficients& c)
{
    return c == Coefficients{1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
}

struct ReferenceRow {
    FilterType type;
    const char* coef[5]; // b0, b1, b2, a1, a2 to seven digits
    const char* db[3];   // at 100, 1000, 10000 Hz
};

// Fc 1000 Hz, Q 0.7, Gain +6 dB.
const ReferenceRow ReferenceTable[] = {
    {FilterType::LowPass, {"0.007799428", "0.01559886", "0.007799428", "-1.813879", "0.8295148"}, {"5.998", "2.902", "-36.736"}},
    {FilterType::HighPass, {"1.817382", "-3.634763", "1.817382", "-1.813879", "0.8295148"}, {"-34.027", "2.902", "5.998"}},
    {FilterType::Bell, {"1.061595", "-1.860189", "0.8146296", "-1.860189", "0.8762243"}, {"0.131", "6.000", "0.096"}},
    {FilterType::LowShelf, {"1.032824", "-1.837596", "0.8271868", "-1.843186", "0.8544202"}, {"5.998", "3.000", "0.001"}},
    {FilterType::HighShelf, {"1.931852", "-3.560762", "1.650613", "-1.779196", "0.8008983"}, {"0.002", "3.000", "5.999"}},
    {FilterType::BandPass, {"0.1700813", "0", "-0.1700813", "-1.813879", "0.8295148"}, {"-10.916", "6.000", "-12.271"}},
    {FilterType::Notch, {"1.825181", "-3.619164", "1.825181", "-1.813879", "0.8295148"}, {"5.911", "-101.259", "5.935"}},
};

TEST(FilterTest, ReferenceBandsMatchDigitForDigit)
{
    const float probes[3] = {100.0f, 1000.0f, 10000.0f};
    for (const auto& row : ReferenceTable) {
        SCOPED_TRACE(int(row.type));
        PeqBand band = MakeBand(Active | std::uint8_t(row.type));
        DesignBand(band);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(Digits7(band.Coef[std::size_t(i)]), row.coef[i]) << "coefficient " << i;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Decimals3(MagnitudeDb(band.Coef, probes[i])), row.db[i]) << probes[i] << " Hz";
    }
}

TEST(FilterTest, PeakAndShelfMidpointsAreExact)
{
    PeqBand bell = MakeBand(Active | std::uint8_t(FilterType::Bell));
    DesignBand(bell);
    EXPECT_NEAR(MagnitudeDb(bell.Coef, 1000.0f), 6.0, 1e-5);

    for (FilterType type : {FilterType::LowShelf, FilterType::HighShelf}) {
        PeqBand shelf = MakeBand(Active | std::uint8_t(type), 250.0f, 1.0f, -8.0f);
        DesignBand(shelf);
        EXPECT_NEAR(MagnitudeDb(shelf.Coef, 250.0f), -4.0, 1e-3) << int(type);
    }
}

TEST(FilterTest, InactiveBandsAndUndefinedTypesDrawFlat)
{
    const std::uint8_t cases[] = {
        FlagChannelEqOn | std::uint8_t(FilterType::Bell), // band off
        FlagBandOn | std::uint8_t(FilterType::Bell),      // channel equaliser off
        std::uint8_t(FilterType::LowPass),                // both off
        Active | 7,                                       // undefined type codes
        Active | 0x0F,
        Active | 0x30 | 0x0A,
    };
    for (std::uint8_t flags : cases) {
        SCOPED_TRACE(int(flags));
        PeqBand band = MakeBand(flags, 1000.0f, 0.7f, 12.0f);
        DesignBand(band);
        EXPECT_TRUE(IsUnity(band.Coef));
        for (float f : {19.0f, 1000.0f, 20000.0f})
            EXPECT_EQ(MagnitudeDb(band.Coef, f), 0.0);
    }
    Coefficients c{3, 3, 3, 3, 3};
    SetUnity(c);
    EXPECT_TRUE(IsUnity(c));
}

TEST(FilterTest, BellWithZeroGainIsFlat)
{
    PeqBand band = MakeBand(Active | std::uint8_t(FilterType::Bell), 2000.0f, 3.0f, 0.0f);
    DesignBand(band);
    EXPECT_FLOAT_EQ(band.Coef[0], 1.0f);
    EXPECT_EQ(band.Coef[1], band.Coef[3]);
    EXPECT_EQ(band.Coef[2], band.Coef[4]);
    for (float f : {20.0f, 2000.0f, 19000.0f})
        EXPECT_NEAR(MagnitudeDb(band.Coef, f), 0.0, 1e-5);
}

TEST(FilterTest, BitsFourAndFiveDoNotChangeTheDesign)
{
    for (int type = 0; type <= 6; ++type) {
        PeqBand plain = MakeBand(Active | std::uint8_t(type), 3150.0f, 2.2f, -7.5f);
        PeqBand marked = plain;
        marked.Flags |= 0x30;
        DesignBand(plain);
        DesignBand(marked);
        EXPECT_EQ(plain.Coef, marked.Coef) << type;
        EXPECT_EQ(marked.Flags, Active | 0x30 | type);
    }
}

TEST(FilterTest, GainScalesPassAndNotchTypesWithoutReshaping)
{
    // Low pass, high pass, band pass and notch keep their shape and move by the gain.
    for (FilterType type : {FilterType::LowPass, FilterType::HighPass, FilterType::BandPass, FilterType::Notch}) {
        PeqBand flat = MakeBand(Active | std::uint8_t(type), 1000.0f, 0.7f, 0.0f);
        PeqBand raised = MakeBand(Active | std::uint8_t(type), 1000.0f, 0.7f, -10.0f);
        DesignBand(flat);
        DesignBand(raised);
        for (float f : {60.0f, 400.0f, 3000.0f, 15000.0f})
            // Single-precision coefficients leave a few 1e-5 dB.
            EXPECT_NEAR(MagnitudeDb(raised.Coef, f) - MagnitudeDb(flat.Coef, f), -10.0, 1e-4) << int(type) << " " << f;
    }
}

TEST(FilterTest, DesignAndResponseShareTheSameTwoPi)
{
    // With 6.28 in both, a narrow bell peaks at its own Fc on the 6.28 scale:
    // the response at Fc is the full gain, a hair either side is lower.
    PeqBand band = MakeBand(Active | std::uint8_t(FilterType::Bell), 10000.0f, 20.0f, 12.0f);
    DesignBand(band);
    const double peak = MagnitudeDb(band.Coef, 10000.0f);
    EXPECT_NEAR(peak, 12.0, 1e-4);
    EXPECT_LT(MagnitudeDb(band.Coef, 10000.0f * 6.28f / 6.2831853f), peak - 0.01);
}

TEST(FilterTest, ExactZeroOfTheResponseGivesTheFloor)
{
    // The band pass has a zero at DC: a finite floor instead of -inf.
    PeqBand band = MakeBand(Active | std::uint8_t(FilterType::BandPass));
    DesignBand(band);
    const double atDc = MagnitudeDb(band.Coef, 0.0f);
    EXPECT_TRUE(std::isfinite(atDc));
    EXPECT_EQ(atDc, MagnitudeFloorDb);
}

} // namespace
} // namespace ktv
