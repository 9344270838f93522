#include "fit/Fit.h"

#include "dsp/Filter.h"
#include "dsp/Math.h"
#include "dsp/StepTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace ktv {
namespace {

constexpr std::uint8_t BellOn = FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell);

PeqBand Bell(float fc, float q, float gain, std::uint8_t flags = BellOn)
{
    PeqBand b;
    b.Flags = flags;
    b.Fc = fc;
    b.Q = q;
    b.Gain = gain;
    return b;
}

std::vector<PeqBand> DefaultChannel(int count)
{
    std::vector<PeqBand> bands(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        SetDefaultBand(bands[std::size_t(i)], i);
    return bands;
}

// Uniform in [0, 1) from the generator's raw output: the standard
// distributions differ between libraries, and these rooms must not (nor
// their math: the program's own, so the figures are the same on Windows).
double Uniform(std::mt19937& gen) { return double(gen()) / 4294967296.0; }

double Gauss(std::mt19937& gen)
{
    const double u = 1.0 - Uniform(gen), v = Uniform(gen);
    return std::sqrt(-2.0 * Log(u)) * Cos(6.283185307179586 * v);
}

struct Room {
    std::vector<double> hz, db;
};

std::vector<double> LogSpaced(double lo, double hi, int n)
{
    std::vector<double> hz(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        hz[std::size_t(i)] = lo * Exp2(Log2(hi / lo) * double(i) / double(n - 1));
    return hz;
}

// The room as the inverse of the given bands, evaluated point by point with
// the box's own response on what the box would hold, plus noise.
Room InverseOf(const std::vector<PeqBand>& eq, std::mt19937* gen = nullptr, double noiseDb = 0.0)
{
    Room m;
    m.hz = LogSpaced(20.0, 20000.0, 1000);
    for (double f : m.hz) {
        double v = 0.0;
        for (PeqBand b : eq) {
            b = BoxHeld(b);
            DesignBand(b);
            v -= MagnitudeDb(b.Coef, float(f));
        }
        m.db.push_back(v + (gen ? noiseDb * Gauss(*gen) : 0.0));
    }
    return m;
}

// The Q values the box can hold: each Q step after the band record's tenths.
std::vector<float> HeldQSteps()
{
    std::vector<float> held;
    for (int k = 0; k < QStepCount; ++k) {
        const float q = BoxHeld(Bell(1000.0f, QSteps[std::size_t(k)], 0.0f)).Q;
        if (held.empty() || held.back() != q)
            held.push_back(q);
    }
    return held;
}

// A value the box holds as it is: an Fc step, the held value of a Q step,
// a gain in tenths; what the band record carries back is the very value.
::testing::AssertionResult BoxHoldsIt(const PeqBand& b)
{
    const std::vector<float> qs = HeldQSteps();
    const PeqBand held = BoxHeld(b);
    if (held.Fc != b.Fc || held.Q != b.Q || held.Gain != b.Gain)
        return ::testing::AssertionFailure() << "Fc " << b.Fc << " Q " << b.Q << " gain " << b.Gain
                                             << " reach the box as Fc " << held.Fc << " Q " << held.Q << " gain "
                                             << held.Gain;
    if (FcSteps[std::size_t(FcStepIndex(b.Fc))] != b.Fc || std::find(qs.begin(), qs.end(), b.Q) == qs.end())
        return ::testing::AssertionFailure() << "Fc " << b.Fc << " Q " << b.Q << " is no step the box holds";
    return ::testing::AssertionSuccess();
}

// A headphone-like response: fourth-order roll-offs at 60 Hz and 9 kHz and
// two peaks. Cuts only, the fit meets the roll-offs by lowering everything
// between them: about 8 dB with seven bands.
Room Headphone()
{
    Room m;
    m.hz = LogSpaced(20.0, 20000.0, 1000);
    PeqBand low = Bell(200.0f, 2.0f, 5.0f), high = Bell(3000.0f, 3.0f, 6.0f);
    DesignBand(low);
    DesignBand(high);
    auto fourth = [](double x) { return (x * x) * (x * x); };
    for (double f : m.hz)
        m.db.push_back(6.0 * Log10(1.0 / (1.0 + fourth(60.0 / f))) + 6.0 * Log10(1.0 / (1.0 + fourth(f / 9000.0))) +
                       MagnitudeDb(low.Coef, float(f)) + MagnitudeDb(high.Coef, float(f)));
    return m;
}

class FitTest : public ::testing::Test {
protected:
    void SetUp() override { BuildStepTables(); }
};

// What the room gets with the given bands, worked out independently of the
// fit: each band through its 9-byte record and back, MagnitudeDb per point,
// RMS and largest deviation around the mean.
FitError RoomError(const std::vector<PeqBand>& bands, const std::vector<double>& hz, const std::vector<double>& measured,
                   const FitTarget& target = {})
{
    std::vector<double> residual;
    for (std::size_t i = 0; i < hz.size(); ++i) {
        double v = measured[i];
        for (PeqBand b : bands) {
            std::uint8_t record[BandRecordSize];
            EncodeBandRecord(b, record);
            DecodeBandRecord(record, b);
            DesignBand(b);
            v += MagnitudeDb(b.Coef, float(hz[i]));
        }
        if (target.Kind == FitTargetKind::Tilt)
            v -= target.TiltDbPerOctave * std::log2(hz[i] / 1000.0);
        residual.push_back(v);
    }
    double mean = 0.0;
    for (double v : residual)
        mean += v / double(residual.size());
    FitError e;
    double squares = 0.0;
    for (double v : residual) {
        squares += (v - mean) * (v - mean);
        e.LargestDb = std::max(e.LargestDb, std::abs(v - mean));
    }
    e.RmsDb = std::sqrt(squares / double(residual.size()));
    return e;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

double Worst(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

// Twenty rooms, each the inverse of a random five- or seven-band cut on the
// box's steps plus 0.3 dB of noise, to be fitted with as many bands.
struct TestRoom {
    Room m;
    int bands;
};
std::vector<TestRoom> TwentyRooms()
{
    std::mt19937 gen(20261210u);
    const int fcFirst = FcStepIndex(50.0f), fcLast = FcStepIndex(12000.0f);
    const int qFirst = QStepIndex(0.5f), qLast = QStepIndex(6.0f);
    std::vector<TestRoom> rooms;
    for (int room = 0; room < 20; ++room) {
        const int count = room % 2 ? 7 : 5;
        std::vector<PeqBand> eq;
        for (int j = 0; j < count; ++j) {
            const int fi = fcFirst + int(Uniform(gen) * (fcLast - fcFirst + 1));
            const int qi = qFirst + int(Uniform(gen) * (qLast - qFirst + 1));
            const int tenths = -20 - int(Uniform(gen) * 81);
            eq.push_back(Bell(FcSteps[std::size_t(fi)], QSteps[std::size_t(qi)], float(tenths / 10.0)));
        }
        rooms.push_back({InverseOf(eq, &gen, 0.3), count});
    }
    return rooms;
}

// The twenty rooms fitted to a flat target three ways. The table goes to the README.
TEST_F(FitTest, StepsFittedDirectlyBeatRoundingAfterwardsOnTwentyRooms)
{
    std::vector<double> rms[3], largest[3], before;
    for (const TestRoom& room : TwentyRooms()) {
        const Room& m = room.m;
        FitResult r;
        std::string why;
        ASSERT_TRUE(FitChannel(m.hz, m.db, {}, {}, DefaultChannel(room.bands), r, &why)) << why;
        const FitError errors[3] = {r.After, r.ContinuousAfter, r.RoundedAfter};
        for (int k = 0; k < 3; ++k) {
            rms[k].push_back(errors[k].RmsDb);
            largest[k].push_back(errors[k].LargestDb);
        }
        before.push_back(r.Before.RmsDb);
    }
    std::printf("| fit | median RMS | worst RMS | median largest |\n|---|---|---|---|\n");
    std::printf("| none (the rooms) | %.3f dB | %.3f dB | |\n", Median(before), Worst(before));
    const char* names[3] = {"on the box's steps (this fit)", "continuous (no steps)", "continuous, then rounded to the steps"};
    for (int k = 0; k < 3; ++k)
        std::printf("| %s | %.3f dB | %.3f dB | %.3f dB |\n", names[k], Median(rms[k]), Worst(rms[k]),
                    Median(largest[k]));

    // The 0.3 dB of noise leaves about 0.24 dB on the grid that no EQ can
    // remove; the bound holds the fit close to that floor.
    EXPECT_LT(Median(rms[0]), 0.28);
    EXPECT_LT(Median(rms[0]), Median(rms[1]) + 0.2);
    EXPECT_LT(Median(rms[0]), Median(rms[2]));
}

// What the fit gives is what the box and a saved preset hold (no Q 1.08 for
// a box that holds 1.1), the fitted bands in rising frequency. Two bands
// that do something lie within a sixth of an octave of each other only
// where the pair lowers the error (the rooms are made of random bands, some
// of them close): without either of them the error is larger.
TEST_F(FitTest, FittedBandsAreHeldValuesInFrequencyOrderAndApart)
{
    std::vector<TestRoom> rooms = TwentyRooms();
    rooms.push_back({Headphone(), 7});
    std::vector<FitResult> fits;
    for (std::size_t room = 0; room < rooms.size(); ++room) {
        SCOPED_TRACE(room);
        const TestRoom& t = rooms[room];
        FitResult& r = fits.emplace_back();
        ASSERT_TRUE(FitChannel(t.m.hz, t.m.db, {}, {}, DefaultChannel(t.bands), r));
        const double error = RoomError(r.Bands, r.Hz, r.MeasuredDb).RmsDb;
        EXPECT_NEAR(r.After.RmsDb, error, 1e-9);
        for (std::size_t k = 0; k < r.Bands.size(); ++k) {
            EXPECT_TRUE(BoxHoldsIt(r.Bands[k])) << "band " << k;
            if (k > 0) {
                EXPECT_LE(r.Bands[k - 1].Fc, r.Bands[k].Fc) << "band " << k;
            }
            for (std::size_t j = 0; j < k; ++j) {
                if (r.Bands[j].Gain == 0.0f || r.Bands[k].Gain == 0.0f ||
                    std::abs(std::log2(r.Bands[k].Fc / r.Bands[j].Fc)) >= 1.0 / 6.0)
                    continue;
                for (const std::size_t flat : {j, k}) {
                    std::vector<PeqBand> without = r.Bands;
                    without[flat].Gain = 0.0f;
                    EXPECT_GT(RoomError(without, r.Hz, r.MeasuredDb).RmsDb, error)
                        << "bands " << j << " and " << k << ": " << r.Bands[j].Fc << " and " << r.Bands[k].Fc << " Hz";
                }
            }
        }
    }
    // Room 11 has a broad 10 dB peak at 2.2 kHz and a 3 dB one at 3.35 kHz;
    // two bands at 2340 and 2430 Hz shared the first. One of them now moves
    // up to meet the second, and the error drops (0.30 dB before).
    ASSERT_EQ(fits.size(), rooms.size());
    const std::vector<PeqBand>& eleven = fits[11].Bands;
    for (std::size_t k = 1; k < eleven.size(); ++k)
        if (eleven[k].Fc > 1000.0f) {
            EXPECT_GE(std::log2(eleven[k].Fc / eleven[k - 1].Fc), 1.0 / 6.0) << eleven[k - 1].Fc << " " << eleven[k].Fc;
        }
    EXPECT_LT(fits[11].After.RmsDb, 0.295);
}

// The level the fit costs: the mean over the range of what the fitted bands
// do, against the bands before, worked out independently of the fit.
TEST_F(FitTest, TheLevelChangeIsTheMeanOfWhatTheBandsDo)
{
    const Room room = InverseOf({Bell(125.0f, 1.0f, -4.0f), Bell(3000.0f, 2.0f, -3.0f)});
    std::vector<PeqBand> start = DefaultChannel(7);
    start[0] = Bell(1000.0f, 0.5f, 2.0f); // the channel had a broad boost
    FitResult r;
    ASSERT_TRUE(FitChannel(room.hz, room.db, {}, FitOptions{}, start, r));
    double change = 0.0;
    for (double f : r.Hz) {
        for (PeqBand b : r.Bands) {
            b = BoxHeld(b);
            DesignBand(b);
            change += MagnitudeDb(b.Coef, float(f)) / double(r.Hz.size());
        }
        for (PeqBand b : start) {
            b = BoxHeld(b);
            DesignBand(b);
            change -= MagnitudeDb(b.Coef, float(f)) / double(r.Hz.size());
        }
    }
    EXPECT_NEAR(r.LevelChangeDb, change, 1e-6);
    EXPECT_LT(r.LevelChangeDb, -0.5); // the boost is gone, the peaks cut
}

// Without noise a room made by one band on the steps is undone exactly, and
// the band comes back as the step the box holds: the Q steps 0.45 to 0.54
// all reach the box as 0.5, so the fit names 0.5; Q 1.25 travels as 1.3.
// 99.1f lies just below 99.1 and still travels as 99.1.
TEST_F(FitTest, OneBandRoomsComeBackOnTheirSteps)
{
    const struct {
        float fc, q, gain;
        float wantFc, wantQ;
    } cases[] = {
        {1000.0f, 2.0f, -6.0f, 1000.0f, 2.0f},
        {3410.0f, 0.46f, -4.5f, 3410.0f, 0.5f},
        {99.1f, 5.1f, -9.0f, 99.1f, 5.1f},
        {14100.0f, 1.25f, -3.2f, 14100.0f, 1.3f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fc);
        const std::vector<PeqBand> eq{Bell(c.fc, c.q, c.gain)};
        const Room m = InverseOf(eq);
        FitResult r;
        std::string why;
        ASSERT_TRUE(FitChannel(m.hz, m.db, {}, {}, DefaultChannel(1), r, &why)) << why;
        EXPECT_LT(r.After.RmsDb, 0.01);
        EXPECT_FLOAT_EQ(BoxHeld(r.Bands[0]).Fc, BoxHeld(eq[0]).Fc);
        EXPECT_FLOAT_EQ(r.Bands[0].Fc, c.wantFc);
        EXPECT_FLOAT_EQ(r.Bands[0].Q, c.wantQ);
        EXPECT_FLOAT_EQ(BoxHeld(r.Bands[0]).Q, BoxHeld(eq[0]).Q);
        EXPECT_FLOAT_EQ(BoxHeld(r.Bands[0]).Gain, BoxHeld(eq[0]).Gain);
    }
}

struct LimitCase {
    const char* name;
    double lo, hi, boost, cut, maxQ;
    FitTarget target;
};

// Whatever the limits, every fitted value is one the box holds as it is (an
// Fc step inside the range, a Q step's tenth up to the largest Q, a gain in
// tenths within boost and cut), the error reported is the error the box
// gives, and no single neighbouring value of any band would give less.
TEST_F(FitTest, FittedBandsStayOnStepsWithinLimitsAndNoNeighbourIsBetter)
{
    std::mt19937 gen(7u);
    std::vector<PeqBand> eq{Bell(63.1f, 4.0f, -8.0f), Bell(180.0f, 2.0f, 6.0f), Bell(1000.0f, 1.0f, -3.0f),
                            Bell(2900.0f, 5.0f, 4.0f), Bell(9990.0f, 0.7f, -5.0f)};
    const Room m = InverseOf(eq, &gen, 0.2);
    const LimitCase cases[] = {
        {"defaults", 40, 16000, 0, -12, 10, {}},
        {"boost allowed", 40, 16000, 6, -6, 10, {}},
        {"narrow range", 100, 5000, 3, -12, 10, {}},
        {"low Q", 20, 20000, 0, -24, 2, {}},
        {"tilt", 40, 16000, 0, -12, 10, {FitTargetKind::Tilt, -1.0, {}, {}}},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        FitOptions o;
        o.LowHz = c.lo;
        o.HighHz = c.hi;
        o.MaxBoostDb = c.boost;
        o.MaxCutDb = c.cut;
        o.MaxQ = c.maxQ;
        const std::vector<PeqBand> old = DefaultChannel(5);
        FitResult r;
        std::string why;
        ASSERT_TRUE(FitChannel(m.hz, m.db, c.target, o, old, r, &why)) << why;
        EXPECT_LT(r.After.RmsDb, r.Before.RmsDb);
        for (const PeqBand& b : r.Bands) {
            EXPECT_EQ(b.Flags, BellOn);
            EXPECT_TRUE(BoxHoldsIt(b));
            EXPECT_GE(b.Fc, c.lo);
            EXPECT_LE(b.Fc, c.hi);
            EXPECT_LE(b.Q, c.maxQ);
            EXPECT_GE(b.Gain, c.cut);
            EXPECT_LE(b.Gain, c.boost);
        }

        const FitError shown = RoomError(r.Bands, r.Hz, r.MeasuredDb, c.target);
        EXPECT_NEAR(r.After.RmsDb, shown.RmsDb, 1e-9);
        EXPECT_NEAR(r.After.LargestDb, shown.LargestDb, 1e-9);

        for (std::size_t k = 0; k < r.Bands.size(); ++k)
            for (int d = 0; d < 3; ++d)
                for (int step : {-1, 1}) {
                    FitResult moved = r;
                    PeqBand& b = moved.Bands[k];
                    if (d == 0) {
                        b.Fc = FcSteps[std::size_t(std::clamp(FcStepIndex(b.Fc) + step, 0, FcStepCount - 1))];
                    } else if (d == 1) {
                        const std::vector<float> qs = HeldQSteps();
                        const auto at = std::find(qs.begin(), qs.end(), b.Q) - qs.begin();
                        b.Q = qs[std::size_t(std::clamp(at + step, std::ptrdiff_t(0), std::ptrdiff_t(qs.size()) - 1))];
                    } else {
                        b.Gain = float((std::round(b.Gain * 10.0) + step) / 10.0);
                    }
                    if (b.Fc < c.lo || b.Fc > c.hi || b.Q > c.maxQ || b.Gain < c.cut || b.Gain > c.boost)
                        continue;
                    EXPECT_GE(RoomError(moved.Bands, r.Hz, r.MeasuredDb, c.target).RmsDb, shown.RmsDb - 1e-9)
                        << "band " << k << " dimension " << d << " step " << step;
                }
    }
}

// The measurement is the room without the channel's EQ. A band left out
// keeps correcting what it corrects (the peak at 5060 Hz) and a bypassed one
// does nothing; the error before is the room with the bands as they are.
TEST_F(FitTest, BandsLeftOutStayInTheRoomAndBypassedOnesDoNothing)
{
    std::vector<PeqBand> channel = DefaultChannel(5);
    channel[1] = Bell(1000.0f, 2.0f, -3.0f);
    channel[2] = Bell(250.0f, 3.0f, -5.0f, FlagChannelEqOn | std::uint8_t(FilterType::LowShelf)); // bypassed
    channel[4] = Bell(5060.0f, 1.0f, -2.0f); // left out
    const Room m = InverseOf({Bell(1000.0f, 2.0f, -6.0f), Bell(5060.0f, 1.0f, -2.0f)});

    FitOptions o;
    o.UseBands = 0b01111;
    FitResult r;
    std::string why;
    ASSERT_TRUE(FitChannel(m.hz, m.db, {}, o, channel, r, &why)) << why;
    EXPECT_NEAR(r.Before.RmsDb, RoomError(channel, r.Hz, r.MeasuredDb).RmsDb, 1e-9);
    EXPECT_GT(r.Before.RmsDb, 0.5);
    EXPECT_LT(r.After.RmsDb, 0.02);
    EXPECT_EQ(r.Fitted, (std::vector<bool>{true, true, false, true, false}));
    for (std::size_t k : {2u, 4u}) {
        EXPECT_EQ(r.Bands[k].Flags, channel[k].Flags);
        EXPECT_EQ(r.Bands[k].Fc, channel[k].Fc);
        EXPECT_EQ(r.Bands[k].Q, channel[k].Q);
        EXPECT_EQ(r.Bands[k].Gain, channel[k].Gain);
    }
    EXPECT_NEAR(r.After.RmsDb, RoomError(r.Bands, r.Hz, r.MeasuredDb).RmsDb, 1e-9);

    // The predicted curve is the measurement with the change made, and sits
    // on the target but for the error.
    ASSERT_EQ(r.PredictedDb.size(), r.Hz.size());
    double squares = 0.0;
    for (std::size_t i = 0; i < r.Hz.size(); ++i)
        squares += std::pow(r.PredictedDb[i] - r.TargetDb[i], 2);
    EXPECT_NEAR(std::sqrt(squares / double(r.Hz.size())), r.After.RmsDb, 1e-9);
}

// Each target judged on a measurement that already follows it: no error
// before, whatever the level; and a fit pulls a flat room onto a curve.
TEST_F(FitTest, TargetsFlatTiltAndCurve)
{
    const std::vector<double> hz = LogSpaced(20.0, 20000.0, 500);
    FitTarget dipCurve{FitTargetKind::Curve, 0.0, {}, {}};
    for (double f : hz) {
        PeqBand b = Bell(2020.0f, 3.0f, -4.0f);
        DesignBand(b);
        dipCurve.Hz.push_back(f);
        dipCurve.Db.push_back(MagnitudeDb(b.Coef, float(f)));
    }
    const struct {
        const char* name;
        FitTarget target;
        double (*room)(double hz);
    } cases[] = {
        {"flat", {}, [](double) { return 85.0; }},
        {"tilt", {FitTargetKind::Tilt, -1.5, {}, {}}, [](double f) { return 70.0 - 1.5 * std::log2(f / 40.0); }},
        {"curve", dipCurve, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> db;
        for (std::size_t i = 0; i < hz.size(); ++i)
            db.push_back(c.room ? c.room(hz[i]) : dipCurve.Db[i] - 3.0);
        FitResult r;
        std::string why;
        ASSERT_TRUE(FitChannel(hz, db, c.target, {}, DefaultChannel(5), r, &why)) << why;
        EXPECT_LT(r.Before.RmsDb, 1e-3);
        EXPECT_LT(r.After.RmsDb, 0.05);
    }

    FitResult r;
    ASSERT_TRUE(FitChannel(hz, std::vector<double>(hz.size(), 80.0), dipCurve, {}, DefaultChannel(5), r));
    EXPECT_GT(r.Before.RmsDb, 0.5);
    EXPECT_LT(r.After.RmsDb, 0.05);
}

// A dense, linearly spaced measurement is averaged onto the grid: the
// resampled curve follows the true response, not the noise of single points.
TEST_F(FitTest, DenseMeasurementsAreAveragedOntoTheGrid)
{
    PeqBand mode = Bell(120.0f, 4.0f, 8.0f);
    DesignBand(mode);
    std::vector<double> hz, db;
    for (int i = 1; i <= 32768; ++i) {
        const double f = i * 24000.0 / 32768.0;
        hz.push_back(f);
        db.push_back(MagnitudeDb(mode.Coef, float(f)) + (i % 2 ? 0.5 : -0.5));
    }
    FitResult r;
    ASSERT_TRUE(FitChannel(hz, db, {}, {}, DefaultChannel(5), r));
    for (std::size_t i = 0; i < r.Hz.size(); ++i) {
        if (r.Hz[i] > 1000.0) {
            EXPECT_NEAR(r.MeasuredDb[i], MagnitudeDb(mode.Coef, float(r.Hz[i])), 0.05) << r.Hz[i];
        }
    }
}

TEST_F(FitTest, ContinuousAndRoundedModesForTheComparison)
{
    const Room m = InverseOf({Bell(1000.0f, 2.0f, -6.0f), Bell(317.0f, 0.9f, -3.0f)});
    FitOptions o;
    o.Mode = FitMode::Continuous;
    FitResult continuous, rounded;
    ASSERT_TRUE(FitChannel(m.hz, m.db, {}, o, DefaultChannel(2), continuous));
    o.Mode = FitMode::RoundAfterwards;
    ASSERT_TRUE(FitChannel(m.hz, m.db, {}, o, DefaultChannel(2), rounded));
    for (std::size_t k = 0; k < 2; ++k) {
        // Rounded: the nearest steps to the continuous values.
        const PeqBand& c = continuous.Bands[k];
        const PeqBand& s = rounded.Bands[k];
        EXPECT_EQ(FcSteps[std::size_t(FcStepIndex(s.Fc))], s.Fc);
        EXPECT_EQ(QSteps[std::size_t(QStepIndex(s.Q))], s.Q);
        EXPECT_LT(std::abs(std::log(s.Fc / c.Fc)), std::log(1.02) / 2 + 1e-6);
        EXPECT_LT(std::abs(std::log(s.Q / c.Q)), std::log(1.106) / 2);
        EXPECT_NEAR(s.Gain, c.Gain, 0.05 + 1e-6);
    }
    EXPECT_LT(continuous.After.RmsDb, 0.02);
    // The yardsticks every fit reports are those fits' own errors.
    FitResult stepped;
    ASSERT_TRUE(FitChannel(m.hz, m.db, {}, {}, DefaultChannel(2), stepped));
    EXPECT_DOUBLE_EQ(stepped.ContinuousAfter.RmsDb, continuous.After.RmsDb);
    EXPECT_DOUBLE_EQ(stepped.RoundedAfter.RmsDb, rounded.After.RmsDb);
    EXPECT_DOUBLE_EQ(stepped.RoundedAfter.LargestDb, rounded.After.LargestDb);
}

TEST_F(FitTest, ALevelLimitHoldsTheLevelAtTheCostOfError)
{
    const Room m = Headphone();
    FitResult free;
    ASSERT_TRUE(FitChannel(m.hz, m.db, {}, {}, DefaultChannel(7), free));
    EXPECT_LT(free.LevelChangeDb, -7.0); // what the limit is for

    std::printf("| largest level drop | level change | RMS after | largest after |\n|---|---|---|---|\n");
    double looser = free.After.RmsDb;
    for (const double limit : {6.0, 4.0, 3.0, 2.0, 1.0, 0.5}) {
        SCOPED_TRACE(limit);
        FitOptions o;
        o.MaxLevelDropDb = limit;
        FitResult r;
        ASSERT_TRUE(FitChannel(m.hz, m.db, {}, o, DefaultChannel(7), r));
        std::printf("| %.1f dB | %.2f dB | %.3f dB | %.2f dB |\n", limit, r.LevelChangeDb, r.After.RmsDb,
                    r.After.LargestDb);
        // Held at the limit: never below it, and not far above it, since
        // every tenth of a dB above it would buy error back.
        EXPECT_GE(r.LevelChangeDb, -limit - 1e-9);
        EXPECT_LE(r.LevelChangeDb, -limit + 0.1);
        // A tighter limit costs error, and the fit is still a fit.
        EXPECT_GT(r.After.RmsDb, looser);
        EXPECT_LT(r.After.RmsDb, r.Before.RmsDb);
        looser = r.After.RmsDb;
        for (const PeqBand& b : r.Bands) // on the steps, as every stepped fit
            EXPECT_EQ(FcSteps[std::size_t(FcStepIndex(b.Fc))], b.Fc);
    }
    std::printf("| none | %.2f dB | %.3f dB | %.2f dB |\n(before the fit: RMS %.3f dB)\n", free.LevelChangeDb,
                free.After.RmsDb, free.After.LargestDb, free.Before.RmsDb);

    // A limit the room does not reach changes nothing.
    FitOptions loose;
    loose.MaxLevelDropDb = 12.0;
    FitResult same;
    ASSERT_TRUE(FitChannel(m.hz, m.db, {}, loose, DefaultChannel(7), same));
    for (std::size_t k = 0; k < same.Bands.size(); ++k) {
        EXPECT_EQ(same.Bands[k].Fc, free.Bands[k].Fc);
        EXPECT_EQ(same.Bands[k].Q, free.Bands[k].Q);
        EXPECT_EQ(same.Bands[k].Gain, free.Bands[k].Gain);
    }
}

TEST_F(FitTest, StepsOfEqualErrorPreferTheHigherLevel)
{
    const double e = 0.25;
    const struct {
        const char* name;
        FitStepScore candidate, best;
        bool better;
    } cases[] = {
        {"smaller error", {0, e * 0.999, -5}, {0, e, -1}, true},
        {"larger error", {0, e * 1.001, 0}, {0, e, -5}, false},
        {"equal error, lowers the level less", {0, e, -1}, {0, e, -5}, true},
        {"error within a billionth, lowers the level less", {0, e * (1 + 1e-10), -1}, {0, e, -5}, true},
        {"equal error, lowers the level more", {0, e, -5}, {0, e, -1}, false},
        {"the same", {0, e, -1}, {0, e, -1}, false},
        {"within the limit beats a smaller error beyond it", {0, e, -3}, {0.2, e / 2, -3.2}, true},
        {"beyond the limit loses to a larger error within it", {0.2, e / 2, -3.2}, {0, e, -3}, false},
        {"nearer to the limit", {0.1, e, -3.1}, {0.2, e / 2, -3.2}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitStepIsBetter(c.candidate, c.best), c.better) << c.name;
}

TEST_F(FitTest, BadInputIsRefusedWithAReason)
{
    const std::vector<double> hz = LogSpaced(20.0, 20000.0, 100);
    const std::vector<double> db(hz.size(), 0.0);
    std::vector<double> falling(hz.rbegin(), hz.rend());
    std::vector<double> withNan = db;
    withNan[50] = std::nan("");
    FitTarget badCurve{FitTargetKind::Curve, 0.0, {1000.0, 500.0}, {0.0, 0.0}};
    std::vector<PeqBand> bypassed = DefaultChannel(5);
    for (PeqBand& b : bypassed)
        b.Flags &= std::uint8_t(~FlagBandOn);
    const std::vector<double> narrowHz{1000.0, 1500.0}, narrowDb{0.0, 0.0};

    const struct {
        const char* name;
        std::vector<double> hz, db;
        FitTarget target;
        double lo, hi, boost, cut;
        std::vector<PeqBand> bands;
        double levelDrop = std::numeric_limits<double>::infinity();
    } cases[] = {
        {"sizes differ", hz, std::vector<double>(10), {}, 40, 16000, 0, -12, DefaultChannel(5)},
        {"falling", falling, db, {}, 40, 16000, 0, -12, DefaultChannel(5)},
        {"not a number", hz, withNan, {}, 40, 16000, 0, -12, DefaultChannel(5)},
        {"range upside down", hz, db, {}, 16000, 40, 0, -12, DefaultChannel(5)},
        {"boost too large", hz, db, {}, 40, 16000, 13, -12, DefaultChannel(5)},
        {"cut positive", hz, db, {}, 40, 16000, 0, 1, DefaultChannel(5)},
        {"no gain at all", hz, db, {}, 40, 16000, 0, 0, DefaultChannel(5)},
        {"target falling", hz, db, badCurve, 40, 16000, 0, -12, DefaultChannel(5)},
        {"all bypassed", hz, db, {}, 40, 16000, 0, -12, bypassed},
        {"less than an octave", narrowHz, narrowDb, {}, 40, 16000, 0, -12, DefaultChannel(5)},
        {"level drop below zero", hz, db, {}, 40, 16000, 0, -12, DefaultChannel(5), -1.0},
        {"level drop not a number", hz, db, {}, 40, 16000, 0, -12, DefaultChannel(5), std::nan("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FitOptions o;
        o.LowHz = c.lo;
        o.HighHz = c.hi;
        o.MaxBoostDb = c.boost;
        o.MaxCutDb = c.cut;
        o.MaxLevelDropDb = c.levelDrop;
        FitResult r;
        std::string why;
        EXPECT_FALSE(FitChannel(c.hz, c.db, c.target, o, c.bands, r, &why));
        EXPECT_FALSE(why.empty());
    }
}

} // namespace
} // namespace ktv
