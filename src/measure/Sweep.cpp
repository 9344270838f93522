#include "measure/Sweep.h"

#include "measure/Fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <sstream>

namespace ktv::measure {

namespace {
constexpr double kPi = std::numbers::pi;

std::size_t NextPow2(std::size_t n)
{
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}
} // namespace

bool CheckSweepPlan(const SweepPlan& s, std::string* why)
{
    auto fail = [&](const char* text) {
        if (why)
            *why = text;
        return false;
    };
    if (!(s.Rate >= 8000 && s.Rate <= 384000))
        return fail("The sample rate must be between 8000 and 384000 Hz.");
    if (!(s.Seconds >= 1 && s.Seconds <= 10))
        return fail("The sweep length must be between 1 and 10 s.");
    if (!(s.LoHz >= 1 && s.HiHz > s.LoHz * 2 && s.HiHz < s.Rate / 2))
        return fail("The range must rise by at least an octave and stay below half the sample rate.");
    if (!(s.LevelDbfs <= 0 && s.LevelDbfs >= -60))
        return fail("The level must be between -60 and 0 dBFS.");
    return true;
}

double SweepStartHz(const SweepPlan& s) { return s.LoHz / 2; }

double SweepEndHz(const SweepPlan& s) { return std::max(s.HiHz, std::min(s.HiHz * std::cbrt(2.0), 0.95 * s.Rate / 2)); }

std::vector<float> MakeSweep(const SweepPlan& s)
{
    const auto n = static_cast<std::size_t>(std::llround(s.Seconds * s.Rate));
    const double f1 = SweepStartHz(s), f2 = SweepEndHz(s);
    const double w1 = 2 * kPi * f1;
    const double k = s.Seconds / std::log(f2 / f1);
    const double amp = std::pow(10.0, s.LevelDbfs / 20);
    // The fades keep the ends from clicking and lie wholly in the margins,
    // clear of the reported range's end points and their 24th of an octave:
    // in over the octave below LoHz, out over what lies above HiHz (at
    // least a millisecond where the range reaches the top).
    const double edge = std::pow(2.0, 1.0 / 24);
    const auto fadeIn = static_cast<std::size_t>(k * std::log(s.LoHz / edge / f1) * s.Rate);
    const auto fadeOut = std::max<std::size_t>(
        static_cast<std::size_t>(k * std::log(f2 / std::min(f2, s.HiHz * edge)) * s.Rate), std::size_t(s.Rate / 1000));
    std::vector<float> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = i / s.Rate;
        double v = std::sin(w1 * k * (std::exp(t / k) - 1));
        if (i < fadeIn)
            v *= 0.5 - 0.5 * std::cos(kPi * i / fadeIn);
        if (i + fadeOut >= n)
            v *= 0.5 - 0.5 * std::cos(kPi * (n - 1 - i) / fadeOut);
        out[i] = static_cast<float>(amp * v);
    }
    return out;
}

std::complex<double> BandLimit(double f, const SweepPlan& s)
{
    // At the top a raised cosine in log frequency, from a 24th of an octave
    // above HiHz (the last point's own band) to the sweep's end: its ringing
    // is shorter than a millisecond. At the bottom a zero-phase roll-off
    // would ring for a tenth of a second on both sides of the impulse, and
    // the gate would cut off what comes before it, so there the roll-off is
    // a causal one, an eighth-order Butterworth high-pass 3/4 of an octave
    // below LoHz (-0.001 dB at LoHz), whose ringing all follows the impulse
    // and stays inside the gate.
    const double end = SweepEndHz(s), top = std::min(end, s.HiHz * std::pow(2.0, 1.0 / 24));
    if (f <= 0 || f >= end)
        return 0;
    double w = 1;
    if (f > top)
        w = 0.5 + 0.5 * std::cos(kPi * std::log(f / top) / std::log(end / top));
    std::complex<double> hp = w;
    const std::complex<double> jr(0, f / (s.LoHz * std::pow(2.0, -0.75))); // s / wc
    for (int i = 1; i <= 4; ++i) {
        const double damping = 2 * std::sin((2 * i - 1) * kPi / 16); // 1/Q of each pair of poles
        hp *= jr * jr / (jr * jr + damping * jr + 1.0);
    }
    return hp;
}

std::vector<double> Deconvolve(const std::vector<float>& recording, const SweepPlan& s)
{
    const auto sweep = MakeSweep(s);
    const std::size_t n = NextPow2(std::max(recording.size(), sweep.size()) * 2);
    std::vector<double> a(n, 0.0), b(n, 0.0);
    std::copy(recording.begin(), recording.end(), a.begin());
    std::copy(sweep.begin(), sweep.end(), b.begin());
    RealFft fft(n);
    auto ra = fft.Forward(a);
    auto sb = fft.Forward(b);
    // Inside the range the sweep's own spectrum is divided out; outside it a
    // small floor keeps the division from lifting noise into the response.
    double peak = 0;
    for (auto& c : sb)
        peak = std::max(peak, std::norm(c));
    const double floor = peak * 1e-8;
    for (std::size_t k = 0; k < ra.size(); ++k) {
        const std::complex<double> w = BandLimit(k * s.Rate / n, s);
        ra[k] = w == 0.0 ? 0 : w * ra[k] * std::conj(sb[k]) / (std::norm(sb[k]) + floor);
    }
    return fft.Inverse(ra);
}

std::vector<double> Gate(const std::vector<double>& ir, double rate, double gateMs, double preMs)
{
    if (ir.empty())
        return {};
    std::size_t peak = 0;
    for (std::size_t i = 1; i < ir.size(); ++i)
        if (std::abs(ir[i]) > std::abs(ir[peak]))
            peak = i;
    const auto pre = static_cast<std::size_t>(std::min(preMs, gateMs) / 1000 * rate);
    const auto post = std::max<std::size_t>(1, static_cast<std::size_t>(gateMs / 1000 * rate) - pre);
    const auto fadeOut = std::max<std::size_t>(1, post / 5);
    std::vector<double> out(pre + post, 0.0);
    const std::size_t n = ir.size();
    for (std::size_t j = 0; j < out.size(); ++j) {
        // The response is circular: before time zero is its end.
        const std::size_t i = (peak + n - pre % n + j) % n;
        double w = 1;
        if (j < pre)
            w = 0.5 - 0.5 * std::cos(kPi * j / pre);
        else if (j >= out.size() - fadeOut)
            w = 0.5 - 0.5 * std::cos(kPi * (out.size() - 1 - j) / fadeOut);
        out[j] = ir[i] * w;
    }
    return out;
}

double PreGateMs(const SweepPlan& s)
{
    const double secondHarmonic = s.Seconds * std::log(2.0) / std::log(SweepEndHz(s) / SweepStartHz(s));
    return std::min(50.0, 500 * secondHarmonic);
}

Response Magnitude(const std::vector<double>& ir, double rate, double loHz, double hiHz, int perOctave)
{
    // Zero-padded to bins of under 0.2 Hz, so the lowest points, narrower
    // than a bin, still land on their own frequency.
    const std::size_t n = NextPow2(std::max<std::size_t>(ir.size(), static_cast<std::size_t>(rate * 5)));
    std::vector<double> x(n, 0.0);
    std::copy(ir.begin(), ir.end(), x.begin());
    RealFft fft(n);
    const auto spectrum = fft.Forward(x);
    Response r;
    const double step = std::pow(2.0, 1.0 / perOctave), half = std::sqrt(step);
    // The grid runs from lo by steps and ends on hi itself.
    std::vector<double> grid;
    for (double f = loHz; f < hiHz / std::pow(step, 0.25); f *= step)
        grid.push_back(f);
    grid.push_back(hiHz);
    for (double f : grid) {
        const double binHz = rate / n;
        auto k0 = static_cast<std::size_t>(std::ceil(f / half / binHz));
        auto k1 = static_cast<std::size_t>(std::floor(f * half / binHz));
        k1 = std::min(k1, spectrum.size() - 1);
        double sum = 0;
        std::size_t count = 0;
        for (std::size_t k = k0; k <= k1; ++k, ++count)
            sum += std::norm(spectrum[k]);
        if (count == 0) {
            // Narrower than a bin: the nearest one.
            const auto k = std::min(spectrum.size() - 1, static_cast<std::size_t>(std::llround(f / binHz)));
            sum = std::norm(spectrum[k]);
            count = 1;
        }
        r.Hz.push_back(f);
        r.Db.push_back(10 * std::log10(std::max(sum / count, 1e-30)));
    }
    return r;
}

Response Smooth(const Response& in, double fraction)
{
    if (fraction <= 0 || in.Hz.empty())
        return in;
    Response out = in;
    const double half = std::pow(2.0, 0.5 / fraction);
    std::size_t a = 0, b = 0;
    double sum = 0;
    for (std::size_t i = 0; i < in.Hz.size(); ++i) {
        while (b < in.Hz.size() && in.Hz[b] <= in.Hz[i] * half)
            sum += std::pow(10.0, in.Db[b++] / 10);
        while (in.Hz[a] < in.Hz[i] / half)
            sum -= std::pow(10.0, in.Db[a++] / 10);
        out.Db[i] = 10 * std::log10(std::max(sum / (b - a), 1e-30));
    }
    return out;
}

bool PowerAverage(const std::vector<Response>& in, Response& out, std::string* why)
{
    if (in.empty()) {
        if (why)
            *why = "There is no measurement to average.";
        return false;
    }
    for (const auto& r : in)
        if (r.Hz != in.front().Hz) {
            if (why)
                *why = "The measurements to average do not share their frequencies.";
            return false;
        }
    out.Hz = in.front().Hz;
    out.Db.assign(out.Hz.size(), 0.0);
    for (std::size_t i = 0; i < out.Hz.size(); ++i) {
        double sum = 0;
        for (const auto& r : in)
            sum += std::pow(10.0, r.Db[i] / 10);
        out.Db[i] = 10 * std::log10(sum / in.size());
    }
    return true;
}

bool CheckRecording(const std::vector<float>& rec, std::string* why)
{
    float peak = 0;
    std::size_t atTop = 0;
    for (float v : rec) {
        const float a = std::abs(v);
        peak = std::max(peak, a);
        if (a >= 0.999f)
            ++atTop;
    }
    // A few samples at full scale are a flat top, not a loud peak.
    if (atTop >= 3) {
        if (why)
            *why = "The recording clipped (the input reached full scale): turn the output level or the "
                   "microphone gain down and measure again.";
        return false;
    }
    const double peakDb = peak > 0 ? 20 * std::log10(peak) : -999;
    if (peakDb < -50) {
        if (why) {
            std::ostringstream s;
            s << "The recording is too quiet (its peak is ";
            if (peak > 0)
                s << std::lround(peakDb) << " dBFS";
            else
                s << "silence";
            s << "): check that the microphone is connected and the right input chosen, then turn the output "
                 "level or the microphone gain up.";
            *why = s.str();
        }
        return false;
    }
    return true;
}

} // namespace ktv::measure
