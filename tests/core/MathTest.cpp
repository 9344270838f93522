#include "dsp/Math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace ktv {
namespace {

std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Distance from the reference in units of the result's last place; the
// reference in long double, which carries more bits than the answer on
// both systems.
double Ulps(double value, long double reference)
{
    const double r = double(reference);
    const double ulp = std::nextafter(std::fabs(r), std::numeric_limits<double>::infinity()) - std::fabs(r);
    return double(std::fabs((long double)value - reference) / ulp);
}

// sin or cos in long double after an exact reduction by pi/2: the x87's own
// reduction, which MinGW's long double functions use, loses the bits of
// results near zero.
long double Reference(double x, bool cosine)
{
    const long double n = std::nearbyint((long double)x / 1.57079632679489661923132169163975144L);
    // pi/2 in three parts, each product with n exact in long double.
    const long double r = (((long double)x - n * 1.57079632673412561417L) - n * 6.07710050630396597660e-11L) -
                          n * 2.02226624879595063154e-21L;
    const int quadrant = int(std::fmod(n, 4.0L) + 4) % 4 + (cosine ? 1 : 0);
    switch (quadrant % 4) {
    case 0: return std::sin(r);
    case 1: return std::cos(r);
    case 2: return -std::sin(r);
    default: return -std::cos(r);
    }
}

TEST(MathTest, StaysWithinTwoUnitsOfTheTrueValueOverTheRangesUsed)
{
    std::mt19937_64 random(7);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    double worst[7] = {};
    for (int i = 0; i < 200000; ++i) {
        const double angle = uniform(-12.0, 12.0); // past 2 * 2 * pi * 20 kHz / 48 kHz either way
        worst[0] = std::max(worst[0], Ulps(Sin(angle), Reference(angle, false)));
        worst[1] = std::max(worst[1], Ulps(Cos(angle), Reference(angle, true)));
        const double positive = std::exp2(uniform(-1070.0, 1020.0));
        worst[2] = std::max(worst[2], Ulps(Log(positive), std::log((long double)positive)));
        worst[3] = std::max(worst[3], Ulps(Log2(positive), std::log2((long double)positive)));
        worst[4] = std::max(worst[4], Ulps(Log10(positive), std::log10((long double)positive)));
        const double power = uniform(-1000.0, 1000.0);
        worst[5] = std::max(worst[5], Ulps(Exp2(power), std::exp2((long double)power)));
        const double decade = uniform(-300.0, 300.0);
        worst[6] = std::max(worst[6], Ulps(Pow10(decade), std::pow(10.0L, (long double)decade)));
    }
    const char* names[] = {"Sin", "Cos", "Log", "Log2", "Log10", "Exp2", "Pow10"};
    for (int f = 0; f < 7; ++f)
        EXPECT_LE(worst[f], 2.0) << names[f];
}

TEST(MathTest, ExactWhereTheAnswerIsExact)
{
    for (int k = -1074; k <= 1023; ++k) {
        const double power = std::ldexp(1.0, k); // subnormal powers included
        ASSERT_EQ(Log2(power), double(k)) << k;
        ASSERT_EQ(Exp2(double(k)), power) << k;
    }
    EXPECT_EQ(Bits(Log(1.0)), Bits(0.0));
    EXPECT_EQ(Bits(Log10(1.0)), Bits(0.0));
    EXPECT_EQ(Pow10(0.0), 1.0);
    EXPECT_EQ(Pow10(1.0), 10.0);
    EXPECT_EQ(Pow10(2.0), 100.0);
    EXPECT_EQ(Log10(100.0), 2.0);
    EXPECT_EQ(Bits(Sin(0.0)), Bits(0.0));
    EXPECT_EQ(Bits(Sin(-0.0)), Bits(-0.0));
    EXPECT_EQ(Cos(0.0), 1.0);
}

TEST(MathTest, AnswersOutsideTheDomainAsTheCLibraryDoes)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Log(0.0), -inf);
    EXPECT_EQ(Log2(-0.0), -inf);
    EXPECT_EQ(Log10(0.0), -inf);
    EXPECT_TRUE(std::isnan(Log(-1.0)));
    EXPECT_TRUE(std::isnan(Log10(-inf)));
    EXPECT_TRUE(std::isnan(Log2(nan)));
    EXPECT_EQ(Log(inf), inf);
    EXPECT_EQ(Exp2(2000.0), inf);
    EXPECT_EQ(Exp2(-2000.0), 0.0);
    EXPECT_EQ(Exp2(-inf), 0.0);
    EXPECT_EQ(Pow10(400.0), inf);
    EXPECT_EQ(Pow10(-400.0), 0.0);
    EXPECT_TRUE(std::isnan(Pow10(nan)));
    EXPECT_TRUE(std::isnan(Sin(inf)));
    EXPECT_TRUE(std::isnan(Cos(nan)));
}

// The whole point: these bits, on every system and in every build. The
// arguments are of the kinds the fit takes (a band's angle at 48 kHz and
// twice it, frequencies, octaves, gains in dB / 20).
TEST(MathTest, GivesTheSameBitsEverywhere)
{
    struct Trig {
        double x;
        std::uint64_t sin, cos;
    };
    const Trig trig[] = {
        {0x1.0bf258bf258bep-3, 0x3fc0b2ed25c20ab8, 0x3fefb9fcbc040194},
        {0x1.4eeeeeeeeeeefp+1, 0x3fe009698a22fa4b, 0xbfebb109a0601cca},
        {-0x1.4eeeeeeeeeeefp+2, 0x3febc153deacfbbe, 0x3fdfda4ec48cf4b8},
        {0x1.921fb54442d18p+0, 0x3ff0000000000000, 0x3c91a62633145c07},
    };
    for (const Trig& t : trig) {
        EXPECT_EQ(Bits(Sin(t.x)), t.sin) << t.x;
        EXPECT_EQ(Bits(Cos(t.x)), t.cos) << t.x;
    }
    struct Logs {
        double x;
        std::uint64_t log, log2, log10;
    };
    const Logs logs[] = {
        {0x1.4p+4, 0x4007f7427b73e391, 0x401149a784bcd1b9, 0x3ff4d104d427de80},
        {0x1.34a456d5cfaadp+10, 0x401c7951d51791d7, 0x40248a21f60ffaf4, 0x4008bb6c3010753b},
        {0x1.f4p+13, 0x40235c560c868e4c, 0x402bee7b471b3a95, 0x4010d104d427de80},
        {0x1.0624dd2f1a9fcp-10, 0xc01ba18a998fffa0, 0xc023ee7b471b3a95, 0xc008000000000000},
    };
    for (const Logs& l : logs) {
        EXPECT_EQ(Bits(Log(l.x)), l.log) << l.x;
        EXPECT_EQ(Bits(Log2(l.x)), l.log2) << l.x;
        EXPECT_EQ(Bits(Log10(l.x)), l.log10) << l.x;
    }
    struct Powers {
        double x;
        std::uint64_t exp2, pow10;
    };
    const Powers powers[] = {
        {0x1.149a784bcd1b9p+2, 0x4034000000000001, 0x40d47e7b22238806},
        {0x1.bee7b471b3a95p+3, 0x40cf400000000000, 0x42d503c769eada7a},
        {-0x1.3333333333333p-2, 0x3fe9fdf8bcce533e, 0x3fe009b9cf334252},
        {0x1.3333333333333p-1, 0x3ff8406003b2ae5c, 0x400fd93c1f526ddf},
    };
    for (const Powers& p : powers) {
        EXPECT_EQ(Bits(Exp2(p.x)), p.exp2) << p.x;
        EXPECT_EQ(Bits(Pow10(p.x)), p.pow10) << p.x;
    }
}

} // namespace
} // namespace ktv
