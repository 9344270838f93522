#include "interop/FilterText.h"
#include "interop/FilterDialects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace ktv {
namespace {

using K = FileFilterKind;

struct LineCase {
    std::string line;
    K kind;
    bool on;
    double fc;
    std::optional<double> gain, q, bw, slope;
    bool corner;
    std::string token;
};

TEST(FilterText, ReadsEveryTypeTokenAsTheToolsWriteIt)
{
    const std::optional<double> no;
    const std::vector<LineCase> cases = {
        {"Filter  1: ON  PK       Fc   1000 Hz  Gain  -3.0 dB  Q  1.410", K::Peak, true, 1000, -3.0, 1.41, no, no, false, "PK"},
        {"Filter  2: ON  PEQ      Fc     100 Hz  Gain   1.0 dB  BW Oct 0.167", K::Peak, true, 100, 1.0, no, 0.167, no, false, "PEQ"},
        {"Filter  3: ON  Modal    Fc   42.5 Hz  Gain -10.0 dB  Q  4.600  T60 target  300 ms", K::Peak, true, 42.5, -10.0, 4.6, no, no, false, "Modal"},
        {"Filter  4: ON  LP       Fc  12000 Hz", K::LowPass, true, 12000, no, no, no, no, false, "LP"},
        {"Filter  5: ON  HP       Fc     30 Hz", K::HighPass, true, 30, no, no, no, no, false, "HP"},
        {"Filter  6: ON  LPQ      Fc  10000 Hz  Q  0.400", K::LowPass, true, 10000, no, 0.4, no, no, false, "LPQ"},
        {"Filter  7: ON  HPQ      Fc     40 Hz  Q  1.000", K::HighPass, true, 40, no, 1.0, no, no, false, "HPQ"},
        {"Filter  8: ON  LP1      Fc   8000 Hz", K::LowPass1, true, 8000, no, no, no, no, false, "LP1"},
        {"Filter  9: ON  HP1      Fc     20 Hz", K::HighPass1, true, 20, no, no, no, no, false, "HP1"},
        {"Filter 10: ON  LS       Fc    300 Hz  Gain   5.0 dB", K::LowShelf, true, 300, 5.0, no, no, no, false, "LS"},
        {"Filter 11: ON  HS       Fc   8000 Hz  Gain  -2.0 dB", K::HighShelf, true, 8000, -2.0, no, no, no, false, "HS"},
        {"Filter 12: ON  LSC      Fc    105 Hz  Gain   6.5 dB  Q  0.70", K::LowShelf, true, 105, 6.5, 0.7, no, no, false, "LSC"},
        {"Filter 13: ON  HSC      Fc  10000 Hz  Gain  -4.0 dB  Q  0.70", K::HighShelf, true, 10000, -4.0, 0.7, no, no, false, "HSC"},
        {"Filter 14: ON  LS 6dB   Fc    100 Hz  Gain   6.0 dB", K::LowShelf1, true, 100, 6.0, no, no, 6.0, true, "LS 6dB"},
        {"Filter 15: ON  LS 12dB  Fc    100 Hz  Gain   6.0 dB", K::LowShelf, true, 100, 6.0, no, no, 12.0, true, "LS 12dB"},
        {"Filter 16: ON  HS 6dB   Fc   5000 Hz  Gain  -6.0 dB", K::HighShelf1, true, 5000, -6.0, no, no, 6.0, true, "HS 6dB"},
        {"Filter 17: ON  HS 12dB  Fc   5000 Hz  Gain   3.0 dB", K::HighShelf, true, 5000, 3.0, no, no, 12.0, true, "HS 12dB"},
        {"Filter 18: ON  LSC 9.0 dB Fc  200 Hz  Gain   4.0 dB", K::LowShelf, true, 200, 4.0, no, no, 9.0, false, "LSC 9.0 dB"},
        {"Filter 19: ON  HSC 4dB  Fc   3000 Hz  Gain  -3.0 dB", K::HighShelf, true, 3000, -3.0, no, no, 4.0, false, "HSC 4dB"},
        {"Filter 20: ON  LS Q     Fc    120 Hz  Gain   3.0 dB  Q  0.900", K::LowShelf, true, 120, 3.0, 0.9, no, no, false, "LS Q"},
        {"Filter 21: ON  HS Q     Fc   6000 Hz  Gain  -3.0 dB  Q  0.500", K::HighShelf, true, 6000, -3.0, 0.5, no, no, false, "HS Q"},
        {"Filter 22: ON  NO       Fc     50 Hz", K::Notch, true, 50, no, no, no, no, false, "NO"},
        {"Filter 23: ON  Notch    Fc     60 Hz  Q  20.0", K::Notch, true, 60, no, 20.0, no, no, false, "Notch"},
        {"Filter 24: ON  AP       Fc    500 Hz  Q  0.707", K::AllPass, true, 0, no, 0.707, no, no, false, "AP"},
        {"Filter 25: ON  All pass Fc    500 Hz  Q  0.707", K::AllPass, true, 0, no, 0.707, no, no, false, "All pass"},
        {"Filter 26: ON  BP       Fc   2000 Hz  Q  2.0", K::BandPass, true, 2000, no, 2.0, no, no, false, "BP"},
        {"Filter 27: ON  None", K::None, true, 0, no, no, no, no, false, "None"},
        {"Filter 28: OFF PK       Fc    250 Hz  Gain   2.0 dB  Q  3.000", K::Peak, false, 250, 2.0, 3.0, no, no, false, "PK"},
        {"Filter: ON PK Fc 80 Hz Gain -3 dB Q 2", K::Peak, true, 80, -3.0, 2.0, no, no, false, "PK"},
        {"Filter 1:ON PK Fc 1000Hz Gain -3dB Q 1", K::Peak, true, 1000, -3.0, 1.0, no, no, false, "PK"},
    };
    std::string text;
    for (const LineCase& c : cases)
        text += c.line + "\n";
    const FilterFile file = ParseFilterText(text);
    ASSERT_EQ(file.Filters.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const LineCase& c = cases[i];
        const FileFilter& f = file.Filters[i];
        SCOPED_TRACE(c.line);
        EXPECT_EQ(f.Problem, "");
        EXPECT_EQ(f.Line, int(i + 1));
        EXPECT_EQ(f.Text, c.line);
        EXPECT_EQ(f.TypeToken, c.token);
        EXPECT_EQ(f.Kind, c.kind);
        EXPECT_EQ(f.On, c.on);
        EXPECT_DOUBLE_EQ(f.Fc, c.fc);
        EXPECT_EQ(f.Gain, c.gain);
        EXPECT_EQ(f.Q, c.q);
        EXPECT_EQ(f.BwOct, c.bw);
        EXPECT_EQ(f.SlopeDb, c.slope);
        EXPECT_EQ(f.CornerFrequency, c.corner);
    }
    EXPECT_EQ(file.Filters[2].T60Ms, 300.0);
}

TEST(FilterText, ReadsAGermanRewFileWithCommasThousandsDotsAndOddSpaces)
{
    // REW on a German system: decimal commas, grouping dots, "H z", a no-break space.
    const std::string text = "Filter Settings file\r\n"
                             "\r\n"
                             "Room EQ V5.20.13\r\n"
                             "Dated: 10.12.2026 10:14:02\r\n"
                             "\r\n"
                             "Notes:Wohnzimmer links\r\n"
                             "\r\n"
                             "Equaliser: Generic\r\n"
                             "Average 1\r\n"
                             "Filter  1: ON  PK       Fc   8.000 Hz  Gain -10,0 dB  Q  4,000\r\n"
                             "Filter  2: ON  PK       Fc   63,5 H z  Gain   3,5 dB  Q  1,410\r\n"
                             "Filter  3: ON  PK       Fc  12.500 Hz\xC2\xA0 Gain  -2,0 dB\xC2\xA0 Q  0,700\r\n"
                             "Filter  4: ON  None\r\n"
                             "Filter  5: OFF None\r\n";
    const FilterFile file = ParseFilterText(text);
    ASSERT_EQ(file.Filters.size(), 5u);
    const double expected[][3] = {{8000, -10.0, 4.0}, {63.5, 3.5, 1.41}, {12500, -2.0, 0.7}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const FileFilter& f = file.Filters[std::size_t(i)];
        EXPECT_EQ(f.Problem, "");
        EXPECT_DOUBLE_EQ(f.Fc, expected[i][0]);
        EXPECT_DOUBLE_EQ(*f.Gain, expected[i][1]);
        EXPECT_DOUBLE_EQ(*f.Q, expected[i][2]);
    }
    EXPECT_EQ(file.Filters[3].Kind, K::None);
    EXPECT_FALSE(file.Filters[4].On);
    EXPECT_FALSE(file.Preamp);

    // The same grouping dot in an English file is a decimal point.
    const FilterFile english = ParseFilterText("Filter 1: ON PK Fc 8.000 Hz Gain -1.0 dB Q 1.000\n");
    EXPECT_DOUBLE_EQ(english.Filters[0].Fc, 8.0);
    // An English file that groups thousands with commas.
    const FilterFile grouped = ParseFilterText("Filter 1: ON PK Fc 1,000 Hz Gain -1.5 dB Q 1.00\n");
    EXPECT_DOUBLE_EQ(grouped.Filters[0].Fc, 1000.0);
    EXPECT_DOUBLE_EQ(*grouped.Filters[0].Gain, -1.5);
}

TEST(FilterText, ReadsAutoEqAndApoFilesAndSkipsWhatIsNotAFilter)
{
    const std::string autoEq = "Preamp: -6.2 dB\n"
                               "Filter 1: ON LSC Fc 105 Hz Gain 5.6 dB Q 0.70\n"
                               "Filter 2: ON PK Fc 193 Hz Gain -3.1 dB Q 0.44\n"
                               "Filter 3: ON HSC Fc 10000 Hz Gain -2.4 dB Q 0.70\n";
    const FilterFile a = ParseFilterText(autoEq);
    ASSERT_EQ(a.Filters.size(), 3u);
    EXPECT_EQ(a.Preamp, -6.2);
    EXPECT_EQ(a.Filters[0].Kind, K::LowShelf);
    EXPECT_EQ(a.Filters[0].Q, 0.7);
    EXPECT_EQ(a.Filters[2].Kind, K::HighShelf);

    const std::string apo = "Device: High Definition Audio Device Speakers; Benchmark\n"
                            "# All lines below apply to that device\n"
                            "Preamp: -6 dB\n"
                            "Include: example.txt\n"
                            "Filter  1: ON  PK       Fc     50 Hz   Gain  -3.0 dB  Q 10.00\n"
                            "# Filter  9: ON  PK       Fc   2000 Hz   Gain  -3.0 dB  Q 1.00\n"
                            "Channel: L\n"
                            "Preamp: -1.5 dB\n"
                            "Filter  1: ON  LS       Fc     300 Hz  Gain   5.0 dB\n"
                            "Channel: 2 C\n"
                            "Filter  1: ON  HP       Fc     30 Hz\n"
                            "GraphicEQ: 25 -2; 40 4; 63 5.8\n"
                            "Copy: L=R\n";
    const FilterFile b = ParseFilterText(apo);
    ASSERT_EQ(b.Filters.size(), 3u);
    EXPECT_EQ(b.Preamp, -7.5);
    EXPECT_EQ(b.Filters[0].Line, 5);
    EXPECT_EQ(b.Filters[1].Line, 9);
    EXPECT_EQ(b.Filters[2].Kind, K::HighPass);
}

TEST(FilterText, RecognisesEachToolsFileAndListsWhatTheDialogsOffer)
{
    const struct {
        const char* text;
        const char* dialect;
    } cases[]{
        {"Filter Settings file\n\nRoom EQ V5.20\nFilter  1: ON  PK       Fc   50.0 Hz  Gain  -3.0 dB  Q  4.00\n", "rew"},
        {"Preamp: -6.2 dB\nFilter 1: ON LSC Fc 105 Hz Gain 5.6 dB Q 0.70\n", "autoeq"},
        {"Preamp: -6 dB\nChannel: L\nFilter: ON PK Fc 50 Hz Gain -3 dB Q 10\n", "apo"},
        {"Device: Speakers\nFilter  1: ON  HP       Fc     30 Hz\n", "apo"},
        // Unclaimed text is read as REW writes it.
        {"Filter 1: ON PK Fc 50 Hz Gain -3 dB Q 1\n", "rew"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(DialectOf(c.text).Id, c.dialect) << c.text;

    EXPECT_EQ(FilterReadPatterns(), "*.txt");
    EXPECT_EQ(FilterWritePatterns(), "*.txt");
    EXPECT_EQ(MeasurementPatterns(), "*.txt *.frd *.csv");
    EXPECT_EQ(FilterDialectNames(), "REW, Equalizer APO or AutoEq");
    EXPECT_EQ(FilterExportNames(), "REW, Equalizer APO or AutoEq");
    EXPECT_EQ(FilterExportIds(), "rew, apo or autoeq");
    EXPECT_STREQ(MeasurementFormatOf("* REW export\n20 80.5 0\n").Id, "rew");
    EXPECT_STREQ(MeasurementFormatOf("20 80.5 0\n").Id, "frd");
    EXPECT_STREQ(MeasurementFormatOf("20;80,5;0\n").Id, "csv");
}

TEST(FilterText, ReadsUtf16WithBomAndCrlf)
{
    const std::string ascii = "Preamp: -3.0 dB\r\nFilter 1: ON PK Fc 440 Hz Gain -4.5 dB Q 2.00\r\n";
    for (bool little : {true, false}) {
        SCOPED_TRACE(little ? "UTF-16LE" : "UTF-16BE");
        std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : ascii) {
            bytes += little ? c : '\0';
            bytes += little ? '\0' : c;
        }
        const FilterFile file = ParseFilterText(bytes);
        ASSERT_EQ(file.Filters.size(), 1u);
        EXPECT_EQ(file.Filters[0].Text, "Filter 1: ON PK Fc 440 Hz Gain -4.5 dB Q 2.00");
        EXPECT_DOUBLE_EQ(file.Filters[0].Fc, 440);
        EXPECT_EQ(file.Filters[0].Q, 2.0);
        EXPECT_EQ(file.Preamp, -3.0);
    }
    const FilterFile bom = ParseFilterText("\xEF\xBB\xBF" "Filter 1: ON NO Fc 50 Hz\r\n");
    ASSERT_EQ(bom.Filters.size(), 1u);
    EXPECT_EQ(bom.Filters[0].Kind, K::Notch);
}

TEST(FilterText, NamesWhatIsWrongWithALine)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Filter 1: ON XYZ Fc 100 Hz", "unknown filter type \"XYZ\""},
        {"Filter 1: ON", "no filter type"},
        {"Filter 1: MAYBE PK Fc 100 Hz Gain 1 dB Q 1", "neither ON nor OFF"},
        {"Filter 1: ON PK Gain 1 dB Q 1", "no centre frequency (Fc)"},
        {"Filter 1: ON PK Fc 100 Hz Q 1", "no gain"},
        {"Filter 1: ON PK Fc 100 Hz Gain 2 dB", "no Q or bandwidth"},
        {"Filter 1: ON PK Fc abc Hz Gain 2 dB Q 1", "a number is missing after \"Fc\""},
        {"Filter 1: ON PK Fc 100 Hz Gain 2 dB Q 0", "a Q, bandwidth, slope or time that is not above 0"},
    };
    for (const auto& [line, problem] : cases) {
        SCOPED_TRACE(line);
        const FilterFile file = ParseFilterText(line);
        ASSERT_EQ(file.Filters.size(), 1u);
        EXPECT_EQ(file.Filters[0].Problem, problem);
    }
    // Lines that begin with "Filter" but are not filter lines.
    EXPECT_TRUE(ParseFilterText("Filter Settings file\nFilters: none\n").Filters.empty());
}

TEST(FilterText, ChannelNamesInAnyCase)
{
    EXPECT_EQ(ChannelFromName("mic"), EqChannel::MIC);
    EXPECT_EQ(ChannelFromName("Center"), EqChannel::CENTER);
    EXPECT_EQ(ChannelFromName("SRS"), EqChannel::SRS);
    EXPECT_EQ(ChannelFromName("EFFECT"), EqChannel::EFFECT);
    EXPECT_FALSE(ChannelFromName("LEFT"));
    EXPECT_STREQ(EqChannelName(EqChannel::MUSIC), "MUSIC");
}

} // namespace
} // namespace ktv
