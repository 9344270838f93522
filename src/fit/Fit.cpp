#include "fit/Fit.h"

#include "dsp/Filter.h"
#include "dsp/Math.h"
#include "dsp/StepTables.h"

#include <nlopt.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace ktv {

namespace {

constexpr std::uint8_t BellOn = FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell);
constexpr double BoxMaxBoostDb = BandGainMax;
constexpr double BoxMaxCutDb = BandGainMin;
// Placement looks at the error smoothed over about a sixth of an octave, so a
// band starts on a real deviation rather than on one noisy point.
constexpr int SmoothHalfWidth = FitPointsPerOctave / 12;
constexpr int MaxSearchPasses = 200;
// Beyond the level limit the continuous phase pays this much error (dB²)
// per dB² of excess: enough to hold the level within a few thousandths of
// a dB of the limit, smooth enough for the optimiser.
constexpr double LevelPenalty = 100.0;

bool Fail(std::string* why, const char* text)
{
    if (why)
        *why = text;
    return false;
}

// The log-spaced points the fit is judged on, with the sines and cosines the
// response needs worked out once per point.
struct Grid {
    std::vector<double> hz, octave; // octave: log2 of the frequency
    std::vector<double> c1, s1, c2, s2;

    void Build(double lo, double hi)
    {
        const double span = Log2(hi / lo);
        const std::size_t n = std::size_t(std::ceil(span * FitPointsPerOctave)) + 1;
        hz.resize(n);
        octave.resize(n);
        c1.resize(n);
        s1.resize(n);
        c2.resize(n);
        s2.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            octave[i] = Log2(lo) + span * double(i) / double(n - 1);
            // MagnitudeDb takes a float frequency: use that very value.
            const float f = float(Exp2(octave[i]));
            hz[i] = f;
            const double w = TwoPi * double(f) / SampleRate;
            c1[i] = Cos(-w);
            s1[i] = Sin(-w);
            c2[i] = Cos(-2.0 * w);
            s2[i] = Sin(-2.0 * w);
        }
    }
    std::size_t Size() const { return hz.size(); }

    // |H|^2 at every point: the sums MagnitudeDb forms, on the precomputed
    // sines and cosines. Multiplies into out, so a channel's bands need one
    // logarithm per point between them.
    void MultiplyPower(const Coefficients& coef, double* out) const
    {
        const double b0 = coef[0], b1 = coef[1], b2 = coef[2], a1 = coef[3], a2 = coef[4];
        const std::size_t n = Size();
        for (std::size_t i = 0; i < n; ++i) {
            const double nr = b0 + b1 * c1[i] + b2 * c2[i];
            const double ni = b1 * s1[i] + b2 * s2[i];
            const double dr = 1.0 + a1 * c1[i] + a2 * c2[i];
            const double di = a1 * s1[i] + a2 * s2[i];
            out[i] *= (nr * nr + ni * ni) / (dr * dr + di * di);
        }
    }

    static void ToDb(double* values, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            values[i] = values[i] > 0.0 ? 10.0 * Log10(values[i]) : MagnitudeFloorDb;
    }

    // MagnitudeDb at every point.
    void Response(const Coefficients& coef, double* out) const
    {
        std::fill(out, out + Size(), 1.0);
        MultiplyPower(coef, out);
        ToDb(out, Size());
    }
};

// y at x by straight lines between the given points, flat beyond the ends.
double Interpolate(std::span<const double> xs, std::span<const double> ys, double x)
{
    if (x <= xs.front())
        return ys.front();
    if (x >= xs.back())
        return ys.back();
    const std::size_t hi = std::size_t(std::upper_bound(xs.begin(), xs.end(), x) - xs.begin());
    const std::size_t lo = hi - 1;
    const double t = (x - xs[lo]) / (xs[hi] - xs[lo]);
    return ys[lo] + t * (ys[hi] - ys[lo]);
}

// Where the measurement is much denser than the grid (a linear FFT export at
// high frequencies) each grid point gets the mean of the measured points
// within half a grid step, so it is averaged rather than sampled; elsewhere
// the straight line between the neighbouring points.
std::vector<double> Resample(const Grid& grid, std::span<const double> octave, std::span<const double> db)
{
    constexpr std::ptrdiff_t DenseCount = 4;
    const double half = 0.5 / FitPointsPerOctave;
    std::vector<double> out(grid.Size());
    for (std::size_t i = 0; i < grid.Size(); ++i) {
        const double at = grid.octave[i];
        auto first = std::lower_bound(octave.begin(), octave.end(), at - half);
        auto last = std::upper_bound(octave.begin(), octave.end(), at + half);
        if (last - first >= DenseCount) {
            double sum = 0.0;
            for (auto it = first; it != last; ++it)
                sum += db[std::size_t(it - octave.begin())];
            out[i] = sum / double(last - first);
        } else {
            out[i] = Interpolate(octave, db, at);
        }
    }
    return out;
}

FitError Measure(std::span<const double> residual, double* mean = nullptr)
{
    double sum = 0.0;
    for (double r : residual)
        sum += r;
    const double m = sum / double(residual.size());
    double squares = 0.0, largest = 0.0;
    for (double r : residual) {
        squares += (r - m) * (r - m);
        largest = std::max(largest, std::abs(r - m));
    }
    if (mean)
        *mean = m;
    return {std::sqrt(squares / double(residual.size())), largest};
}

struct Spreading {
    double spread; // mean square around the mean
    double mean;
};

Spreading SpreadAndMean(const double* a, const double* b, std::size_t n)
{
    double sum = 0.0, squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = a[i] + b[i];
        sum += r;
        squares += r * r;
    }
    const double m = sum / double(n);
    return {std::max(0.0, squares / double(n) - m * m), m};
}

// Mean square of a + b around its mean: the quantity every phase minimises.
double Spread(const double* a, const double* b, std::size_t n) { return SpreadAndMean(a, b, n).spread; }

// How far a level lies below the lowest allowed.
double Excess(double level, double lowest) { return std::max(0.0, lowest - level); }

PeqBand MakeBell(double fc, double q, double gain)
{
    PeqBand band;
    band.Flags = BellOn;
    band.Fc = float(fc);
    band.Q = float(q);
    band.Gain = float(gain);
    return band;
}

void BandResponse(const Grid& grid, PeqBand band, double* out)
{
    DesignBand(band);
    grid.Response(band.Coef, out);
}

// One dimension of the stepped search: the values the box can hold, that is
// the editor's steps after the band record's tenths (several Q steps below
// 1.3 reach the box as the same tenth), each once, ascending. The fit
// searches and gives these values only, so what it shows is what the box
// and a saved preset will hold.
struct Ladder {
    std::vector<float> held;

    void Add(float h)
    {
        if (held.empty() || held.back() != h)
            held.push_back(h);
    }
    int Size() const { return int(held.size()); }
    // The rung nearest to x (by ratio when logarithmic).
    int Nearest(double x, bool logarithmic) const
    {
        int best = 0;
        double bestDistance = std::numeric_limits<double>::infinity();
        for (int i = 0; i < Size(); ++i) {
            const double h = held[std::size_t(i)];
            const double d = logarithmic ? std::abs(Log(h / x)) : std::abs(h - x);
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        return best;
    }
};

float HeldFc(float v) { return BoxHeld(MakeBell(v, 1.0, 0.0)).Fc; }
float HeldQ(float v) { return BoxHeld(MakeBell(1000.0, v, 0.0)).Q; }
float HeldGain(float v) { return BoxHeld(MakeBell(1000.0, 1.0, v)).Gain; }

// The nearest table entry by ratio among entries first..last: what rounding
// a value to the steps by hand gives.
float NearestStep(const std::array<float, StepTableCapacity>& table, int first, int last, double x)
{
    int best = first;
    for (int i = first; i <= last; ++i)
        if (std::abs(Log(table[std::size_t(i)] / x)) < std::abs(Log(table[std::size_t(best)] / x)))
            best = i;
    return table[std::size_t(best)];
}

struct Problem {
    const Grid& grid;
    const std::vector<double>& room; // measurement - target + the bands left alone
    std::size_t bands;
    double lowest; // the lowest mean level in dB the bands together may have
    std::vector<double> sum;

    Problem(const Grid& g, const std::vector<double>& r, std::size_t b, double low)
        : grid(g), room(r), bands(b), lowest(low), sum(g.Size())
    {
    }

    // x: log2 Fc, log2 Q, gain per band.
    double Objective(const double* x)
    {
        std::fill(sum.begin(), sum.end(), 1.0);
        for (std::size_t j = 0; j < bands; ++j) {
            PeqBand band = MakeBell(Exp2(x[3 * j]), Exp2(x[3 * j + 1]), x[3 * j + 2]);
            DesignBand(band);
            grid.MultiplyPower(band.Coef, sum.data());
        }
        Grid::ToDb(sum.data(), sum.size());
        const double spread = Spread(room.data(), sum.data(), sum.size());
        if (lowest == -std::numeric_limits<double>::infinity())
            return spread;
        double level = 0.0;
        for (double d : sum)
            level += d / double(sum.size());
        const double excess = Excess(level, lowest);
        return spread + LevelPenalty * excess * excess;
    }
};

double NloptObjective(unsigned, const double* x, double*, void* data)
{
    return static_cast<Problem*>(data)->Objective(x);
}

// The error smoothed over about a sixth of an octave, around its mean.
std::vector<double> SmoothedError(const std::vector<double>& residual)
{
    const std::size_t n = residual.size();
    std::vector<double> error(n);
    double mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t a = i >= SmoothHalfWidth ? i - SmoothHalfWidth : 0;
        const std::size_t b = std::min(n - 1, i + SmoothHalfWidth);
        double s = 0.0;
        for (std::size_t k = a; k <= b; ++k)
            s += residual[k];
        error[i] = s / double(b - a + 1);
        mean += error[i] / double(n);
    }
    for (double& e : error)
        e -= mean;
    return error;
}

// The continuous phase: bands started on the largest deviations, optimised
// together by NLopt within the limits.
struct Continuous {
    const Grid& grid;
    const FitOptions& o;
    double fcLo, fcHi, qHi;
    Problem problem;
    std::vector<double> lower, upper;

    Continuous(const Grid& g, const std::vector<double>& room, std::size_t bands, const FitOptions& opt, double lo,
               double hi, double q, double lowest)
        : grid(g), o(opt), fcLo(lo), fcHi(hi), qHi(q), problem(g, room, bands, lowest)
    {
        for (std::size_t j = 0; j < bands; ++j) {
            lower.insert(lower.end(), {Log2(fcLo), Log2(FitMinQ), o.MaxCutDb});
            upper.insert(upper.end(), {Log2(fcHi), Log2(qHi), o.MaxBoostDb});
        }
    }

    // A band (log2 Fc, log2 Q, gain) on the largest deviation of the
    // smoothed error that the limits let a band correct: a peak wants a cut,
    // a dip a boost.
    std::array<double, 3> Place(const std::vector<double>& error) const
    {
        const std::size_t n = error.size();
        std::size_t at = 0;
        double worst = -1.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double reach = std::max(o.MaxCutDb < 0.0 ? error[i] : 0.0, o.MaxBoostDb > 0.0 ? -error[i] : 0.0);
            if (reach > worst) {
                worst = reach;
                at = i;
            }
        }
        const double gain = std::clamp(-error[at], o.MaxCutDb, o.MaxBoostDb);
        // The width at half the deviation gives the bandwidth, and that the Q.
        const auto wide = [&](std::size_t i) {
            return std::abs(error[i]) > std::abs(error[at]) / 2 && (error[i] > 0) == (error[at] > 0);
        };
        std::size_t left = at, right = at;
        while (left > 0 && wide(left - 1))
            --left;
        while (right + 1 < n && wide(right + 1))
            ++right;
        const double octaves = std::max(1.0, double(right - left)) / FitPointsPerOctave;
        const double q = std::clamp(std::sqrt(Exp2(octaves)) / (Exp2(octaves) - 1.0), FitMinQ, qHi);
        return {Log2(std::clamp(grid.hz[at], fcLo, fcHi)), Log2(q), gain};
    }

    void Add(std::vector<double>& residual, const double* band) const
    {
        std::vector<double> response(residual.size());
        BandResponse(grid, MakeBell(Exp2(band[0]), Exp2(band[1]), band[2]), response.data());
        for (std::size_t i = 0; i < residual.size(); ++i)
            residual[i] += response[i];
    }

    // One band on each of the largest deviations in turn, each taken out of
    // the error before the next is looked for.
    std::vector<double> Start() const
    {
        std::vector<double> residual = problem.room, x;
        for (std::size_t j = 0; j < problem.bands; ++j) {
            const auto band = Place(SmoothedError(residual));
            x.insert(x.end(), band.begin(), band.end());
            Add(residual, band.data());
        }
        return x;
    }

    // Returns the error reached; x is left at the best point found.
    double Optimise(std::vector<double>& x)
    {
        const unsigned n = unsigned(x.size());
        nlopt_opt opt = nlopt_create(NLOPT_LN_BOBYQA, n);
        if (!opt)
            return problem.Objective(x.data()); // out of memory: x stands
        std::vector<double> step(n);
        for (unsigned k = 0; k < n; ++k)
            step[k] = k % 3 == 2 ? 1.0 : 0.25; // a dB of gain, a quarter octave of Fc and of Q
        nlopt_set_lower_bounds(opt, lower.data());
        nlopt_set_upper_bounds(opt, upper.data());
        nlopt_set_initial_step(opt, step.data());
        nlopt_set_min_objective(opt, NloptObjective, &problem);
        nlopt_set_xtol_rel(opt, 1e-4);
        nlopt_set_ftol_abs(opt, 1e-8);
        nlopt_set_maxeval(opt, int(400 * n));
        std::vector<double> tried = x;
        double reached = 0.0;
        // A stop for round-off still leaves the best point found; any other
        // failure keeps x.
        const nlopt_result r = nlopt_optimize(opt, tried.data(), &reached);
        nlopt_destroy(opt);
        if (r > 0 || r == NLOPT_ROUNDOFF_LIMITED) {
            x = tried;
            return reached;
        }
        return problem.Objective(x.data());
    }

    // A local optimum can leave a large deviation uncorrected while a band
    // does little elsewhere: move a band onto the largest deviation left,
    // the one that matters least first, and optimise again, while that helps.
    double Relocate(std::vector<double>& x, double reached)
    {
        const std::size_t bands = problem.bands;
        // The optimiser can stall short of doing nothing on a room that needs
        // little: flat bands are a start too.
        std::vector<double> flat = x;
        for (std::size_t j = 0; j < bands; ++j)
            flat[3 * j + 2] = 0.0;
        if (const double e = problem.Objective(flat.data()); e < reached) {
            x = flat;
            reached = e;
        }
        std::size_t attempts = 2 * bands;
        bool moved = true;
        while (moved && attempts > 0) {
            moved = false;
            std::vector<std::pair<double, std::size_t>> order;
            for (std::size_t j = 0; j < bands; ++j) {
                std::vector<double> y = x;
                y[3 * j + 2] = 0.0;
                const double e = problem.Objective(y.data());
                // Likewise for a band that only harms.
                if (e < reached) {
                    x = y;
                    reached = e;
                }
                order.emplace_back(e, j);
            }
            std::sort(order.begin(), order.end());
            for (std::size_t k = 0; k < bands && attempts > 0 && !moved; ++k, --attempts) {
                const std::size_t j = order[k].second;
                std::vector<double> y = x;
                y[3 * j + 2] = 0.0;
                std::vector<double> residual = problem.room;
                for (std::size_t b = 0; b < bands; ++b)
                    Add(residual, &y[3 * b]);
                const auto band = Place(SmoothedError(residual));
                std::copy(band.begin(), band.end(), y.begin() + std::ptrdiff_t(3 * j));
                const double e = Optimise(y);
                if (e < reached * 0.99) {
                    x = y;
                    reached = e;
                    moved = true;
                }
            }
        }
        return reached;
    }
};

struct Rung {
    int fc, q, gain;
};

PeqBand RungBand(const Ladder& fc, const Ladder& q, const Ladder& gain, const Rung& r)
{
    return MakeBell(fc.held[std::size_t(r.fc)], q.held[std::size_t(r.q)], gain.held[std::size_t(r.gain)]);
}

FitStepScore Score(const double* others, const double* band, std::size_t n, double lowest)
{
    const Spreading s = SpreadAndMean(others, band, n);
    return {Excess(s.mean, lowest), s.spread, s.mean};
}

// From the snapped bands, move one band at a time to the best of its
// neighbouring rungs (one step up or down in any of Fc, Q and gain) while
// that is better (FitStepIsBetter); stops when no band has a better neighbour.
// lowest: the lowest mean level the room with the bands may have.
void SearchSteps(const Grid& grid, const std::vector<double>& room, const Ladder& fc, const Ladder& q, const Ladder& gain,
                 double lowest, std::vector<Rung>& rungs)
{
    const std::size_t n = grid.Size();
    std::vector<std::vector<double>> response(rungs.size(), std::vector<double>(n));
    std::vector<double> total = room, others(n), trial(n);
    for (std::size_t j = 0; j < rungs.size(); ++j) {
        BandResponse(grid, RungBand(fc, q, gain, rungs[j]), response[j].data());
        for (std::size_t i = 0; i < n; ++i)
            total[i] += response[j][i];
    }
    const int sizes[3] = {fc.Size(), q.Size(), gain.Size()};
    for (int pass = 0; pass < MaxSearchPasses; ++pass) {
        bool moved = false;
        for (std::size_t j = 0; j < rungs.size(); ++j) {
            for (std::size_t i = 0; i < n; ++i)
                others[i] = total[i] - response[j][i];
            FitStepScore best = Score(others.data(), response[j].data(), n, lowest);
            Rung bestRung = rungs[j];
            std::vector<double> bestResponse;
            for (int df = -1; df <= 1; ++df)
                for (int dq = -1; dq <= 1; ++dq)
                    for (int dg = -1; dg <= 1; ++dg) {
                        const Rung r{rungs[j].fc + df, rungs[j].q + dq, rungs[j].gain + dg};
                        if ((df | dq | dg) == 0 || r.fc < 0 || r.q < 0 || r.gain < 0 || r.fc >= sizes[0] ||
                            r.q >= sizes[1] || r.gain >= sizes[2])
                            continue;
                        BandResponse(grid, RungBand(fc, q, gain, r), trial.data());
                        const FitStepScore s = Score(others.data(), trial.data(), n, lowest);
                        if (FitStepIsBetter(s, best)) {
                            best = s;
                            bestRung = r;
                            bestResponse = trial;
                        }
                    }
            if (!bestResponse.empty()) {
                rungs[j] = bestRung;
                response[j] = std::move(bestResponse);
                for (std::size_t i = 0; i < n; ++i)
                    total[i] = others[i] + response[j][i];
                moved = true;
            }
        }
        if (!moved)
            break;
    }
}

// Two bands closer than this do nearly one job between them: the width the
// placement smooths the error over.
constexpr double CloseOctaves = 1.0 / 6.0;

FitStepScore ScoreRungs(const Grid& grid, const std::vector<double>& room, const Ladder& fc, const Ladder& q,
                        const Ladder& gain, double lowest, const std::vector<Rung>& rungs)
{
    const std::size_t n = grid.Size();
    std::vector<double> total = room, response(n), none(n, 0.0);
    for (const Rung& r : rungs) {
        BandResponse(grid, RungBand(fc, q, gain, r), response.data());
        for (std::size_t i = 0; i < n; ++i)
            total[i] += response[i];
    }
    return Score(total.data(), none.data(), n, lowest);
}

double OctavesApart(const Ladder& fc, int a, int b)
{
    return std::abs(Log2(double(fc.held[std::size_t(a)]) / double(fc.held[std::size_t(b)])));
}

// No two bands that do something stay within CloseOctaves of each other
// unless the pair does better than the one of them that does less moved
// onto the largest deviation left (the bands searched again from there). A
// band left flat does nothing wherever it is: it goes where it stands beside
// no other.
void SpaceBands(const Grid& grid, const std::vector<double>& room, const Ladder& fc, const Ladder& q,
                const Ladder& gain, double lowest, const Continuous& phase, std::vector<Rung>& rungs)
{
    const std::size_t bands = rungs.size(), n = grid.Size();
    const auto acts = [&](const Rung& r) { return gain.held[std::size_t(r.gain)] != 0.0f; };
    std::vector<std::pair<int, int>> kept; // pairs (Fc rungs) that do better together
    for (std::size_t attempt = 0; attempt < 2 * bands; ++attempt) {
        std::size_t a = bands, b = bands;
        double closest = CloseOctaves;
        for (std::size_t i = 0; i < bands; ++i)
            for (std::size_t j = i + 1; j < bands; ++j) {
                const std::pair<int, int> key = std::minmax(rungs[i].fc, rungs[j].fc);
                const double apart = OctavesApart(fc, rungs[i].fc, rungs[j].fc);
                if (acts(rungs[i]) && acts(rungs[j]) && apart < closest &&
                    std::find(kept.begin(), kept.end(), key) == kept.end()) {
                    closest = apart;
                    a = i;
                    b = j;
                }
            }
        if (a == bands)
            break;
        const FitStepScore together = ScoreRungs(grid, room, fc, q, gain, lowest, rungs);
        // The band of the pair that does less is the one that might do more
        // elsewhere: the other keeps the peak they share.
        std::size_t k = a;
        {
            std::vector<Rung> flat = rungs;
            flat[a].gain = gain.Nearest(0.0, false);
            const FitStepScore withoutA = ScoreRungs(grid, room, fc, q, gain, lowest, flat);
            flat = rungs;
            flat[b].gain = gain.Nearest(0.0, false);
            if (FitStepIsBetter(ScoreRungs(grid, room, fc, q, gain, lowest, flat), withoutA))
                k = b;
        }
        std::vector<double> residual = room, response(n);
        for (std::size_t j = 0; j < bands; ++j) {
            if (j == k)
                continue;
            BandResponse(grid, RungBand(fc, q, gain, rungs[j]), response.data());
            for (std::size_t i = 0; i < n; ++i)
                residual[i] += response[i];
        }
        const auto band = phase.Place(SmoothedError(residual));
        std::vector<Rung> best = rungs;
        best[k] = {fc.Nearest(Exp2(band[0]), true), q.Nearest(Exp2(band[1]), true), gain.Nearest(band[2], false)};
        const std::size_t other = k == a ? b : a;
        // Placed beside its partner again it would only share the peak anew.
        if (OctavesApart(fc, best[k].fc, rungs[other].fc) < CloseOctaves) {
            kept.push_back(std::minmax(rungs[a].fc, rungs[b].fc));
            continue;
        }
        SearchSteps(grid, room, fc, q, gain, lowest, best);
        const FitStepScore bestScore = ScoreRungs(grid, room, fc, q, gain, lowest, best);
        if (FitStepIsBetter(together, bestScore))
            kept.push_back(std::minmax(rungs[a].fc, rungs[b].fc));
        else
            rungs = std::move(best);
    }
    for (std::size_t k = 0; k < bands; ++k) {
        if (acts(rungs[k]))
            continue;
        const auto nearest = [&](int at) {
            double d = std::numeric_limits<double>::infinity();
            for (std::size_t j = 0; j < bands; ++j)
                if (j != k)
                    d = std::min(d, OctavesApart(fc, at, rungs[j].fc));
            return d;
        };
        if (nearest(rungs[k].fc) >= CloseOctaves)
            continue;
        int far = rungs[k].fc;
        for (int r = 0; r < fc.Size(); ++r)
            if (nearest(r) > nearest(far))
                far = r;
        if (far != rungs[k].fc) {
            rungs[k].fc = far;
            // Where it stands now a step of gain may help.
            SearchSteps(grid, room, fc, q, gain, lowest, rungs);
        }
    }
}

bool Ascending(std::span<const double> hz)
{
    for (std::size_t i = 0; i < hz.size(); ++i)
        if (!std::isfinite(hz[i]) || hz[i] <= 0.0 || (i > 0 && hz[i] <= hz[i - 1]))
            return false;
    return true;
}

bool Finite(std::span<const double> v)
{
    return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

} // namespace

bool FitStepIsBetter(const FitStepScore& a, const FitStepScore& b)
{
    constexpr double Same = 1e-9;
    if (std::abs(a.ExcessDb - b.ExcessDb) > Same)
        return a.ExcessDb < b.ExcessDb;
    const double tie = std::max(1e-12, Same * b.Error);
    if (std::abs(a.Error - b.Error) > tie)
        return a.Error < b.Error;
    return a.LevelDb > b.LevelDb + Same;
}

FitRange FitRangeOf(EqChannel channel)
{
    if (channel == EqChannel::SUB)
        return {20.0, 250.0};
    const FitOptions defaults;
    return {defaults.LowHz, defaults.HighHz};
}

bool FitChannel(std::span<const double> hz, std::span<const double> db, const FitTarget& target,
                const FitOptions& o, std::span<const PeqBand> bands, FitResult& result, std::string* why)
{
    if (hz.size() != db.size() || hz.size() < 2)
        return Fail(why, "the measurement needs at least two points");
    if (!Ascending(hz) || !Finite(db))
        return Fail(why, "the measurement's frequencies must rise and every value be a number");
    if (!(o.LowHz > 0.0 && o.LowHz < o.HighHz))
        return Fail(why, "the range must run from a lower to a higher frequency");
    if (!(o.MaxBoostDb >= 0.0 && o.MaxBoostDb <= BoxMaxBoostDb))
        return Fail(why, "the largest boost must be 0 to 12 dB");
    if (!(o.MaxCutDb <= 0.0 && o.MaxCutDb >= BoxMaxCutDb))
        return Fail(why, "the largest cut must be -24 to 0 dB");
    if (o.MaxBoostDb - o.MaxCutDb < 0.1)
        return Fail(why, "the largest boost and cut leave no gain to fit with");
    if (!(o.MaxQ >= FitMinQ))
        return Fail(why, "the largest Q must be at least 0.4");
    if (!(o.MaxLevelDropDb >= 0.0))
        return Fail(why, "the most the fit may lower the level must be 0 dB or more");
    if (target.Kind == FitTargetKind::Curve &&
        (target.Hz.size() != target.Db.size() || target.Hz.size() < 2 || !Ascending(target.Hz) || !Finite(target.Db)))
        return Fail(why, "the target curve needs at least two points with rising frequencies");
    if (target.Kind == FitTargetKind::Tilt && !std::isfinite(target.TiltDbPerOctave))
        return Fail(why, "the tilt must be a number");

    if (FcStepCount == 0)
        BuildStepTables();
    const int fcLast = FcStepCount - 1;
    const double lo = std::max({o.LowHz, hz.front(), double(FcSteps[0])});
    const double hi = std::min({o.HighHz, hz.back(), double(FcSteps[std::size_t(fcLast)])});
    if (!(hi >= 2.0 * lo))
        return Fail(why, "the measurement covers less than an octave of the range");

    std::vector<std::size_t> free;
    for (std::size_t k = 0; k < bands.size(); ++k)
        if (k < 32 && (o.UseBands >> k & 1u) && (bands[k].Flags & FlagBandOn))
            free.push_back(k);
    if (free.empty())
        return Fail(why, "no band to fit: every band is bypassed or left out");

    Grid grid;
    grid.Build(lo, hi);
    const std::size_t n = grid.Size();

    std::vector<double> octave(hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i)
        octave[i] = Log2(hz[i]);
    const std::vector<double> measured = Resample(grid, octave, db);

    std::vector<double> goal(n, 0.0);
    if (target.Kind == FitTargetKind::Tilt) {
        for (std::size_t i = 0; i < n; ++i)
            goal[i] = target.TiltDbPerOctave * Log2(grid.hz[i] / 1000.0);
    } else if (target.Kind == FitTargetKind::Curve) {
        std::vector<double> targetOctave(target.Hz.size());
        for (std::size_t i = 0; i < target.Hz.size(); ++i)
            targetOctave[i] = Log2(target.Hz[i]);
        for (std::size_t i = 0; i < n; ++i)
            goal[i] = Interpolate(targetOctave, target.Db, Log2(grid.hz[i]));
    }

    // The measurement is the room without the channel's EQ: what the room
    // gets is it plus every band as the box holds it. Bands left alone are
    // part of the room for the fit; the others are what it replaces.
    std::vector<double> room(n), before(n), response(n);
    for (std::size_t i = 0; i < n; ++i)
        room[i] = measured[i] - goal[i];
    before = room;
    double replacedLevel = 0.0; // what the bands the fit replaces do to the level
    for (std::size_t k = 0; k < bands.size(); ++k) {
        BandResponse(grid, BoxHeld(bands[k]), response.data());
        const bool replaced = std::find(free.begin(), free.end(), k) != free.end();
        for (std::size_t i = 0; i < n; ++i) {
            before[i] += response[i];
            if (!replaced)
                room[i] += response[i];
            else
                replacedLevel += response[i] / double(n);
        }
    }
    double levelBefore = 0.0;
    result.Before = Measure(before, &levelBefore);
    // The level limit, for the fitted bands alone and for the room with them.
    const double lowestBands = replacedLevel - o.MaxLevelDropDb;
    const double lowestLevel = levelBefore - o.MaxLevelDropDb;

    // The stepped fit works on whole steps: its continuous limits are the steps' own.
    Ladder fc, q, gain;
    for (int k = 0; k <= fcLast; ++k)
        if (FcSteps[std::size_t(k)] >= lo && FcSteps[std::size_t(k)] <= hi)
            fc.Add(HeldFc(FcSteps[std::size_t(k)]));
    for (int k = 0; k < QStepCount && QSteps[std::size_t(k)] <= o.MaxQ; ++k)
        q.Add(HeldQ(QSteps[std::size_t(k)]));
    for (int k = int(std::ceil(o.MaxCutDb * 10.0 - 1e-9)); k <= int(std::floor(o.MaxBoostDb * 10.0 + 1e-9)); ++k)
        gain.Add(HeldGain(float(double(k) / 10.0)));
    if (fc.Size() == 0)
        return Fail(why, "no centre-frequency step lies in the range");
    const double qHi = std::min(o.MaxQ, double(QSteps[std::size_t(QStepCount - 1)]));

    Continuous phase(grid, room, free.size(), o, lo, hi, qHi, lowestBands);
    std::vector<double> x = phase.Start();
    phase.Relocate(x, phase.Optimise(x));

    // The continuous optimum and its rounding to the nearest steps are the
    // yardsticks of the stepped fit; both are cheap once x is known.
    const int qLast = int(std::upper_bound(QSteps.begin(), QSteps.begin() + QStepCount, float(qHi)) - QSteps.begin()) - 1;
    int fcFirst = 0, fcEnd = fcLast;
    while (fcFirst < fcLast && FcSteps[std::size_t(fcFirst)] < lo)
        ++fcFirst;
    while (fcEnd > fcFirst && FcSteps[std::size_t(fcEnd)] > hi)
        --fcEnd;
    std::vector<PeqBand> continuous(free.size()), rounded(free.size()), roundedHeld(free.size());
    for (std::size_t j = 0; j < free.size(); ++j) {
        continuous[j] = MakeBell(Exp2(x[3 * j]), Exp2(x[3 * j + 1]), x[3 * j + 2]);
        rounded[j] = MakeBell(NearestStep(FcSteps, fcFirst, fcEnd, Exp2(x[3 * j])),
                              NearestStep(QSteps, 0, std::max(qLast, 0), Exp2(x[3 * j + 1])),
                              std::round(x[3 * j + 2] * 10.0) / 10.0);
        roundedHeld[j] = BoxHeld(rounded[j]);
    }
    // The room with the given bands in place of the fitted ones (judged: as the room gets them).
    const auto withBands = [&](const std::vector<PeqBand>& judged) {
        std::vector<double> residual = room;
        for (const PeqBand& b : judged) {
            BandResponse(grid, b, response.data());
            for (std::size_t i = 0; i < n; ++i)
                residual[i] += response[i];
        }
        return residual;
    };
    result.ContinuousAfter = Measure(withBands(continuous));
    result.RoundedAfter = Measure(withBands(roundedHeld));

    std::vector<PeqBand> fitted = continuous, judged = continuous;
    if (o.Mode == FitMode::RoundAfterwards) {
        fitted = rounded;
        judged = roundedHeld;
    } else if (o.Mode == FitMode::Stepped) {
        std::vector<Rung> rungs(free.size());
        for (std::size_t j = 0; j < free.size(); ++j)
            rungs[j] = {fc.Nearest(Exp2(x[3 * j]), true), q.Nearest(Exp2(x[3 * j + 1]), true),
                        gain.Nearest(x[3 * j + 2], false)};
        SearchSteps(grid, room, fc, q, gain, lowestLevel, rungs);
        SpaceBands(grid, room, fc, q, gain, lowestLevel, phase, rungs);
        for (std::size_t j = 0; j < free.size(); ++j)
            fitted[j] = judged[j] = RungBand(fc, q, gain, rungs[j]);
    }
    const std::vector<double> residual = withBands(judged);
    double level = 0.0;
    result.After = Measure(residual, &level);
    result.LevelChangeDb = level - levelBefore;

    // The fitted bands take the places of those they replace in rising frequency.
    std::stable_sort(fitted.begin(), fitted.end(), [](const PeqBand& a, const PeqBand& b) { return a.Fc < b.Fc; });
    result.Bands.assign(bands.begin(), bands.end());
    result.Fitted.assign(bands.size(), false);
    for (std::size_t j = 0; j < free.size(); ++j) {
        PeqBand& b = result.Bands[free[j]];
        // Bits 4-5 and the channel's EQ switch stay as they were.
        b.Flags = std::uint8_t((b.Flags & ~FlagTypeMask) | std::uint8_t(FilterType::Bell));
        b.Fc = fitted[j].Fc;
        b.Q = fitted[j].Q;
        b.Gain = fitted[j].Gain;
        result.Fitted[free[j]] = true;
    }
    for (PeqBand& b : result.Bands)
        DesignBand(b);

    result.LowHz = lo;
    result.HighHz = hi;
    result.Hz = grid.hz;
    result.MeasuredDb = measured;
    result.PredictedDb.resize(n);
    result.TargetDb.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        result.PredictedDb[i] = residual[i] + goal[i]; // the measurement with every band
        result.TargetDb[i] = goal[i] + level;
    }
    return true;
}

} // namespace ktv
