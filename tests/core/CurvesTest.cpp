#include "dsp/Curves.h"
#include "dsp/Filter.h"
#include "dsp/StepTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ktv {
namespace {

constexpr std::uint8_t Active = FlagBandOn | FlagChannelEqOn;

// Columns spaced like the chart's pixels: geometric from 19 Hz to 21 kHz, in tenths.
std::vector<std::int32_t> LogColumns(int count)
{
    std::vector<std::int32_t> freq10(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        freq10[std::size_t(i)] = std::int32_t(190.0 * std::pow(210000.0 / 190.0, double(i) / count));
    return freq10;
}

// Every tenth of a Hz from `from` to `to` (inclusive), in tenths.
std::vector<std::int32_t> DenseColumns(std::int32_t from, std::int32_t to)
{
    std::vector<std::int32_t> freq10;
    for (std::int32_t x = from; x <= to; ++x)
        freq10.push_back(x);
    return freq10;
}

PeqBand Band(std::uint8_t flags, float fc, float q, float gain)
{
    PeqBand band;
    band.Flags = flags;
    band.Fc = fc;
    band.Q = q;
    band.Gain = gain;
    DesignBand(band);
    return band;
}

struct Curves {
    std::vector<std::vector<double>> bands;
    std::vector<double> sum;
};

Curves Compute(bool fast, const FrequencyGrid& grid, const std::vector<PeqBand>& bands)
{
    Curves c;
    c.bands.assign(bands.size(), std::vector<double>(std::size_t(grid.Count()) + 1, -12345.0));
    c.sum.assign(std::size_t(grid.Count()) + 1, -12345.0);
    if (fast)
        ComputeCurves(grid, bands, c.bands, c.sum);
    else
        ComputeCurvesReference(grid, bands, c.bands, c.sum);
    return c;
}

class CurvesTest : public ::testing::Test {
protected:
    void SetUp() override { BuildStepTables(); }
};

TEST_F(CurvesTest, GridStoresColumnsAndTheirFcPositions)
{
    FrequencyGrid grid;
    const auto freq10 = LogColumns(1000);
    grid.Build(freq10);
    ASSERT_EQ(grid.Count(), 1000);
    EXPECT_EQ(grid.Freq10()[0], 190);
    EXPECT_EQ(grid.FcPos()[0], 0); // 19.0 Hz lies below the first entry
    for (int i = 0; i < grid.Count(); ++i) {
        const float f = float(freq10[std::size_t(i)] / 10.0);
        ASSERT_EQ(grid.Frequency(i), f);
        ASSERT_EQ(grid.FcPos()[std::size_t(i)], FcStepIndex(f)) << i;
    }

    // More columns than the chart keeps are cut at the capacity.
    grid.Build(LogColumns(1500));
    EXPECT_EQ(grid.Count(), MaxGridColumns);
}

TEST_F(CurvesTest, FastPathAgreesWithReference)
{
    const std::vector<std::vector<PeqBand>> sets = {
        // One band of every type.
        {Band(Active | 0, 80.0f, 0.7f, 3.0f), Band(Active | 1, 12000.0f, 2.0f, -4.0f),
         Band(Active | 2, 1000.0f, 0.7f, 6.0f), Band(Active | 3, 150.0f, 0.5f, 9.0f),
         Band(Active | 4, 6000.0f, 1.3f, -12.0f), Band(Active | 5, 450.0f, 4.0f, 0.0f),
         Band(Active | 6, 2020.0f, 8.0f, -3.0f)},
        // Extremes: narrow and wide bands at the ends of the range, deep notches.
        {Band(Active | 2, 19.7f, 124.0f, 12.0f), Band(Active | 2, 20200.0f, 0.4f, -24.0f),
         Band(Active | 6, 19.7f, 0.4f, 12.0f), Band(Active | 6, 20200.0f, 124.0f, -24.0f),
         Band(Active | 0, 20200.0f, 30.0f, 12.0f), Band(Active | 1, 19.7f, 30.0f, 12.0f),
         Band(Active | 5, 9990.0f, 124.0f, -24.0f)},
        // Inactive and undefined bands among active ones; bits 4-5 set.
        {Band(FlagChannelEqOn | 2, 1000.0f, 0.7f, 6.0f), Band(FlagBandOn | 3, 100.0f, 0.7f, 6.0f),
         Band(Active | 7, 1000.0f, 0.7f, 6.0f), Band(Active | 0x30 | 2, 1000.0f, 0.7f, 6.0f),
         Band(Active | 2, 10000.0f, 2.0f, -6.0f), Band(Active | 4, 10200.0f, 0.7f, 4.5f),
         Band(Active | 2, 125.0f, 1.4f, -9.9f)},
    };
    FrequencyGrid grid;
    grid.Build(LogColumns(1000));

    for (std::size_t s = 0; s < sets.size(); ++s) {
        SCOPED_TRACE(s);
        const Curves fast = Compute(true, grid, sets[s]);
        const Curves ref = Compute(false, grid, sets[s]);
        double worst = 0.0;
        for (std::size_t r = 0; r < sets[s].size(); ++r) {
            for (int i = 0; i < grid.Count(); ++i) {
                const double a = fast.bands[r][std::size_t(i)], b = ref.bands[r][std::size_t(i)];
                ASSERT_TRUE(std::isfinite(a)) << r << " " << i;
                worst = std::max(worst, std::abs(a - b) / 10.0);
            }
            EXPECT_EQ(fast.bands[r].back(), -12345.0); // the extra entry is left alone
        }
        for (int i = 0; i < grid.Count(); ++i)
            worst = std::max(worst, std::abs(fast.sum[std::size_t(i)] - ref.sum[std::size_t(i)]) / 10.0);
        EXPECT_LT(worst, 1e-9);
        EXPECT_EQ(fast.sum.back(), -12345.0);
    }
}

TEST_F(CurvesTest, BellPlateauSitsExactlyOnItsGainAcrossItsStep)
{
    const std::vector<PeqBand> bands{Band(0xC2, 1000.0f, 0.7f, 6.0f)};
    std::vector<std::int32_t> columns = LogColumns(1000);
    const auto dense = DenseColumns(9900, 10300);
    columns.insert(columns.end(), dense.begin(), dense.end());
    std::sort(columns.begin(), columns.end());
    columns.resize(std::min(columns.size(), std::size_t(MaxGridColumns)));
    ASSERT_GT(columns.back(), 10300);

    FrequencyGrid grid;
    grid.Build(columns);
    for (bool fast : {true, false}) {
        SCOPED_TRACE(fast ? "fast" : "reference");
        const Curves c = Compute(fast, grid, bands);
        int plateau = 0;
        for (int i = 0; i < grid.Count(); ++i) {
            const std::int32_t f10 = grid.Freq10()[std::size_t(i)];
            if (f10 >= 10000 && f10 <= 10199) {
                ASSERT_EQ(c.sum[std::size_t(i)], 60.0) << f10;
                ++plateau;
            } else {
                ASSERT_LT(c.sum[std::size_t(i)], 60.0) << f10;
            }
        }
        EXPECT_GE(plateau, 200);
    }
}

TEST_F(CurvesTest, PlateauNeedsExactFlagsAndAnFcOnTheTable)
{
    FrequencyGrid grid;
    grid.Build(DenseColumns(99900, 100100)); // 9990.0 .. 10010.0 Hz
    const struct {
        std::uint8_t flags;
        float fc;
    } cases[] = {
        {0xC2 | 0x10, 9990.0f}, // bit 4 set
        {0xC2 | 0x20, 9990.0f}, // bit 5 set
        {0xC2, 10000.0f},       // between entries: the default 10 kHz bell
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.flags));
        const std::vector<PeqBand> bands{Band(c.flags, c.fc, 20.0f, 6.0f)};
        for (bool fast : {true, false}) {
            const Curves curves = Compute(fast, grid, bands);
            for (int i = 0; i < grid.Count(); ++i)
                ASSERT_NE(curves.sum[std::size_t(i)], 60.0) << i;
        }
    }
    // The same band with exactly 0xC2 on the entry 9990 reaches its gain.
    const std::vector<PeqBand> bands{Band(0xC2, 9990.0f, 20.0f, 6.0f)};
    EXPECT_EQ(Compute(true, grid, bands).sum[0], 60.0);
}

TEST_F(CurvesTest, ChannelEqualiserOffGivesAFlatSum)
{
    std::vector<PeqBand> bands;
    for (int k = 0; k < 7; ++k)
        bands.push_back(Band(FlagBandOn | std::uint8_t(k), float(DefaultFcTable[std::size_t(k)]), 0.7f, 6.0f));
    FrequencyGrid grid;
    grid.Build(LogColumns(1000));
    for (bool fast : {true, false}) {
        const Curves c = Compute(fast, grid, bands);
        for (int i = 0; i < grid.Count(); ++i) {
            ASSERT_EQ(c.sum[std::size_t(i)], 0.0) << i;
            for (const auto& curve : c.bands)
                ASSERT_EQ(curve[std::size_t(i)], 0.0);
        }
    }
}

TEST_F(CurvesTest, SumIsTheSumOfTheBandCurves)
{
    const std::vector<PeqBand> bands{Band(Active | 3, 200.0f, 0.7f, 6.0f), Band(Active | 2, 3000.0f, 3.0f, -8.0f),
                                     Band(0xC2, 1000.0f, 0.7f, 6.0f)};
    FrequencyGrid grid;
    grid.Build(LogColumns(700));
    // Undersized outputs are grown rather than overrun.
    std::vector<std::vector<double>> curves(3);
    std::vector<double> sum;
    ComputeCurves(grid, bands, curves, sum);
    ASSERT_EQ(sum.size(), 700u);
    for (std::size_t i = 0; i < 700; ++i)
        EXPECT_DOUBLE_EQ(sum[i], curves[0][i] + curves[1][i] + curves[2][i]);
}

} // namespace
} // namespace ktv
