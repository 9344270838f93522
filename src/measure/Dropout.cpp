#include "measure/Dropout.h"

#include "measure/Fft.h"

#include <algorithm>
#include <cmath>

namespace ktv::measure {

namespace {
enum Kind : int {
    kNone,
    kInOver,
    kInUnder,
    kOutUnder,
    kOutOver,
};

const char* KindText(int kind)
{
    switch (kind) {
    case kInOver: return "the input overflowed";
    case kInUnder: return "the input ran dry";
    case kOutUnder: return "the output ran dry";
    default: return "the output overflowed";
    }
}

Dropout At(double seconds, const char* what) { return Dropout{std::round(seconds * 10) / 10, what}; }

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}
} // namespace

void StreamWatch::Block(std::size_t frames, unsigned flags) noexcept
{
    const std::size_t before = frames_.load(std::memory_order_relaxed);
    int kind = kNone;
    if (flags & kInputOverflow)
        kind = kInOver;
    else if (flags & kInputUnderflow)
        kind = kInUnder;
    else if (flags & kOutputUnderflow)
        kind = kOutUnder;
    else if (flags & kOutputOverflow)
        kind = kOutOver;
    if (kind != kNone && kind_.load(std::memory_order_relaxed) == kNone) {
        at_.store(before, std::memory_order_relaxed);
        kind_.store(kind, std::memory_order_release);
    }
    frames_.store(before + frames, std::memory_order_release);
}

std::optional<Dropout> StreamWatch::First() const
{
    const int kind = kind_.load(std::memory_order_acquire);
    if (kind == kNone)
        return std::nullopt;
    return At(at_.load(std::memory_order_relaxed) / rate_, KindText(kind));
}

std::size_t StreamWatch::FirstFrame() const noexcept
{
    return kind_.load(std::memory_order_acquire) == kNone ? static_cast<std::size_t>(-1)
                                                          : at_.load(std::memory_order_relaxed);
}

std::optional<Dropout> CheckCounts(std::size_t played, std::size_t sweepFrames, std::size_t recorded,
                                   std::size_t frames, double rate)
{
    if (recorded < frames)
        return At(recorded / rate, "the recording stopped short");
    if (played < sweepFrames)
        return At(played / rate, "the output fell behind the input");
    return std::nullopt;
}

std::optional<Dropout> FindBreak(const std::vector<float>& recording, const std::vector<double>& ir,
                                 const SweepPlan& plan, double gateMs)
{
    const std::size_t n = ir.size();
    if (n == 0 || recording.empty())
        return std::nullopt;
    const double rate = plan.Rate;
    std::size_t peak = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (std::abs(ir[i]) > std::abs(ir[peak]))
            peak = i;
    // A response whose peak lies before time zero: the recording missed the
    // sweep's start.
    if (peak >= n / 2)
        return At(0, "the recording started after the sweep");
    const auto sweep = MakeSweep(plan);
    if (peak + sweep.size() > recording.size() + static_cast<std::size_t>(0.005 * rate))
        return At(recording.size() / rate, "the recording ends before the sweep does");

    // What the recording should be: the sweep through the gated response,
    // placed where the response starts. The response holds the band limits
    // deconvolution gave it, so the recording is compared through the same.
    const double preMs = PreGateMs(plan);
    const auto gated = Gate(ir, rate, gateMs, preMs);
    const std::size_t start = (peak + n - static_cast<std::size_t>(std::min(preMs, gateMs) / 1000 * rate) % n) % n;
    std::vector<double> g(n, 0.0), x(n, 0.0), r(n, 0.0);
    for (std::size_t j = 0; j < gated.size() && j < n; ++j)
        g[(start + j) % n] = gated[j];
    std::copy(sweep.begin(), sweep.end(), x.begin());
    std::copy(recording.begin(), recording.begin() + std::min(recording.size(), n), r.begin());
    RealFft fft(n);
    auto G = fft.Forward(g);
    const auto X = fft.Forward(x);
    auto R = fft.Forward(r);
    for (std::size_t k = 0; k < G.size(); ++k) {
        G[k] *= X[k];
        R[k] *= BandLimit(k * rate / n, plan);
    }
    const auto y = fft.Inverse(G);
    const auto heard = fft.Inverse(R);

    // Running sums of the expected power, the recorded power and the
    // residual's while the sweep runs through the reported range (in the
    // margins the response is rolled off, so it explains less there).
    const double k = plan.Seconds / std::log(SweepEndHz(plan) / SweepStartHz(plan));
    const auto into = [&](double hz) {
        return static_cast<std::size_t>(std::max(0.0, k * std::log(hz / SweepStartHz(plan)) * rate));
    };
    const std::size_t from = peak + into(plan.LoHz),
                      to = std::min(recording.size(), peak + std::min(sweep.size(), into(plan.HiHz)));
    if (to <= from)
        return std::nullopt;
    std::vector<double> pred(to - from + 1, 0.0), rec(pred.size(), 0.0), res(pred.size(), 0.0);
    for (std::size_t i = from; i < to; ++i) {
        const double h = heard[i], p = y[i];
        pred[i - from + 1] = pred[i - from] + p * p;
        rec[i - from + 1] = rec[i - from] + h * h;
        res[i - from + 1] = res[i - from] + (h - p) * (h - p);
    }
    const auto sum = [](const std::vector<double>& c, std::size_t a, std::size_t b) { return c[b] - c[a]; };

    // Silence where the sweep sounds: a 5 ms window (a millisecond apart
    // from the next) that holds under a hundredth of the power its
    // neighbours within 50 ms hold. The response cannot be asked what is
    // due there: a gap shorter than the gate comes out of deconvolution as a
    // response that is late above the gap's frequency, and the sweep
    // through it has the gap too. A room's dip comes and goes gradually
    // (its sharpest notches ring as long as the sweep takes through them).
    const auto win = static_cast<std::size_t>(0.005 * rate), hop = std::max<std::size_t>(1, std::size_t(rate / 1000));
    if (rec.size() > win + 1) {
        std::vector<double> power;
        for (std::size_t a = 0; a + win < rec.size(); a += hop)
            power.push_back(sum(rec, a, a + win));
        const double typical = Median(power);
        const std::size_t reach = 50;
        for (std::size_t w = 0; w < power.size(); ++w) {
            if (power[w] >= typical * 0.01)
                continue;
            const std::size_t lo = w > reach ? w - reach : 0, hi = std::min(power.size(), w + reach + 1);
            const double around = Median(std::vector<double>(power.begin() + lo, power.begin() + hi));
            if (around > typical * 0.05 && power[w] < around * 0.01)
                return At((from + w * hop) / rate, "the recording went silent");
        }
    }

    // A stretch the response does not explain: in 50 ms blocks, a residual
    // above the expected sound itself and ten times the usual residual
    // (steady room noise raises both alike).
    const auto block = static_cast<std::size_t>(0.05 * rate);
    if (pred.size() > block) {
        std::vector<double> residuals;
        for (std::size_t a = 0; a + block < pred.size(); a += block)
            residuals.push_back(sum(res, a, a + block));
        const double usual = Median(residuals);
        for (std::size_t a = 0; a + block < pred.size(); a += block) {
            const double e = sum(res, a, a + block);
            if (e > sum(pred, a, a + block) && e > usual * 10)
                return At((from + a) / rate, "the recording does not follow the sweep");
        }
    }
    return std::nullopt;
}

} // namespace ktv::measure
