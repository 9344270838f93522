#pragma once
// The live analyser: the input's spectrum in fractional-octave bands, with
// averaging and peak hold; and pink noise to play while it runs.

#include "measure/Fft.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ktv::measure {

class Analyser {
public:
    // bandsPerOctave: 3, 6 or 24; averages: frames in the running power mean (1: none).
    Analyser(double rate, int bandsPerOctave, int averages = 1, std::size_t fftSize = 16384);

    const std::vector<double>& BandHz() const { return centres_; }
    // Feeds input; returns true when at least one new frame was computed.
    bool Push(const float* x, std::size_t n);
    // One frame from the newest fftSize samples (what Push does each hop).
    void Frame();
    // Band levels in dBFS of the latest frame (averaged) and their peaks.
    const std::vector<double>& LevelDb() const { return level_; }
    const std::vector<double>& PeakDb() const { return peak_; }
    void ResetPeaks();
    std::size_t Hop() const { return hop_; }

private:
    double rate_;
    std::size_t n_, hop_;
    int averages_;
    RealFft fft_;
    std::vector<double> window_, ring_, centres_, level_, peak_, mean_;
    std::vector<std::size_t> lo_, hi_;
    std::size_t write_ = 0, sinceFrame_ = 0, frames_ = 0;
    double windowPower_ = 0;
};

// Pink noise (-3 dB per octave) at an RMS level in dBFS.
class PinkNoise {
public:
    explicit PinkNoise(double levelDbfs = -20, std::uint32_t seed = 1);
    void Fill(float* out, std::size_t n);

private:
    double gain_;
    std::uint32_t state_;
    double b_[7] = {};
};

} // namespace ktv::measure
