// The sweep measurement's deconvolution and one frame of the live analyser.
#include "measure/Analyser.h"
#include "measure/Measure.h"
#include "measure/SimulatedRoom.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ktv::measure;

// A 3 s sweep at 48 kHz with its 1 s tail: deconvolve, gate, magnitude.
void BM_AnalyseSweep(benchmark::State& state)
{
    SimulatedRoom room(RoomModel{{{60, 6, 4}, {2000, -4, 2}}, 5, -10, 40, 1});
    MeasureSettings s;
    const auto sweep = MakeSweep(s.Sweep);
    const auto rec = room.Pass(sweep, sweep.size() + 48000, s.Sweep.Rate);
    for (auto _ : state) {
        Response r;
        benchmark::DoNotOptimize(AnalyseRecording(rec, s, r, nullptr));
    }
}
BENCHMARK(BM_AnalyseSweep)->Unit(benchmark::kMillisecond);

// One analyser frame (16384-point FFT, 1/24-octave bands); at 20 frames a
// second its share of one core is 20 x this time.
void BM_AnalyserFrame(benchmark::State& state)
{
    Analyser a(48000, 24, 8);
    PinkNoise pink(-20);
    std::vector<float> x(16384);
    pink.Fill(x.data(), x.size());
    a.Push(x.data(), x.size());
    for (auto _ : state)
        a.Frame();
}
BENCHMARK(BM_AnalyserFrame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
