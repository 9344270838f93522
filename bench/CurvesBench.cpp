// The curve step of one editor refresh: per-point reference against the
// precomputed fast path, seven active bands over a 1000-column chart grid,
// and the fast path over 1..7 bands and 250..4000 columns. A refresh runs on
// every mouse move of a drag, so this is the number that matters.

#include "dsp/Curves.h"
#include "dsp/Filter.h"
#include "dsp/StepTables.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <span>
#include <vector>

namespace {

using namespace ktv;

struct Setup {
    FrequencyGrid grid;
    std::vector<PeqBand> bands;
    std::vector<std::vector<double>> curves;
    std::vector<double> sum;

    explicit Setup(int columns)
    {
        BuildStepTables();
        std::vector<std::int32_t> freq10(static_cast<std::size_t>(columns), 0);
        for (int i = 0; i < columns; ++i)
            freq10[std::size_t(i)] = std::int32_t(190.0 * std::pow(210000.0 / 190.0, double(i) / columns));
        grid.Build(freq10, columns);

        const struct {
            FilterType type;
            float fc, q, gain;
        } shown[MaxShownBands] = {
            {FilterType::LowShelf, 49.4f, 0.7f, 4.0f}, {FilterType::Bell, 125.0f, 1.4f, -3.0f},
            {FilterType::Bell, 498.0f, 0.7f, 2.5f},    {FilterType::Bell, 1000.0f, 0.7f, 6.0f},
            {FilterType::Notch, 2020.0f, 8.0f, 0.0f},  {FilterType::HighShelf, 4970.0f, 0.7f, -6.0f},
            {FilterType::LowPass, 15000.0f, 0.7f, 0.0f},
        };
        for (const auto& s : shown) {
            PeqBand band;
            band.Flags = FlagBandOn | FlagChannelEqOn | std::uint8_t(s.type);
            band.Fc = s.fc;
            band.Q = s.q;
            band.Gain = s.gain;
            DesignBand(band);
            bands.push_back(band);
        }
        curves.assign(MaxShownBands, std::vector<double>(std::size_t(columns) + 1, 0.0));
        sum.assign(std::size_t(columns) + 1, 0.0);
    }
};

Setup& Shared(int columns = MaxGridColumns)
{
    static std::map<int, Setup> setups;
    return setups.try_emplace(columns, columns).first->second;
}

void BM_CurvesReference(benchmark::State& state)
{
    Setup& s = Shared();
    for (auto _ : state) {
        ComputeCurvesReference(s.grid, s.bands, s.curves, s.sum);
        benchmark::DoNotOptimize(s.sum.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * MaxShownBands * MaxGridColumns);
}
BENCHMARK(BM_CurvesReference)->Unit(benchmark::kMicrosecond);

// Arguments: shown bands, columns.
void BM_CurvesFast(benchmark::State& state)
{
    const int bandCount = int(state.range(0));
    const int columns = int(state.range(1));
    Setup& s = Shared(columns);
    const std::span<const PeqBand> bands(s.bands.data(), std::size_t(bandCount));
    const std::span<std::vector<double>> curves(s.curves.data(), std::size_t(bandCount));
    for (auto _ : state) {
        ComputeCurves(s.grid, bands, curves, s.sum);
        benchmark::DoNotOptimize(s.sum.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * bandCount * columns);

    // How far the fast curves stray from the reference, reported beside the timing.
    std::vector<std::vector<double>> refCurves(std::size_t(bandCount), std::vector<double>(std::size_t(columns) + 1));
    std::vector<double> refSum(std::size_t(columns) + 1);
    ComputeCurvesReference(s.grid, bands, refCurves, refSum);
    double worst = 0.0;
    for (int i = 0; i < columns; ++i) {
        for (int b = 0; b < bandCount; ++b)
            worst = std::max(worst, std::abs(s.curves[std::size_t(b)][std::size_t(i)] -
                                             refCurves[std::size_t(b)][std::size_t(i)]) / 10.0);
        worst = std::max(worst, std::abs(s.sum[std::size_t(i)] - refSum[std::size_t(i)]) / 10.0);
    }
    state.counters["max_diff_dB"] = worst;
}
BENCHMARK(BM_CurvesFast)
    ->ArgsProduct({benchmark::CreateDenseRange(1, MaxShownBands, 1), {250, 500, 1000, 2000, 4000}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
