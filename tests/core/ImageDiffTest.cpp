#include "core/TestSupport.h"

#include "params/Commands.h"
#include "params/Gloable.h"
#include "params/History.h"
#include "params/ImageDiff.h"

#include <functional>
#include <string>

namespace ktv::test {
namespace {

using Change = std::function<void(DspParamsImage&)>;

DspParamsImage Defaults()
{
    DspParamsImage saved = DspParams;
    DspParams = {};
    LoadDefaults();
    DspParamsImage d = DspParams;
    DspParams = saved;
    return d;
}

DspParamsImage Changed(const Change& change)
{
    DspParamsImage d = Defaults();
    change(d);
    return d;
}

TEST(ImageDiff, NamesAndValuesOfChangedFields)
{
    struct Case {
        Change change;
        std::vector<ImageDifference> rows;
    };
    const std::vector<Case> cases{
        {[](DspParamsImage& d) { d.Band[15].Fc = 1234.5f; }, {{"MAIN band 2 Fc", "125", "1234.5"}}},
        {[](DspParamsImage& d) { d.Echo.Delay = 120; }, {{"Echo delay", "0", "120"}}},
        {[](DspParamsImage& d) { d.Mute = 0x01; }, {{"Mute MAIN L", "no", "yes"}}},
        {[](DspParamsImage& d) { d.Mute = 0x20; }, {{"Mute SRS R", "no", "yes"}}},
        {[](DspParamsImage& d) { d.Delay[3] = 441; }, {{"Delay SUB", "0", "441"}}},
        {[](DspParamsImage& d) { d.OutMix[3].EchoVol = 0x80 | 37; }, {{"SRS echo level", "+0", "-37"}}},
        {[](DspParamsImage& d) { d.Input = 2; }, {{"Music input", "AUX", "BT"}}},
        {[](DspParamsImage& d) { d.Dyn[2].Ratio = 9; }, {{"CENTER limiter ratio", "1", "9"}}},
        {[](DspParamsImage& d) { d.ReservedBytes[5] = 7; }, {{"Reserved byte 6", "0", "7"}}},
        // Band 34 is the first EFFECT band although EFFECT is the third tab.
        {[](DspParamsImage& d) { d.Band[34].Flags = 0x80 | 0x06; },
         {{"EFFECT band 1 type", "Bell", "Notch"}, {"EFFECT band 1 EQ bypass", "no", "yes"}}},
        {[](DspParamsImage& d) {
             d.MicVol = 5;
             d.Band[0].Gain = -3.5f;
             d.Band[0].Flags &= std::uint8_t(~FlagBandOn);
         },
         {{"Mic volume", "0", "5"}, {"MIC band 1 gain", "0", "-3.5"}, {"MIC band 1 bypass", "no", "yes"}}},
        // Coefficients follow from the band and are no setting of their own;
        // band values count as they travel, in whole tenths (0.69 goes as 0.7).
        {[](DspParamsImage& d) { d.Band[3].Coef[0] = 2.0f; }, {}},
        {[](DspParamsImage& d) { d.Band[3].Q = 0.69f, d.Band[4].Fc = 2000.04f; }, {}},
        {[](DspParamsImage& d) { d.Band[3].Q = 0.64f; }, {{"MIC band 4 Q", "0.7", "0.6"}}},
        {[](DspParamsImage& d) { d.Band[3].Q = 0.5f; }, {{"MIC band 4 Q", "0.7", "0.5"}}},
    };
    for (const Case& c : cases) {
        const auto rows = DiffImages(Defaults(), Changed(c.change));
        ASSERT_EQ(rows.size(), c.rows.size()) << (rows.empty() ? "" : rows[0].Name);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].Name, c.rows[i].Name);
            EXPECT_EQ(rows[i].Before, c.rows[i].Before) << rows[i].Name;
            EXPECT_EQ(rows[i].After, c.rows[i].After) << rows[i].Name;
        }
        EXPECT_EQ(SameSettings(Defaults(), Changed(c.change)), c.rows.empty());
    }
}

TEST(ImageDiff, StepNames)
{
    const std::vector<std::pair<Change, std::string>> cases{
        {[](DspParamsImage& d) { d.Band[2].Gain = 1; }, "Gain of MIC band 3"},
        {[](DspParamsImage& d) { d.Band[15].Fc = 200, d.Band[15].Gain = 3; }, "Fc and gain of MAIN band 2"},
        {[](DspParamsImage& d) {
             for (int k = 7; k < 14; ++k)
                 d.Band[std::size_t(k)].Flags &= std::uint8_t(~FlagChannelEqOn);
         },
         "MUSIC EQ"},
        {[](DspParamsImage& d) { d.Echo.Delay = 9; }, "Echo delay"},
        {[](DspParamsImage& d) { d.Mute = 0x03; }, "Mute MAIN L and MAIN R"},
        {[](DspParamsImage& d) { d.Pitch = 2; }, "Pitch"},
        {[](DspParamsImage& d) { d.MaxVol[0] = 50, d.MicVol = 50; }, "Mic volume and max volume"},
        {[](DspParamsImage& d) { d.MicVol = 1, d.Echo.Damp = 2, d.Band[0].Q = 3; }, "Mic volume and 2 more"},
        {[](DspParamsImage&) {}, ""},
    };
    for (const auto& [change, name] : cases)
        EXPECT_EQ(DescribeChange(Defaults(), Changed(change)), name);
}

// One change put on top of another image takes along only what it changed:
// a band's one value, a mute's one bit; the rest of the other image stays.
TEST(ImageDiff, CarriesAChangeOntoAnotherImage)
{
    const DspParamsImage before = Defaults();
    const DspParamsImage after = Changed([](DspParamsImage& d) {
        d.MicVol = 30;
        d.Band[2].Gain = 4.5f;
        d.Band[9].Flags &= std::uint8_t(~FlagBandOn);
        d.Mute |= 0x04; // CENTER
        d.Dyn[1].Attack = 20;
    });
    DspParamsImage box = Changed([](DspParamsImage& d) {
        d.MusicVol = 60;
        d.Band[2].Fc = 3000;
        d.Band[2].Q = 2;
        d.Band[2].Flags = 0xC4;
        d.Band[9].Flags = 0xC3;
        d.Mute = 0x01; // MAIN L
        d.Dyn[1].Ratio = 5;
    });
    CarryChanges(before, after, box);
    EXPECT_EQ(box.MicVol, 30);
    EXPECT_EQ(box.MusicVol, 60);
    EXPECT_EQ(box.Band[2].Gain, 4.5f);
    EXPECT_EQ(box.Band[2].Fc, 3000.0f);
    EXPECT_EQ(box.Band[2].Q, 2.0f);
    EXPECT_EQ(box.Band[2].Flags, 0xC4);
    EXPECT_EQ(box.Band[9].Flags, 0x43);
    EXPECT_EQ(box.Mute, 0x05);
    EXPECT_EQ(box.Dyn[1].Attack, 20);
    EXPECT_EQ(box.Dyn[1].Ratio, 5);
    EXPECT_EQ(DescribeChange(Changed([](DspParamsImage& d) {
                                 d.MusicVol = 60;
                                 d.Band[2].Fc = 3000;
                                 d.Band[2].Q = 2;
                                 d.Band[2].Flags = 0xC4;
                                 d.Band[9].Flags = 0xC3;
                                 d.Mute = 0x01;
                                 d.Dyn[1].Ratio = 5;
                             }),
                             box),
              "Mic volume and 4 more");
}

// What a request's element carries, named for the user, and the elements a
// change needs sent.
TEST(ImageDiff, NamesWhatARequestCarries)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(CarriedNames(DspCommand::PeqBands, 16), V{"MAIN band 3"});
    EXPECT_EQ(CarriedNames(DspCommand::MasterVolume, 0), (V{"Mic volume", "Music volume", "Effect volume"}));
    EXPECT_EQ(CarriedNames(DspCommand::Echo, 0), V{"Echo"});
    EXPECT_EQ(CarriedNames(DspCommand::Dynamics, 2), V{"CENTER limiter"});
    EXPECT_EQ(CarriedNames(DspCommand::Mute, 0), V{"Mute"});

    const auto elements = ChangedElements(Defaults(), Changed([](DspParamsImage& d) {
                                              d.EffectVol = 3;
                                              d.MicVol = 4;
                                              d.Band[20].Gain = 1;
                                              d.Band[20].Q = 3;
                                          }));
    EXPECT_EQ(elements, (std::vector<std::pair<DspCommand, int>>{{DspCommand::MasterVolume, 0}, {DspCommand::PeqBands, 20}}));
}

class SendChangesTest : public CoreFixture {};

// A request as its command and the index or band run it addresses.
Bytes Head(const Bytes& p)
{
    const std::uint8_t code = p.at(0);
    const std::size_t n = code == 0x20 || code == 0x25 ? 3 : code == 0x24 || code == 0x27 || code == 0x2C ? 2 : 1;
    return Bytes(p.begin(), p.begin() + std::ptrdiff_t(n));
}

TEST_F(SendChangesTest, SendsOnlyTheCommandsWhoseFieldsDiffer)
{
    struct Case {
        const char* what;
        Change change;
        std::vector<Bytes> heads; // code, and first/count for band runs
    };
    const std::vector<Case> cases{
        {"nothing", [](DspParamsImage&) {}, {}},
        {"one band", [](DspParamsImage& d) { d.Band[16].Gain = 2; }, {{0x20, 16, 1}}},
        {"a seven-band channel", [](DspParamsImage& d) { for (int k = 7; k < 14; ++k) d.Band[std::size_t(k)].Q = 2; },
         {{0x20, 7, 6}, {0x20, 13, 1}}},
        {"two separate bands", [](DspParamsImage& d) { d.Band[0].Fc = 60, d.Band[38].Fc = 70; },
         {{0x20, 0, 1}, {0x20, 38, 1}}},
        {"channel bypass", [](DspParamsImage& d) { for (int k = 14; k < 19; ++k) d.Band[std::size_t(k)].Flags &= 0xBF; },
         {{0x25, 14, 5}}},
        {"band bypass", [](DspParamsImage& d) { d.Band[20].Flags &= 0x7F; }, {{0x20, 20, 1}}},
        {"two volumes", [](DspParamsImage& d) { d.MicVol = 3, d.EffectVol = 4; }, {{0x1F}}},
        {"mute and delays", [](DspParamsImage& d) { d.Mute = 1, d.Delay[0] = 4, d.Delay[5] = 5; }, {{0x1E}, {0x26}}},
        {"dynamics of two groups", [](DspParamsImage& d) { d.Dyn[0].Ratio = 5, d.Dyn[4].Attack = 9; },
         {{0x27, 0}, {0x27, 4}}},
        {"mix, echo and reverb", [](DspParamsImage& d) { d.OutMix[2].MicVol = 7, d.Echo.Repeat = 3, d.Reverb.Time = 4; },
         {{0x2C, 2}, {0x30}, {0x31}}},
        {"noise gate 2", [](DspParamsImage& d) { d.NoiseGate[1] = -66; }, {{0x24, 1}}},
        {"pitch, FBX, input, max volume", [](DspParamsImage& d) { d.Pitch = -2, d.Fbx = 1, d.Input = 3, d.MaxVol[6] = 1; },
         {{0x2D}, {0x22}, {0x21}, {0x23}}},
        // Only the System block carries the reserved fields; it carries the
        // volumes too, so they need nothing more.
        {"reserved word and a volume", [](DspParamsImage& d) { d.ReservedWord = 9, d.MusicVol = 8; }, {{0x01}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DspParamsImage from = Defaults();
        DspParams = Changed(c.change);
        box.Box.Current = VirtualBox::DefaultSettings();
        ASSERT_TRUE(SendChanges(from));
        std::vector<Bytes> heads;
        for (const Bytes& p : TakeRequests())
            heads.push_back(Head(p));
        EXPECT_EQ(heads, c.heads);
        EXPECT_TRUE(ui.sleeps.empty()); // no pauses: a switch must be quick

        // The box now holds what a write-all of the image would leave.
        const VirtualBox::Settings after = box.Box.Current;
        ASSERT_TRUE(WriteAllToDevice());
        EXPECT_TRUE(after == box.Box.Current);
        (void)TakeRequests();
        ui.Clear();
    }
}

TEST_F(SendChangesTest, StopsAtTheFirstFailedRequest)
{
    const DspParamsImage from = DspParams;
    DspParams.MicVol = 1;
    DspParams.Echo.Delay = 2;
    DspParams.Band[0].Gain = 3;
    session.FailFrom(2);
    EXPECT_FALSE(SendChanges(from));
    const auto requests = TakeRequests(); // the echo request went unanswered; the band never went
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], (Bytes{0x1F, 1, 0, 0}));
    EXPECT_EQ(requests[1][0], 0x30);
}

TEST_F(SendChangesTest, HeldSendsReachNeitherTheBoxNorTheListener)
{
    int heard = 0;
    SetSendListener([&] { ++heard; });
    {
        HoldSends hold;
        EXPECT_TRUE(SendMute());
        EXPECT_TRUE(SendPeqBands(0, 1));
    }
    EXPECT_EQ(heard, 0);
    EXPECT_TRUE(TakeRequests().empty());
    EXPECT_TRUE(SendMute());
    EXPECT_EQ(heard, 1);
    Hid().CloseDevice();
    EXPECT_FALSE(SendMute()); // heard whatever the outcome
    EXPECT_EQ(heard, 2);
    SetSendListener(nullptr);
}

TEST(ImageHistory, UndoRedoAndABranchDiscardedByANewStep)
{
    ImageHistory h;
    h.Start(Defaults());
    EXPECT_FALSE(h.CanUndo());
    EXPECT_EQ(h.Undo(), nullptr);

    const DspParamsImage one = Changed([](DspParamsImage& d) { d.MicVol = 1; });
    const DspParamsImage two = Changed([](DspParamsImage& d) { d.MicVol = 1, d.Band[0].Gain = 2; });
    EXPECT_TRUE(h.Record("one", one));
    EXPECT_FALSE(h.Record("same", one)); // nothing changed: no step
    EXPECT_TRUE(h.Record("two", two, true));
    EXPECT_EQ(h.NextUndo()->Name, "two");
    EXPECT_TRUE(h.NextUndo()->WholeImage);

    EXPECT_EQ(h.Undo()->Name, "two");
    EXPECT_TRUE(SameSettings(h.Current(), one));
    EXPECT_EQ(h.NextRedo()->Name, "two");
    EXPECT_EQ(h.Undo()->Name, "one");
    EXPECT_TRUE(SameSettings(h.Current(), Defaults()));
    EXPECT_EQ(h.Redo()->Name, "one");
    EXPECT_TRUE(SameSettings(h.Current(), one));

    // A new step from here forgets "two".
    const DspParamsImage three = Changed([](DspParamsImage& d) { d.MicVol = 1, d.Echo.Delay = 3; });
    EXPECT_TRUE(h.Record("three", three));
    EXPECT_FALSE(h.CanRedo());
    EXPECT_EQ(h.UndoCount(), 2u);
    EXPECT_EQ(h.Undo()->Name, "three");
    EXPECT_EQ(h.Undo()->Name, "one");
    EXPECT_FALSE(h.CanUndo());
}

TEST(ImageHistory, KeepsTheNewestStepsUpToItsDepth)
{
    for (std::size_t depth : {std::size_t(1), std::size_t(200), ImageHistory::DefaultDepth}) {
        ImageHistory h(depth);
        h.Start(Defaults());
        const int steps = int(depth) + 20;
        for (int i = 1; i <= steps; ++i)
            ASSERT_TRUE(h.Record(std::to_string(i), Changed([i](DspParamsImage& d) { d.Delay[0] = std::uint16_t(i); })));
        EXPECT_EQ(h.UndoCount(), depth);
        std::size_t undone = 0;
        while (const HistoryStep* s = h.Undo())
            EXPECT_EQ(s->Name, std::to_string(steps - int(undone++)));
        EXPECT_EQ(undone, depth);
        EXPECT_EQ(h.Current().Delay[0], steps - int(depth)); // the oldest kept image
    }
    EXPECT_GE(ImageHistory::DefaultDepth, 200u);
}

} // namespace
} // namespace ktv::test
