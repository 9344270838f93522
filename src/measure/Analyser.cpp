#include "measure/Analyser.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ktv::measure {

Analyser::Analyser(double rate, int bandsPerOctave, int averages, std::size_t fftSize)
    : rate_(rate), n_(fftSize), averages_(std::max(1, averages)), fft_(fftSize)
{
    // A new frame every 1/20 s at most, so the chart moves at 20 Hz.
    hop_ = std::min<std::size_t>(n_ / 2, static_cast<std::size_t>(rate / 20));
    window_.resize(n_);
    for (std::size_t i = 0; i < n_; ++i) {
        window_[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n_);
        windowPower_ += window_[i] * window_[i];
    }
    ring_.assign(n_, 0.0);
    // Bands centred on 1 kHz's octave series, 20 Hz to 20 kHz.
    const double step = std::pow(2.0, 1.0 / bandsPerOctave), half = std::sqrt(step);
    const double first = 1000 * std::pow(step, std::ceil(std::log(20.0 / 1000) / std::log(step)));
    const double binHz = rate / n_;
    for (double f = first; f <= std::min(20000.0, rate / 2 / half); f *= step) {
        centres_.push_back(f);
        auto a = static_cast<std::size_t>(std::ceil(f / half / binHz));
        auto b = static_cast<std::size_t>(std::floor(f * half / binHz));
        if (b < a) // narrower than a bin: the nearest one
            a = b = static_cast<std::size_t>(std::llround(f / binHz));
        lo_.push_back(a);
        hi_.push_back(std::min(b, n_ / 2));
    }
    level_.assign(centres_.size(), -200.0);
    peak_.assign(centres_.size(), -200.0);
    mean_.assign(centres_.size(), 0.0);
}

void Analyser::ResetPeaks() { std::fill(peak_.begin(), peak_.end(), -200.0); }

bool Analyser::Push(const float* x, std::size_t n)
{
    bool any = false;
    for (std::size_t i = 0; i < n; ++i) {
        ring_[write_] = x[i];
        write_ = (write_ + 1) % n_;
        if (++sinceFrame_ >= hop_) {
            sinceFrame_ = 0;
            Frame();
            any = true;
        }
    }
    return any;
}

void Analyser::Frame()
{
    std::vector<double> buf(n_);
    for (std::size_t i = 0; i < n_; ++i)
        buf[i] = ring_[(write_ + i) % n_] * window_[i];
    const auto spectrum = fft_.Forward(buf);
    // Scaled so a full-scale sine reads 0 dBFS whatever band it falls in:
    // the band's power sum, normalised by the window's power.
    const double scale = 2.0 / (n_ * windowPower_) / 0.5;
    ++frames_;
    const double alpha = 1.0 / std::min<std::size_t>(frames_, averages_);
    for (std::size_t b = 0; b < centres_.size(); ++b) {
        double sum = 0;
        for (std::size_t k = lo_[b]; k <= hi_[b]; ++k)
            sum += std::norm(spectrum[k]);
        const double p = sum * scale;
        mean_[b] += alpha * (p - mean_[b]);
        level_[b] = 10 * std::log10(std::max(mean_[b], 1e-20));
        peak_[b] = std::max(peak_[b], level_[b]);
    }
}

PinkNoise::PinkNoise(double levelDbfs, std::uint32_t seed) : state_(seed ? seed : 1)
{
    // Paul Kellet's filter turns unit-RMS white noise into pink noise of RMS about 3.06.
    gain_ = std::pow(10.0, levelDbfs / 20) / 3.06;
}

void PinkNoise::Fill(float* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        const double white = (state_ / 4294967296.0 * 2 - 1) * 1.7320508; // unit RMS
        b_[0] = 0.99886 * b_[0] + white * 0.0555179;
        b_[1] = 0.99332 * b_[1] + white * 0.0750759;
        b_[2] = 0.96900 * b_[2] + white * 0.1538520;
        b_[3] = 0.86650 * b_[3] + white * 0.3104856;
        b_[4] = 0.55000 * b_[4] + white * 0.5329522;
        b_[5] = -0.7616 * b_[5] - white * 0.0168980;
        const double pink = b_[0] + b_[1] + b_[2] + b_[3] + b_[4] + b_[5] + b_[6] + white * 0.5362;
        b_[6] = white * 0.115926;
        out[i] = static_cast<float>(std::clamp(pink * gain_, -1.0, 1.0));
    }
}

} // namespace ktv::measure
