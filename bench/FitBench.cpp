// A seven-band fit of one channel to a 1000-point measurement: what the
// window's "Fit" and `ktvtune-cli fit` wait for.

#include "dsp/Filter.h"
#include "dsp/StepTables.h"
#include "fit/Fit.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

using namespace ktv;

struct Room {
    std::vector<double> hz, db;
    std::vector<PeqBand> channel;

    Room()
    {
        BuildStepTables();
        // Seven room modes and a gentle slope, with a deterministic ripple in
        // place of measurement noise.
        const struct {
            float fc, q, gain;
        } modes[] = {{45.0f, 4.0f, 9.0f}, {87.0f, 6.0f, 7.0f}, {160.0f, 3.0f, 5.0f}, {420.0f, 2.0f, 3.5f},
                     {1300.0f, 1.2f, 2.5f}, {3400.0f, 3.0f, 4.0f}, {9000.0f, 1.0f, 3.0f}};
        for (int i = 0; i < 1000; ++i) {
            const double f = 20.0 * std::pow(1000.0, i / 999.0);
            double v = -0.5 * std::log2(f / 1000.0) + 0.3 * std::sin(i * 0.7);
            for (const auto& m : modes) {
                PeqBand b;
                b.Flags = FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell);
                b.Fc = m.fc;
                b.Q = m.q;
                b.Gain = m.gain;
                DesignBand(b);
                v += MagnitudeDb(b.Coef, float(f));
            }
            hz.push_back(f);
            db.push_back(v);
        }
        channel.resize(7);
        for (int i = 0; i < 7; ++i)
            SetDefaultBand(channel[std::size_t(i)], i);
    }
};

void BM_FitSevenBands(benchmark::State& state)
{
    static const Room room;
    FitOptions options;
    options.Mode = FitMode(state.range(0));
    FitResult result;
    for (auto _ : state) {
        const bool ok = FitChannel(room.hz, room.db, {}, options, room.channel, result);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["rms_before_dB"] = result.Before.RmsDb;
    state.counters["rms_after_dB"] = result.After.RmsDb;
}
BENCHMARK(BM_FitSevenBands)
    ->Arg(int(FitMode::Stepped))
    ->Arg(int(FitMode::Continuous))
    ->Unit(benchmark::kMillisecond)
    ->ArgName("mode");

} // namespace

BENCHMARK_MAIN();
