#include "measure/SimulatedRoom.h"

#include "measure/Dropout.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace ktv::measure {

namespace {
struct Biquad {
    double b0, b1, b2, a1, a2;
};

// The usual peaking equaliser section.
Biquad Peaking(const Resonance& r, double rate)
{
    const double A = std::pow(10.0, r.GainDb / 40), w = 2 * std::numbers::pi * r.Hz / rate;
    const double alpha = std::sin(w) / (2 * r.Q), c = std::cos(w);
    const double a0 = 1 + alpha / A;
    return {(1 + alpha * A) / a0, -2 * c / a0, (1 - alpha * A) / a0, -2 * c / a0, (1 - alpha / A) / a0};
}
} // namespace

double SimulatedRoom::TrueDb(double hz, double rate) const
{
    const auto z = std::polar(1.0, -2 * std::numbers::pi * hz / rate);
    double db = model_.GainDb;
    for (const auto& r : model_.Resonances) {
        const auto q = Peaking(r, rate);
        const auto h = (q.b0 + q.b1 * z + q.b2 * z * z) / (1.0 + q.a1 * z + q.a2 * z * z);
        db += 20 * std::log10(std::abs(h));
    }
    return db;
}

std::vector<float> SimulatedRoom::Pass(const std::vector<float>& out, std::size_t frames, double rate) const
{
    std::vector<double> x(frames, 0.0);
    const auto delay = static_cast<std::size_t>(std::llround(model_.DelayMs / 1000 * rate));
    const double g = std::pow(10.0, model_.GainDb / 20);
    for (std::size_t i = 0; i < out.size() && i + delay < frames; ++i)
        x[i + delay] = out[i] * g;
    for (const auto& r : model_.Resonances) {
        const auto q = Peaking(r, rate);
        double z1 = 0, z2 = 0;
        for (auto& v : x) {
            const double y = q.b0 * v + z1;
            z1 = q.b1 * v - q.a1 * y + z2;
            z2 = q.b2 * v - q.a2 * y;
            v = y;
        }
    }
    double power = 0;
    std::size_t count = 0;
    for (std::size_t i = delay; i < std::min(frames, delay + out.size()); ++i, ++count)
        power += x[i] * x[i];
    const double noiseRms = count ? std::sqrt(power / count) * std::pow(10.0, -model_.SnrDb / 20) : 0;
    std::mt19937 rng(model_.Seed);
    std::normal_distribution<double> noise(0, 1);
    std::vector<float> in(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        // A sound card's input stops at full scale.
        const double v = x[i] + noiseRms * noise(rng);
        in[i] = static_cast<float>(std::fmax(-1.0, std::fmin(1.0, v)));
    }
    return in;
}

std::vector<AudioEndpoint> SimulatedRoom::Endpoints()
{
    return {{"Simulated room", true, true, true}};
}

bool SimulatedRoom::PlayRecord(const std::string&, const std::string&, double rate, const std::vector<float>& out,
                               std::size_t frames, std::vector<float>& in, std::optional<Dropout>& dropout,
                               const TakeProgress& progress, std::string*)
{
    ++calls_;
    ++model_.Seed; // another position, other noise
    dropout.reset();
    // The card's blocks, 10 ms each, as its callbacks would see them.
    StreamWatch watch(rate);
    const auto block = static_cast<std::size_t>(rate / 100);
    if (calls_ <= model_.DroppedTakes) {
        const auto at = std::min(out.size(), static_cast<std::size_t>(model_.DropAtSeconds * rate));
        const auto gap = static_cast<std::size_t>(model_.DropMs / 1000 * rate);
        std::vector<float> late(out.begin(), out.begin() + at);
        late.insert(late.end(), gap, 0.0f);
        late.insert(late.end(), out.begin() + at, out.end());
        in = Pass(late, frames, rate);
        for (std::size_t i = 0; i < frames; i += block)
            watch.Block(block, model_.DropReported && i <= at && at < i + block ? unsigned(kOutputUnderflow) : 0u);
    } else {
        in = Pass(out, frames, rate);
        for (std::size_t i = 0; i < frames; i += block)
            watch.Block(block, 0);
    }
    dropout = watch.First();
    // Progress every 100 ms of sound, in real time when asked.
    const auto step = static_cast<std::size_t>(rate / 10);
    auto next = std::chrono::steady_clock::now();
    for (std::size_t done = 0; done < frames;) {
        const std::size_t to = std::min(frames, done + step);
        float peak = 0;
        for (std::size_t i = done; i < to; ++i)
            peak = std::max(peak, std::abs(in[i]));
        done = to;
        if (model_.RealTime) {
            next += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(next);
        }
        if (progress)
            progress(done, peak);
    }
    return true;
}

bool SimulatedRoom::StartStream(const std::string&, const std::string&, double rate, Fill fill, Take take,
                                std::string*)
{
    StopStream();
    stop_ = false;
    stream_ = std::thread([this, rate, fill = std::move(fill), take = std::move(take)] {
        // Blocks of 10 ms at the pace of a real card.
        const auto block = static_cast<std::size_t>(rate / 100);
        std::vector<float> out(block);
        auto next = std::chrono::steady_clock::now();
        while (!stop_) {
            fill(out.data(), block);
            const auto in = Pass(out, block, rate);
            take(in.data(), block);
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    });
    return true;
}

void SimulatedRoom::StopStream()
{
    stop_ = true;
    if (stream_.joinable())
        stream_.join();
}

} // namespace ktv::measure
