#include "dsp/Filter.h"
#include "dsp/StepTables.h"
#include "interop/FilterDialects.h"
#include "interop/FilterImport.h"
#include "interop/FilterText.h"

#include "core/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace ktv {
namespace {

class FilterImport : public test::CoreFixture {};

PeqBand& Band(EqChannel channel, int position) // position 1-based
{
    return DspParams.Band[std::size_t(GroupOf(channel).FirstBand + position - 1)];
}

double BoxDb(PeqBand band, double hz)
{
    DesignBand(band);
    return MagnitudeDb(band.Coef, float(hz));
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines)
        s += l + "\n";
    return s;
}

TEST_F(FilterImport, ShelvesKeepTheirShapeOnTheBoxWithinATenthOfADecibel)
{
    // Centre frequencies on the Fc steps and converted Q values near a Q step,
    // so what is left is the conversion itself.
    const std::vector<std::string> lines = {
        "Filter 1: ON LSC Fc 101 Hz Gain 6.0 dB Q 0.70",       // cookbook Q as it is
        "Filter 1: ON HSC Fc 4970 Hz Gain -4.5 dB Q 1.30",
        "Filter 1: ON LS Q Fc 498 Hz Gain 9.0 dB Q 0.50",
        "Filter 1: ON LS Fc 1000 Hz Gain 6.0 dB",              // slope S 0.9
        "Filter 1: ON HS Fc 2020 Hz Gain -8.0 dB",
        "Filter 1: ON LSC 12 dB Fc 207 Hz Gain 10.0 dB",       // S 1
        "Filter 1: ON HSC 6 dB Fc 9990 Hz Gain 5.0 dB",        // S 0.5
        "Filter 1: ON LS 12dB Fc 120 Hz Gain 6.0 dB",          // corner frequency
        "Filter 1: ON HS 12dB Fc 3000 Hz Gain -6.0 dB",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        const FilterFile file = ParseFilterText(line);
        ImportPlan plan;
        ASSERT_TRUE(PlanFilterImport(file, EqChannel::MAIN, plan));
        const PeqBand& band = plan.Bands[0];
        const FileFilterDesign design = DesignOf(file.Filters[0]);
        double worst = 0;
        for (int i = 0; i < 20; ++i) {
            const double hz = 20.0 * std::pow(1000.0, i / 19.0);
            worst = std::max(worst, std::abs(BoxDb(band, hz) - FileFilterDb(design, hz)));
        }
        // The box keeps Q in tenths: a slope's Q (0.669) lands on 0.7, which
        // moves the skirt of a steep shelf by up to 0.18 dB.
        EXPECT_LT(worst, 0.2) << Joined(plan.Report);
    }
}

TEST_F(FilterImport, MapsTypesOntoTheBoxStepsAndSaysWhy)
{
    struct Case {
        std::string line;
        FilterType type;
        float fc, q, gain;
        bool on;
        std::string note; // a part of the band's report line
    };
    const std::vector<Case> cases = {
        {"Filter 1: ON PK Fc 1000 Hz Gain -3.0 dB Q 0.70", FilterType::Bell, 1000, 0.7f, -3.0f, true, "(as given)"},
        // Only a gain beyond the box's tenths: not "as given".
        {"Filter 1: ON PK Fc 1000 Hz Gain -3.04 dB Q 0.70", FilterType::Bell, 1000, 0.7f, -3.0f, true, "(gain rounded from -3.04 dB;"},
        {"Filter 1: ON PK Fc 1003 Hz Gain -3.04 dB Q 0.72", FilterType::Bell, 1000, 0.7f, -3.0f, true, "Fc snapped from 1003 Hz; Q snapped from 0.72;"},
        {"Filter 1: ON PEQ Fc 250 Hz Gain 2.0 dB BW Oct 1.0", FilterType::Bell, 249, 1.4f, 2.0f, true, "bandwidth 1 oct as Q 1.414"},
        {"Filter 1: ON PK Fc 30000 Hz Gain 15.0 dB Q 200", FilterType::Bell, 20200, 124, 12.0f, true, "Fc 30000 Hz held to 20200 Hz"},
        {"Filter 1: ON PK Fc 100 Hz Gain -30.0 dB Q 2", FilterType::Bell, 99.1f, 2.0f, -24.0f, true, "gain clamped from -30.0 dB"},
        {"Filter 1: ON HP Fc 40 Hz", FilterType::HighPass, 40.1f, 0.7f, 0, true, "Q 0.707 by default"},
        {"Filter 1: ON LPQ Fc 10000 Hz Q 0.5", FilterType::LowPass, 9990, 0.5f, 0, true, "Fc snapped from 10000 Hz"},
        {"Filter 1: ON NO Fc 50 Hz", FilterType::Notch, 50.3f, 30, 0, true, "Q 30 by default"},
        {"Filter 1: ON BP Fc 1000 Hz", FilterType::BandPass, 1000, 0.7f, 0, true, "Q 0.707 by default"},
        {"Filter 1: OFF PK Fc 1000 Hz Gain 4.0 dB Q 2.0", FilterType::Bell, 1000, 2.0f, 4.0f, false, "OFF in the file: bypassed"},
        {"Filter 1: ON LP1 Fc 1000 Hz", FilterType::LowPass, 0, 0, 0, true, "type converted: first order as second order"},
        {"Filter 1: ON LS 6dB Fc 100 Hz Gain 6.0 dB", FilterType::LowShelf, 0, 0, 6.0f, true, "type converted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ImportPlan plan;
        ASSERT_TRUE(PlanFilterImport(ParseFilterText(c.line), EqChannel::SUB, plan));
        ASSERT_EQ(plan.Bands.size(), 5u);
        const PeqBand& b = plan.Bands[0];
        EXPECT_EQ(b.Flags & FlagTypeMask, int(c.type));
        EXPECT_EQ((b.Flags & FlagBandOn) != 0, c.on);
        EXPECT_NE(b.Flags & FlagChannelEqOn, 0); // kept from the channel
        if (c.fc != 0) {
            EXPECT_FLOAT_EQ(b.Fc, c.fc);
            EXPECT_FLOAT_EQ(b.Q, c.q);
        } else {
            EXPECT_EQ(FcSteps[std::size_t(FcStepIndex(b.Fc))], b.Fc); // fitted, on the steps
            EXPECT_EQ(BoxHeld(b).Q, b.Q); // as the box holds it
        }
        EXPECT_FLOAT_EQ(b.Gain, c.gain);
        ASSERT_FALSE(plan.Report.empty());
        EXPECT_NE(plan.Report[0].find(c.note), std::string::npos) << plan.Report[0];
        // "as given" and a difference never stand side by side.
        EXPECT_TRUE(plan.Report[0].find("as given") == std::string::npos ||
                    plan.Report[0].find("differs") == std::string::npos)
            << plan.Report[0];
        // The other bands are flat bells.
        for (std::size_t k = 1; k < plan.Bands.size(); ++k) {
            EXPECT_EQ(plan.Bands[k].Flags & FlagTypeMask, int(FilterType::Bell));
            EXPECT_EQ(plan.Bands[k].Gain, 0.0f);
        }
    }
}

TEST_F(FilterImport, KeepsTheFiltersWithTheLargestEffectAndReportsEveryLine)
{
    const std::string text = "Filter Settings file\n"
                             "Preamp: -4.0 dB\n"
                             "Filter  1: ON  PK Fc   63.5 Hz Gain  -6.0 dB Q 4.0\n"
                             "Filter  2: ON  PK Fc    125 Hz Gain  -0.5 dB Q 2.0\n" // smallest: left out
                             "Filter  3: ON  PK Fc    250 Hz Gain   3.0 dB Q 2.0\n"
                             "Filter  4: ON  AP Fc    500 Hz Q 0.7\n"
                             "Filter  5: ON  PK Fc   1000 Hz Gain  -2.0 dB Q 1.0\n"
                             "Filter  6: ON  PK Fc   2000 Hz Gain   1.0 dB Q 3.0\n"
                             "Filter  7: ON  ZZ Fc   3000 Hz\n"
                             "Filter  8: ON  PK Fc   4000 Hz Gain  -4.0 dB Q 5.0\n"
                             "Filter  9: ON  PK Fc   8000 Hz Gain   0.8 dB Q 1.0\n" // second smallest: left out
                             "Filter 10: ON  None\n";
    ImportPlan plan;
    ASSERT_TRUE(PlanFilterImport(ParseFilterText(text), EqChannel::MAIN, plan)); // five bands
    EXPECT_EQ(plan.Kept, 5);
    const float kept[] = {63.2f, 249, 1000, 2020, 4040};
    for (int i = 0; i < 5; ++i)
        EXPECT_FLOAT_EQ(plan.Bands[std::size_t(i)].Fc, kept[i]) << i;
    const std::string report = Joined(plan.Report);
    EXPECT_NE(report.find("Line 3 \"Filter  1: ON  PK Fc   63.5 Hz Gain  -6.0 dB Q 4.0\": band 1 Bell 63.2 Hz Q 4.1 -6.0 dB (Fc snapped from 63.5 Hz; Q snapped from 4; differs by at most 0.19 dB)\n"),
              std::string::npos) << report;
    EXPECT_NE(report.find("Line 4 \"Filter  2: ON  PK Fc    125 Hz Gain  -0.5 dB Q 2.0\": left out"), std::string::npos);
    EXPECT_NE(report.find("Line 11 \"Filter  9: ON  PK Fc   8000 Hz Gain   0.8 dB Q 1.0\": left out"), std::string::npos);
    EXPECT_NE(report.find("Line 6 \"Filter  4: ON  AP Fc    500 Hz Q 0.7\": not applied: an all-pass"), std::string::npos);
    EXPECT_NE(report.find("Line 9 \"Filter  7: ON  ZZ Fc   3000 Hz\": not applied: unknown filter type \"ZZ\""),
              std::string::npos);
    EXPECT_NE(report.find("Line 12 \"Filter 10: ON  None\": not applied: type None"), std::string::npos);
    EXPECT_NE(report.find("Preamp -4.0 dB: not applied"), std::string::npos);
    // The two left out are what the difference is mostly about: 0.8 dB at 8 kHz.
    EXPECT_NEAR(plan.LargestDifferenceDb, 0.8, 0.05);
    EXPECT_NE(plan.Report.back().find("Largest difference from the file's response, 20 Hz - 20 kHz: "), std::string::npos);

    // Nothing was written yet; applying writes the channel's group only.
    EXPECT_EQ(Band(EqChannel::MAIN, 1).Fc, 50.0f);
    const PeqBand micBefore = Band(EqChannel::MIC, 1);
    ApplyFilterImport(plan);
    EXPECT_EQ(Band(EqChannel::MAIN, 1).Fc, 63.2f);
    EXPECT_EQ(Band(EqChannel::MAIN, 5).Fc, 4040.0f);
    EXPECT_EQ(Band(EqChannel::MIC, 1).Fc, micBefore.Fc);
    EXPECT_EQ(Band(EqChannel::SRS, 1).Fc, 50.0f);
}

TEST_F(FilterImport, RefusesAFileWithoutAUsableFilter)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "The file holds no filter line that can be used."},
        {"Preamp: -3 dB\n# nothing else\n", "The file holds no filter line that can be used."},
        {"Filter 1: ON AP Fc 100 Hz Q 1\nFilter 2: ON None\n", "The file holds no filter line that can be used."},
        {"Filter 1: ON QQ Fc 100 Hz\nFilter 2: ON PK Fc 100 Hz\n",
         "The file holds no filter line that can be used. Line 1: unknown filter type \"QQ\". Line 2: no gain."},
    };
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(text);
        ImportPlan plan;
        plan.Kept = 99;
        std::string why;
        EXPECT_FALSE(PlanFilterImport(ParseFilterText(text), EqChannel::MIC, plan, &why));
        EXPECT_EQ(why, reason);
        EXPECT_EQ(plan.Kept, 99);
    }
}

TEST_F(FilterImport, AnExportImportsBackBandForBand)
{
    const EqChannel channel = EqChannel::MIC;
    struct Setting {
        FilterType type;
        float fc, q, gain;
        bool on;
    };
    const Setting settings[] = {
        {FilterType::Bell, 19.7f, 0.42f, -24.0f, true},   {FilterType::LowShelf, 99.1f, 0.7f, 6.5f, true},
        {FilterType::HighShelf, 10200, 1.3f, -3.2f, true}, {FilterType::LowPass, 20200, 0.4f, 0, true},
        {FilterType::HighPass, 20.1f, 13.6f, 0, true},     {FilterType::Bell, 1020, 124, 12.0f, false},
        {FilterType::Notch, 4970, 30, 0, true},
    };
    for (int i = 0; i < 7; ++i) {
        PeqBand& b = Band(channel, i + 1);
        b.Flags = std::uint8_t((settings[i].on ? FlagBandOn : 0) | FlagChannelEqOn | std::uint8_t(settings[i].type));
        b.Fc = settings[i].fc;
        b.Q = settings[i].q;
        b.Gain = settings[i].gain;
    }
    const std::string text = ExportFilterText(channel, DspParams);
    EXPECT_EQ(text.substr(0, text.find('\n')), "# KTV Tune: MIC channel, 7 bands");
    EXPECT_NE(text.find("Filter  1: ON  PK       Fc  19.7 Hz  Gain  -24.0 dB  Q  0.4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Filter  6: OFF PK       Fc  1020 Hz  Gain  12.0 dB  Q  124.0\n"), std::string::npos) << text;

    // Every dialect the program writes reads back as the same bands.
    const DspParamsImage set = DspParams;
    const std::vector<PeqBand> before(&Band(channel, 1), &Band(channel, 1) + 7);
    for (const FilterDialect& dialect : FilterDialects()) {
        SCOPED_TRACE(dialect.Id);
        ASSERT_NE(dialect.Export, nullptr);
        DspParams = set;
        const std::string written = ExportFilterText(channel, DspParams, &dialect);
        LoadDefaults();
        ImportPlan plan;
        ASSERT_TRUE(PlanFilterImport(ParseFilterText(written), channel, plan)) << written;
        ApplyFilterImport(plan);
        for (int i = 0; i < 7; ++i) {
            SCOPED_TRACE(i);
            const PeqBand& a = before[std::size_t(i)];
            const PeqBand& b = Band(channel, i + 1);
            EXPECT_EQ(a.Flags, b.Flags);
            EXPECT_EQ(a.Fc, b.Fc);
            // Q 0.42 is a step the box holds as 0.4; the file carries 0.4.
            EXPECT_EQ(BoxHeld(a).Q, b.Q);
            EXPECT_EQ(a.Gain, b.Gain);
        }
    }
}

// Equalizer APO and AutoEq files lower the level by the channel's largest
// boost so a player never clips; AutoEq's opens with that line, as AutoEq
// writes it, and is recognised as AutoEq's.
TEST_F(FilterImport, ApoAndAutoEqExportsCarryThePreampTheBoostsNeed)
{
    const EqChannel channel = EqChannel::MUSIC;
    for (int i = 1; i <= 7; ++i)
        Band(channel, i).Flags = std::uint8_t(FlagChannelEqOn | std::uint8_t(FilterType::Bell)); // bypassed
    PeqBand& boost = Band(channel, 1);
    boost.Flags |= FlagBandOn;
    boost.Fc = 1000;
    boost.Q = 1;
    boost.Gain = 6;
    const FilterDialect& apo = *FilterDialectById("apo");
    const FilterDialect& autoEq = *FilterDialectById("autoeq");

    const std::string apoText = ExportFilterText(channel, DspParams, &apo);
    EXPECT_EQ(apoText.substr(0, apoText.find("Filter")), "# KTV Tune: MUSIC channel, 7 bands\nPreamp: -6.0 dB\n");
    const std::string autoEqText = ExportFilterText(channel, DspParams, &autoEq);
    EXPECT_EQ(autoEqText.substr(0, autoEqText.find('\n')), "Preamp: -6.0 dB");
    EXPECT_STREQ(DialectOf(autoEqText).Id, "autoeq");
    EXPECT_EQ(ParseFilterText(autoEqText).Preamp, -6.0);

    // A second bell beside it adds to the peak; cuts alone need no preamp.
    Band(channel, 2) = boost;
    Band(channel, 2).Gain = 2.5f;
    EXPECT_EQ(ParseFilterText(ExportFilterText(channel, DspParams, &apo)).Preamp, -8.5);
    boost.Gain = -6;
    Band(channel, 2).Gain = -2.5f;
    EXPECT_EQ(ParseFilterText(ExportFilterText(channel, DspParams, &autoEq)).Preamp, 0.0);
    // The default stays REW's lines without a preamp.
    EXPECT_EQ(ParseFilterText(ExportFilterText(channel, DspParams)).Preamp, std::nullopt);

    // A notch's gain is its level everywhere but the notch: REW's lines carry
    // it as their Preamp, APO's and AutoEq's as well, less what keeps the
    // file at or below 0 dB.
    PeqBand& notch = Band(channel, 3);
    notch.Flags = std::uint8_t(FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Notch));
    notch.Fc = 100;
    notch.Q = 30;
    for (const auto& [gain, rew, player] : {std::tuple{5.0f, 5.0, 0.0}, std::tuple{-4.0f, -4.0, -4.0}}) {
        notch.Gain = gain;
        EXPECT_EQ(ParseFilterText(ExportFilterText(channel, DspParams)).Preamp, rew);
        EXPECT_EQ(ParseFilterText(ExportFilterText(channel, DspParams, &apo)).Preamp, player);
        EXPECT_EQ(ParseFilterText(ExportFilterText(channel, DspParams, &autoEq)).Preamp, player);
    }
}

TEST_F(FilterImport, NumbersAreReadWholeWithTheirExponentSignAndDecimalMark)
{
    // Each case one filter line, with a second line that sets the file's
    // decimal mark where the case is about it. NAN: the value is not given.
    struct Case {
        std::string Text;
        double Fc, Gain, Q;
        const char* Problem; // the line refused, and why
    };
    const double none = NAN;
    const Case cases[] = {
        {"Filter 1: ON PK Fc 1e9 Hz Gain -3 dB Q 1", 1e9, -3, 1, ""},
        {"Filter 1: ON PK Fc 1E3 Hz Gain -3.5e0 dB Q 7e-1", 1000, -3.5, 0.7, ""},
        {"Filter 1: ON PK Fc 2.5e+3Hz Gain +3dB Q 1.41", 2500, 3, 1.41, ""},
        {"Filter 1: ON PK Fc 125 Hz Gain +1.5E-1 dB Q 2", 125, 0.15, 2, ""},
        {"Filter 1: ON PK Fc 4.7e1 H z Gain -12 dB Q 3", 47, -12, 3, ""},
        // A German REW: decimal commas and grouping dots, exponents as well.
        {"Filter 1: ON PK Fc 1,5e3 Hz Gain -3,0 dB Q 1,41", 1500, -3, 1.41, ""},
        {"Filter 1: ON PK Fc 8.000 Hz Gain -0,5e1 dB Q 1,0", 8000, -5, 1, ""},
        {"Filter 1: ON PK Fc 1.000,5 Hz Gain -1,5 dB Q 2,5", 1000.5, -1.5, 2.5, ""},
        // What is no number is said, never read as its first digits.
        {"Filter 1: ON PK Fc 1x9 Hz Gain -3 dB Q 1", none, none, none, "\"1x9\" is not a number"},
        {"Filter 1: ON PK Fc 1e Hz Gain -3 dB Q 1", none, none, none, "\"1e\" is not a number"},
        {"Filter 1: ON PK Fc 1e999 Hz Gain -3 dB Q 1", none, none, none, "\"1e999\" is not a number"},
        {"Filter 1: ON PK Fc 100 Hz Gain -3e1.5 dB Q 1", none, none, none, "\"-3e1.5\" is not a number"},
        {"Filter 1: ON PK Fc -1e3 Hz Gain -3 dB Q 1", none, none, none, "no centre frequency (Fc)"},
        {"Filter 1: ON PK Fc 100 Hz Gain -3 dB Q -1e-1", none, none, none,
         "a Q, bandwidth, slope or time that is not above 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const FilterFile file = ParseFilterText(c.Text + "\n");
        ASSERT_EQ(file.Filters.size(), 1u);
        const FileFilter& f = file.Filters[0];
        EXPECT_EQ(f.Problem, c.Problem);
        if (*c.Problem)
            continue;
        EXPECT_DOUBLE_EQ(f.Fc, c.Fc);
        EXPECT_DOUBLE_EQ(f.Gain.value_or(none), c.Gain);
        EXPECT_DOUBLE_EQ(f.Q.value_or(none), c.Q);
    }

    // 1e9 Hz is held to the highest step and the report says so.
    ImportPlan plan;
    ASSERT_TRUE(PlanFilterImport(ParseFilterText(cases[0].Text), EqChannel::MIC, plan));
    EXPECT_EQ(plan.Bands[0].Fc, 20200.0f);
    EXPECT_NE(Joined(plan.Report).find("Fc 1000000000 Hz held to 20200 Hz"), std::string::npos) << Joined(plan.Report);
}

} // namespace
} // namespace ktv
