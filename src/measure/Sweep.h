#pragma once
// Sweep measurement: an exponential sine sweep, its inverse, deconvolution of
// the recording into an impulse response, the gate and the magnitude on a
// logarithmic frequency grid. Standard library and FFTW only.

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

namespace ktv::measure {

struct SweepPlan {
    double Rate = 48000;       // samples per second
    double Seconds = 3;        // 1 to 10
    double LoHz = 20, HiHz = 20000;
    double LevelDbfs = -20;    // peak level of the sweep
};

// The range and length a sweep may take; false with the reason otherwise.
[[nodiscard]] bool CheckSweepPlan(const SweepPlan& plan, std::string* why = nullptr);

// The range the sweep itself runs over: an octave below the range it
// reports, and above it up to 95 % of half the sample rate (at most a third
// of an octave). The fades and the deconvolution's band limits lie in these
// margins, so the reported band's ends are measured as flat as its middle.
[[nodiscard]] double SweepStartHz(const SweepPlan& plan);
[[nodiscard]] double SweepEndHz(const SweepPlan& plan);

// The sweep's samples: an exponential rise from SweepStartHz to SweepEndHz in
// plan.Seconds, faded in below LoHz and out above HiHz.
[[nodiscard]] std::vector<float> MakeSweep(const SweepPlan& plan);

// The roll-off Deconvolve gives the response in the margins, at `hz`:
// 1 inside the reported range, 0 outside the swept one.
[[nodiscard]] std::complex<double> BandLimit(double hz, const SweepPlan& plan);

// Deconvolves `recording` by the sweep `plan` describes: the regularised
// spectral inverse of the sweep, rolled off in the margins outside the
// reported range. The response is as long as the FFT (recording length
// rounded up); distortion products land at its end, before time zero.
[[nodiscard]] std::vector<double> Deconvolve(const std::vector<float>& recording, const SweepPlan& plan);

// Keeps `gateMs` of the impulse response, `preMs` of it before the peak
// (the band limits ring on both sides of it), with half-Hann fades; the
// returned response starts at the window's start.
[[nodiscard]] std::vector<double> Gate(const std::vector<double>& ir, double rate, double gateMs = 500,
                                       double preMs = 5);

// The time before the peak a gate may keep without taking in the sweep's
// second harmonic, which deconvolution puts before the impulse: half of it,
// at most 50 ms.
[[nodiscard]] double PreGateMs(const SweepPlan& plan);

// A magnitude response on a log grid: `pointsPerOctave` points per octave from
// lo to hi, each the power mean of the FFT bins within its own share of an
// octave. 24 a octave is what the automatic EQ fits at, and averages enough
// bins to keep a noisy room's curve steady.
struct Response {
    std::vector<double> Hz;
    std::vector<double> Db;
};
[[nodiscard]] Response Magnitude(const std::vector<double>& ir, double rate, double loHz, double hiHz,
                                 int pointsPerOctave = 24);

// Power mean of each point over 1/fraction octave around it (fraction 0: as is).
[[nodiscard]] Response Smooth(const Response& in, double fraction);

// Power average of responses on the same grid (several microphone positions).
[[nodiscard]] bool PowerAverage(const std::vector<Response>& in, Response& out, std::string* why = nullptr);

// Refuses a recording that clipped or that holds nothing worth measuring;
// `why` says which and what to change.
[[nodiscard]] bool CheckRecording(const std::vector<float>& recording, std::string* why = nullptr);

} // namespace ktv::measure
