#include "measure/Analyser.h"
#include "measure/Calibration.h"
#include "measure/Measure.h"
#include "measure/SimulatedRoom.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <numbers>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktv::measure {
namespace {

RoomModel TypicalRoom(double snrDb)
{
    RoomModel m;
    m.Resonances = {{45, 8, 4}, {120, -6, 3}, {800, 4, 2}, {3500, -5, 1.5}, {12000, 3, 2}};
    m.DelayMs = 7.3;
    m.GainDb = -12;
    m.SnrDb = snrDb;
    return m;
}

double WorstError(const Response& r, const SimulatedRoom& room, double rate, double offsetDb, double lo, double hi)
{
    double worst = 0, at = 0;
    for (std::size_t i = 0; i < r.Hz.size(); ++i)
        if (r.Hz[i] >= lo && r.Hz[i] <= hi) {
            const double e = std::abs(r.Db[i] - offsetDb - room.TrueDb(r.Hz[i], rate));
            if (e > worst) {
                worst = e;
                at = r.Hz[i];
            }
        }
    if (worst >= 0.2)
        ADD_FAILURE() << "worst at " << at << " Hz";
    return worst;
}

// The sweep's level is part of the recording; the response is relative to full scale.
double SweepOffset(const SweepPlan& s) { return s.LevelDbfs - s.LevelDbfs; }

TEST(MeasureTest, RecoversASimulatedRoomAtTwentyDbSnr)
{
    SimulatedRoom room(TypicalRoom(20));
    MeasureSettings s;
    Response r;
    std::string why;
    ASSERT_TRUE(MeasureSweep(room, s, r, &why)) << why;
    EXPECT_LT(WorstError(r, room, s.Sweep.Rate, SweepOffset(s.Sweep), 40, 16000), 0.2);
    EXPECT_EQ(r.Hz.front(), 20);
    EXPECT_EQ(r.Hz.back(), 20000);
}

TEST(MeasureTest, LengthsRangesAndPositionsAllRecoverTheRoom)
{
    struct Case {
        double seconds, lo, hi;
        int positions;
    };
    for (const Case c : {Case{1, 20, 20000, 1}, Case{10, 20, 20000, 1}, Case{3, 30, 18000, 3}}) {
        SimulatedRoom room(TypicalRoom(30));
        MeasureSettings s;
        s.Sweep.Seconds = c.seconds;
        s.Sweep.LoHz = c.lo;
        s.Sweep.HiHz = c.hi;
        s.Positions = c.positions;
        Response r;
        std::string why;
        ASSERT_TRUE(MeasureSweep(room, s, r, &why)) << why;
        EXPECT_EQ(room.PlayRecordCalls(), c.positions);
        EXPECT_LT(WorstError(r, room, s.Sweep.Rate, 0, std::max(40.0, c.lo * 2), std::min(16000.0, c.hi * 0.8)),
                  0.2)
            << c.seconds << " s " << c.lo << "-" << c.hi;
    }
}

// Through a wire the whole reported band is flat to its ends, and through a
// known filter it follows the filter: the sweep starts an octave below the
// band and ends past it, its fades and roll-offs lie outside the band.
TEST(MeasureTest, TheReportedBandFollowsTheRoomToItsEnds)
{
    struct Case {
        const char* name;
        std::vector<Resonance> filter;
        double seconds, lo, hi, limitDb;
    };
    const std::vector<Case> cases = {
        {"wire, 3 s", {}, 3, 20, 20000, 0.1},
        {"wire, 1 s", {}, 1, 20, 20000, 0.1},
        {"wire, 10 s, 30 Hz - 18 kHz", {}, 10, 30, 18000, 0.1},
        {"filter, 3 s", {{25, 6, 1.5}, {1000, -6, 1}, {18000, 4, 1.5}}, 3, 20, 20000, 0.25},
        {"filter, 1 s", {{25, 6, 1.5}, {1000, -6, 1}, {18000, 4, 1.5}}, 1, 20, 20000, 0.25},
    };
    for (const auto& c : cases) {
        RoomModel m;
        m.Resonances = c.filter;
        m.DelayMs = 3;
        SimulatedRoom room(m);
        MeasureSettings s;
        s.Sweep.Seconds = c.seconds;
        s.Sweep.LoHz = c.lo;
        s.Sweep.HiHz = c.hi;
        Response r;
        std::string why;
        ASSERT_TRUE(MeasureSweep(room, s, r, &why)) << c.name << ": " << why;
        ASSERT_EQ(r.Hz.front(), c.lo);
        ASSERT_EQ(r.Hz.back(), c.hi);
        for (std::size_t i = 0; i < r.Hz.size(); ++i)
            ASSERT_NEAR(r.Db[i], room.TrueDb(r.Hz[i], s.Sweep.Rate), c.limitDb) << c.name << " at " << r.Hz[i];
    }

    // The sweep holds its full level all the while it is inside the band.
    SweepPlan s;
    const auto x = MakeSweep(s);
    const double k = s.Seconds / std::log(SweepEndHz(s) / SweepStartHz(s));
    const auto at = [&](double hz) { return static_cast<std::size_t>(k * std::log(hz / SweepStartHz(s)) * s.Rate); };
    const std::size_t window = 2400; // two cycles at the bottom of the band
    for (std::size_t i = at(s.LoHz); i + window <= at(s.HiHz); i += window) {
        float peak = 0;
        for (std::size_t j = i; j < i + window; ++j)
            peak = std::max(peak, std::abs(x[j]));
        ASSERT_NEAR(20 * std::log10(peak), s.LevelDbfs, 0.05) << "at " << i / s.Rate << " s";
    }
}

// The card's own flags: the first dropout is kept with the frame its block
// started at; the counts must add up.
TEST(MeasureTest, TheCardsFlagsAndCountsTellADropout)
{
    struct Case {
        unsigned flags;
        const char* what;
    };
    for (const Case c : {Case{kInputOverflow, "the input overflowed"}, Case{kInputUnderflow, "the input ran dry"},
                         Case{kOutputUnderflow, "the output ran dry"},
                         Case{kOutputOverflow, "the output overflowed"}}) {
        StreamWatch watch(48000);
        for (int b = 0; b < 100; ++b)
            watch.Block(1024, b == 60 ? c.flags : (b == 80 ? unsigned(kInputOverflow) : 0u));
        EXPECT_EQ(watch.Frames(), 102400u);
        const auto d = watch.First();
        ASSERT_TRUE(d) << c.what;
        EXPECT_EQ(d->What, c.what);
        EXPECT_EQ(watch.FirstFrame(), 60u * 1024);
        EXPECT_EQ(DropoutText(*d), "Dropout at 1.3 s (" + std::string(c.what) + ")"); // 61440 frames
    }
    StreamWatch clean(48000);
    for (int b = 0; b < 100; ++b)
        clean.Block(512, 0);
    EXPECT_FALSE(clean.First());
    EXPECT_EQ(clean.FirstFrame(), static_cast<std::size_t>(-1));

    EXPECT_FALSE(CheckCounts(144000, 144000, 192000, 192000, 48000));
    const auto shortRecording = CheckCounts(144000, 144000, 96000, 192000, 48000);
    ASSERT_TRUE(shortRecording);
    EXPECT_EQ(DropoutText(*shortRecording), "Dropout at 2.0 s (the recording stopped short)");
    const auto lateOutput = CheckCounts(120000, 144000, 192000, 192000, 48000);
    ASSERT_TRUE(lateOutput);
    EXPECT_EQ(DropoutText(*lateOutput), "Dropout at 2.5 s (the output fell behind the input)");
}

// A break no flag reported is found in the recording itself; clean takes in
// noisy rooms are not taken for one.
TEST(MeasureTest, ABreakTheCardDidNotReportIsFoundInTheRecording)
{
    MeasureSettings s;
    const auto sweep = MakeSweep(s.Sweep);
    const auto frames = sweep.size() + static_cast<std::size_t>(kTailSeconds * s.Sweep.Rate);
    struct Case {
        const char* name;
        std::function<std::vector<float>(const SimulatedRoom&)> record;
        const char* found; // the start of what is found; null: clean
    };
    const auto withGap = [&](double atSeconds, double ms) {
        return [=](const SimulatedRoom& room) {
            std::vector<float> late(sweep.begin(), sweep.begin() + std::size_t(atSeconds * s.Sweep.Rate));
            late.insert(late.end(), std::size_t(ms / 1000 * s.Sweep.Rate), 0.0f);
            late.insert(late.end(), sweep.begin() + std::size_t(atSeconds * s.Sweep.Rate), sweep.end());
            return room.Pass(late, frames, s.Sweep.Rate);
        };
    };
    const std::vector<Case> cases = {
        {"a 30 ms gap", withGap(1.0, 30), "Dropout at 1.0 s (the recording went silent)"},
        {"an 8 ms gap", withGap(2.2, 8), "Dropout at 2.2 s (the recording went silent)"},
        {"the start missed",
         [&](const SimulatedRoom& room) {
             auto rec = room.Pass(sweep, frames + 24000, s.Sweep.Rate);
             rec.erase(rec.begin(), rec.begin() + 24000);
             return rec;
         },
         "Dropout at 0.0 s (the recording started after the sweep)"},
        {"the end cut off",
         [&](const SimulatedRoom& room) {
             std::vector<float> late(std::size_t(1.6 * s.Sweep.Rate), 0.0f);
             late.insert(late.end(), sweep.begin(), sweep.end());
             return room.Pass(late, frames, s.Sweep.Rate);
         },
         "Dropout at 4.5 s (the recording ends before the sweep does)"},
        // Input frames lost: what follows comes early, by more than the gate
        // (a shorter jump passes for a response that is late above some
        // frequency; the card's flags tell those). Which side of the jump
        // the response takes for the true one decides how it is named.
        {"600 ms of input lost",
         [&](const SimulatedRoom& room) {
             auto rec = room.Pass(sweep, frames + 28800, s.Sweep.Rate);
             rec.erase(rec.begin() + 96000, rec.begin() + 96000 + 28800);
             return rec;
         },
         "Dropout at "},
        {"clean, 10 dB SNR", [&](const SimulatedRoom& room) { return room.Pass(sweep, frames, s.Sweep.Rate); },
         nullptr},
    };
    for (const auto& c : cases) {
        SimulatedRoom room(TypicalRoom(c.found ? 30 : 10));
        const auto rec = c.record(room);
        Response r;
        std::string why;
        std::optional<Dropout> dropout;
        ASSERT_TRUE(AnalyseRecording(rec, s, r, &why, &dropout)) << c.name << ": " << why;
        if (c.found) {
            ASSERT_TRUE(dropout) << c.name;
            EXPECT_EQ(DropoutText(*dropout).substr(0, std::strlen(c.found)), c.found) << c.name;
            EXPECT_FALSE(AnalyseRecording(rec, s, r, &why)) << c.name;
            EXPECT_EQ(why, DropoutText(*dropout) + ".") << c.name;
        } else {
            EXPECT_FALSE(dropout) << c.name << ": " << DropoutText(*dropout);
        }
    }
    // Rooms, noise and lengths that are no break.
    for (double snr : {6.0, 20.0, 60.0})
        for (double seconds : {1.0, 3.0}) {
            SimulatedRoom room(TypicalRoom(snr));
            MeasureSettings m;
            m.Sweep.Seconds = seconds;
            m.Takes = 1;
            Response r;
            std::string why;
            EXPECT_TRUE(MeasureSweep(room, m, r, &why)) << snr << " dB, " << seconds << " s: " << why;
        }
}

// A take that dropped out is measured again, saying why, up to the limit;
// with no clean take the measurement fails with the reason and gives nothing.
TEST(MeasureTest, ATakeThatDroppedOutIsMeasuredAgainAndNeverReported)
{
    struct Case {
        int dropped, takes;
        bool reported;
        int calls;
        std::vector<std::string> retakes;
        const char* failure; // null: measured
    };
    const std::vector<Case> cases = {
        {1, 3, true, 2, {"Dropout at 1.0 s (the output ran dry), measuring again (take 2 of 3)."}, nullptr},
        {2, 3, false, 3,
         {"Dropout at 1.0 s (the recording went silent), measuring again (take 2 of 3).",
          "Dropout at 1.0 s (the recording went silent), measuring again (take 3 of 3)."},
         nullptr},
        {3, 3, true, 3,
         {"Dropout at 1.0 s (the output ran dry), measuring again (take 2 of 3).",
          "Dropout at 1.0 s (the output ran dry), measuring again (take 3 of 3)."},
         "No clean take in 3 tries: Dropout at 1.0 s (the output ran dry)."},
        {1, 1, false, 1, {}, "No clean take in 1 try: Dropout at 1.0 s (the recording went silent)."},
        {0, 3, true, 1, {}, nullptr},
    };
    for (const auto& c : cases) {
        RoomModel m = TypicalRoom(40);
        m.DroppedTakes = c.dropped;
        m.DropReported = c.reported;
        SimulatedRoom room(m);
        MeasureSettings s;
        s.Takes = c.takes;
        std::vector<std::string> retakes;
        std::vector<MeasureProgress> seen;
        MeasureEvents events;
        events.Retake = [&](const std::string& why) { retakes.push_back(why); };
        events.Progress = [&](const MeasureProgress& p) { seen.push_back(p); };
        Response r{{1}, {2}};
        std::string why;
        const bool ok = MeasureSweep(room, s, r, &why, events);
        EXPECT_EQ(room.PlayRecordCalls(), c.calls) << c.dropped << " of " << c.takes;
        EXPECT_EQ(retakes, c.retakes) << c.dropped << " of " << c.takes;
        if (c.failure) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(why.substr(0, std::string(c.failure).size()), c.failure);
            EXPECT_EQ(r.Hz, std::vector<double>{1}); // nothing given
        } else {
            ASSERT_TRUE(ok) << why;
            EXPECT_LT(WorstError(r, room, s.Sweep.Rate, 0, 20, 20000), 0.2);
        }
        // Progress names each take and counts its time down, with the level heard.
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().Take, c.calls);
        EXPECT_EQ(seen.back().Takes, c.takes);
        EXPECT_EQ(seen.back().SecondsLeft, 0);
        EXPECT_DOUBLE_EQ(seen.front().SecondsLeft, kLeadSeconds + s.Sweep.Seconds + kTailSeconds);
        double loudest = -200;
        for (const auto& p : seen)
            loudest = std::max(loudest, p.LevelDbfs);
        EXPECT_GT(loudest, -40);
        EXPECT_LT(loudest, -20);
    }
}

TEST(MeasureTest, ClippedAndSilentRecordingsAreRefusedSayingWhich)
{
    MeasureSettings s;
    Response r;
    std::string why;
    RoomModel loud = TypicalRoom(40);
    loud.GainDb = 30; // a -20 dBFS sweep lifted past full scale
    SimulatedRoom clipping(loud);
    EXPECT_FALSE(MeasureSweep(clipping, s, r, &why));
    EXPECT_NE(why.find("clipped"), std::string::npos) << why;
    EXPECT_NE(why.find("down"), std::string::npos) << why;

    RoomModel quiet = TypicalRoom(40);
    quiet.GainDb = -60;
    SimulatedRoom unplugged(quiet);
    EXPECT_FALSE(MeasureSweep(unplugged, s, r, &why));
    EXPECT_NE(why.find("too quiet"), std::string::npos) << why;
    EXPECT_NE(why.find("up"), std::string::npos) << why;

    EXPECT_FALSE(CheckRecording(std::vector<float>(48000, 0.0f), &why));
    EXPECT_NE(why.find("silence"), std::string::npos) << why;
}

TEST(MeasureTest, SweepSettingsOutsideTheirRangesAreRefused)
{
    for (auto change : std::vector<void (*)(SweepPlan&)>{
             [](SweepPlan& s) { s.Seconds = 0.5; }, [](SweepPlan& s) { s.Seconds = 11; },
             [](SweepPlan& s) { s.HiHz = 30000; }, [](SweepPlan& s) { s.LoHz = 15000; },
             [](SweepPlan& s) { s.LevelDbfs = 3; }}) {
        SweepPlan s;
        change(s);
        std::string why;
        EXPECT_FALSE(CheckSweepPlan(s, &why));
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(CheckSweepPlan(SweepPlan{}));
}

TEST(MeasureTest, TheSweepStaysAtItsLevelAndRisesExponentially)
{
    SweepPlan s;
    const auto x = MakeSweep(s);
    ASSERT_EQ(x.size(), 144000u);
    float peak = 0;
    for (float v : x)
        peak = std::max(peak, std::abs(v));
    EXPECT_NEAR(20 * std::log10(peak), -20, 0.01);
    // Zero crossings per 10 ms near the half-way point: the geometric mean of
    // the swept range, which starts an octave below the reported one and ends
    // past it.
    EXPECT_EQ(SweepStartHz(s), 10);
    EXPECT_NEAR(SweepEndHz(s), 22800, 1e-9);
    int crossings = 0;
    for (std::size_t i = 72000; i < 72000 + 480; ++i)
        crossings += (x[i] < 0) != (x[i + 1] < 0);
    EXPECT_NEAR(crossings / 2.0 / 0.01, std::sqrt(10.0 * 22800), 60);
}

TEST(MeasureTest, TheGateKeepsOnlyWhatFollowsThePeakWithinItsLength)
{
    const double rate = 48000;
    std::vector<double> ir(96000, 0.0);
    ir[1000] = 1;
    ir[1000 + 24000 + 4800] = 0.5; // a reflection 600 ms later
    const auto gated = Gate(ir, rate, 500);
    ASSERT_EQ(gated.size(), 24000u);
    EXPECT_DOUBLE_EQ(gated[240], 1);
    double rest = 0;
    for (std::size_t i = 0; i < gated.size(); ++i)
        if (i != 240)
            rest += std::abs(gated[i]);
    EXPECT_EQ(rest, 0);
}

TEST(MeasureTest, SmoothingAndAveragingWorkInPower)
{
    Response a{{100, 200, 400}, {0, 0, 0}}, b{{100, 200, 400}, {-200, 10, 3}};
    Response avg;
    ASSERT_TRUE(PowerAverage({a, b}, avg));
    EXPECT_NEAR(avg.Db[0], 10 * std::log10(0.5), 1e-9);
    EXPECT_NEAR(avg.Db[1], 10 * std::log10(5.5), 1e-9);
    Response c{{100, 300}, {0, 0}};
    std::string why;
    EXPECT_FALSE(PowerAverage({a, c}, avg, &why));

    // One octave smoothing of a single loud point over 1/48-octave points.
    Response line;
    for (int i = 0; i <= 96; ++i) {
        line.Hz.push_back(1000 * std::pow(2.0, i / 48.0));
        line.Db.push_back(i == 48 ? 10 * std::log10(49.0) : -300);
    }
    const auto smooth = Smooth(line, 1);
    EXPECT_NEAR(smooth.Db[48], 0, 1e-9); // 49 points within the octave, one of them at 49
    EXPECT_NEAR(Smooth(line, 0).Db[48], line.Db[48], 0);
}

TEST(MeasureTest, CalibrationFilesInTheirUsualShapes)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<double> hz, db;
        std::optional<double> sens;
    };
    const std::vector<Case> cases = {
        {"vendor header, tab separated",
         "\"Sens Factor =-.7423dB, AGain =18dB, SERNO: 7001234\"\r\n10.054\t-1.2\r\n20.108\t-0.45\r\n1000\t0\r\n",
         {10.054, 20.108, 1000}, {-1.2, -0.45, 0}, -0.7423},
        {"three columns with phase",
         "* calibration\n20 0.5 -12.3\n1000 0.0 0.0\n20000 -2.25 45\n", {20, 1000, 20000}, {0.5, 0, -2.25},
         std::nullopt},
        {"commas, a sensitivity line and a column header",
         "Sensitivity: -38.2 dBFS\nFrequency,Magnitude\n20,1.5\n100,+0.25\n", {20, 100}, {1.5, 0.25}, -38.2},
    };
    for (const auto& c : cases) {
        Calibration cal;
        std::string why;
        ASSERT_TRUE(ParseCalibration(c.text, cal, &why)) << c.name << ": " << why;
        EXPECT_EQ(cal.Hz, c.hz) << c.name;
        EXPECT_EQ(cal.Db, c.db) << c.name;
        EXPECT_EQ(cal.SensitivityDb, c.sens) << c.name;
    }
    for (const char* bad : {"", "* nothing\n", "20 1\n10 2\n", "20\n", "0 1\n"}) {
        Calibration cal;
        std::string why;
        EXPECT_FALSE(ParseCalibration(bad, cal, &why)) << bad;
        EXPECT_FALSE(why.empty());
    }
}

TEST(MeasureTest, CalibrationIsTakenOffExactly)
{
    Calibration cal;
    ASSERT_TRUE(ParseCalibration("20 2\n1000 0\n10000 -3\n", cal));
    EXPECT_DOUBLE_EQ(CalibrationAt(cal, 10), 2);
    EXPECT_DOUBLE_EQ(CalibrationAt(cal, 20000), -3);
    EXPECT_NEAR(CalibrationAt(cal, std::sqrt(1000.0 * 10000)), -1.5, 1e-12);

    SimulatedRoom room(TypicalRoom(40));
    MeasureSettings s;
    Response plain, calibrated;
    ASSERT_TRUE(MeasureSweep(room, s, plain, nullptr));
    s.Cal = cal;
    SimulatedRoom same(TypicalRoom(40));
    ASSERT_TRUE(MeasureSweep(same, s, calibrated, nullptr));
    for (std::size_t i = 0; i < plain.Hz.size(); ++i)
        EXPECT_DOUBLE_EQ(calibrated.Db[i], plain.Db[i] - CalibrationAt(cal, plain.Hz[i])) << plain.Hz[i];
}

TEST(MeasureTest, SavedTextIsReadBackAsTheSameCurve)
{
    Response r{{20, 1000, 20000}, {-3.25, 0, 1.5}};
    const auto text = RewText(r, "Sweep 3 s");
    EXPECT_EQ(text, "* Measurement data measured by KTV Tune\n* Sweep 3 s\n* Freq(Hz) SPL(dB) Phase(degrees)\n"
                    "20.000000 -3.250 0.0000\n1000.000000 0.000 0.0000\n20000.000000 1.500 0.0000\n");
}

TEST(MeasureTest, AnalyserBandsReadASineAtItsLevelInItsBand)
{
    const double rate = 48000;
    for (int bands : {3, 6, 24}) {
        Analyser a(rate, bands, 1);
        const double step = std::pow(2.0, 1.0 / bands);
        EXPECT_NEAR(a.BandHz().front(), 20, 20 * (step - 1));
        std::size_t k = 0;
        while (a.BandHz()[k] < 1000 - 1e-6)
            ++k;
        ASSERT_NEAR(a.BandHz()[k], 1000, 1e-6);
        std::vector<float> x(32768);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(0.1 * std::sin(2 * std::numbers::pi * 1000 * i / rate));
        EXPECT_TRUE(a.Push(x.data(), x.size()));
        EXPECT_NEAR(a.LevelDb()[k], -20, 0.1) << bands;
        EXPECT_LT(a.LevelDb()[k + 2], -50) << bands;
        // Peak hold keeps the sine after it stops; the running level falls.
        std::vector<float> quiet(32768, 0.0f);
        a.Push(quiet.data(), quiet.size());
        EXPECT_LT(a.LevelDb()[k], -100);
        EXPECT_NEAR(a.PeakDb()[k], -20, 0.1);
        a.ResetPeaks();
        EXPECT_LT(a.PeakDb()[k], -150);
    }
}

TEST(MeasureTest, AnalyserAveragesFramesAndPinkNoiseIsFlatInOctaveShares)
{
    const double rate = 48000;
    Analyser a(rate, 3, 32);
    PinkNoise pink(-20);
    std::vector<float> x(rate * 10);
    pink.Fill(x.data(), x.size());
    double power = 0;
    for (float v : x)
        power += double(v) * v;
    EXPECT_NEAR(10 * std::log10(power / x.size()), -20, 0.5);
    a.Push(x.data(), x.size());
    // Pink noise: equal power in each third of an octave, within the averaging's spread.
    double lo = 1e9, hi = -1e9;
    for (std::size_t b = 0; b < a.BandHz().size(); ++b)
        if (a.BandHz()[b] >= 50 && a.BandHz()[b] <= 16000) {
            lo = std::min(lo, a.LevelDb()[b]);
            hi = std::max(hi, a.LevelDb()[b]);
        }
    EXPECT_LT(hi - lo, 2.0);
    EXPECT_EQ(a.Hop(), 2400u);
}

// A microphone's file is read whole; a FIFO given in its place is refused at
// once instead of waited on, a device is not read without end.
TEST(MeasureTest, CalibrationReaderReadsAFileAndRefusesWhatIsNotOne)
{
    const std::string folder = std::filesystem::temp_directory_path().string();
    const std::string file = folder + "/ktv-calibration-" + std::to_string(::getpid()) + ".txt";
    std::ofstream(file) << "\"Sens Factor =-1.2dB\"\n20 -0.5\n1000 0\n20000 1.5\n";
    Calibration cal;
    std::string why;
    ASSERT_TRUE(ReadCalibrationFile(file, cal, &why)) << why;
    EXPECT_EQ(cal.Hz.size(), 3u);
    std::filesystem::remove(file);

    const std::string fifo = folder + "/ktv-calibration-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        auto answer = std::async(std::launch::async, [&] {
            std::string reason;
            Calibration c;
            return std::make_pair(ReadCalibrationFile(path, c, &reason), reason);
        });
        if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "waited on " << path;
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK)); // let it go
        }
        const auto [ok, reason] = answer.get();
        EXPECT_FALSE(ok);
        EXPECT_EQ(reason, "Cannot open the calibration file " + path + ": it is not a regular file.");
    }
    std::filesystem::remove(fifo);
}

} // namespace
} // namespace ktv::measure
