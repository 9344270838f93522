#include "measure/Analyser.h"
#include "measure/Calibration.h"
#include "measure/Measure.h"
#include "measure/SimulatedRoom.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
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
