#include "core/TestSupport.h"

#include "params/Commands.h"
#include "params/Gloable.h"

#include <string>

namespace ktv::test {
namespace {

using Fault = VirtualBox::Fault;

const std::vector<Bytes> ReadAllRequests = {
    {0x81}, {0x82}, {0xA0, 0, 6}, {0xA0, 6, 6}, {0xA0, 12, 6}, {0xA0, 18, 6}, {0xA0, 24, 6}, {0xA0, 30, 6}, {0xA0, 36, 3},
};

// The first bytes of each write-all request: code, and first/count for bands.
const std::vector<Bytes> WriteAllHeads = {
    {0x01}, {0x02}, {0x20, 0, 6}, {0x20, 6, 6}, {0x20, 12, 6}, {0x20, 18, 6}, {0x20, 24, 6}, {0x20, 30, 6}, {0x20, 36, 3},
};

Bytes Head(const Bytes& payload) { return Bytes(payload.begin(), payload.begin() + (payload[0] == 0x20 ? 3 : 1)); }

// A distinctive image whose band values are exact in tenths, so they survive
// the trip through the box unchanged.
void FillImage(int seed)
{
    DspParamsImage& d = DspParams;
    d.MicVol = std::uint8_t(seed + 1);
    d.MusicVol = std::uint8_t(seed + 2);
    d.EffectVol = std::uint8_t(seed + 3);
    d.Mute = std::uint8_t(0x21 + seed);
    d.Delay = {std::uint16_t(seed), 2205, 441, 0, 1, 0x0102};
    d.NoiseGate = {-72, std::int16_t(-84 + seed)};
    d.Pitch = std::int8_t(-4 + seed % 9);
    d.Fbx = std::uint8_t(seed % 4);
    d.Input = std::uint8_t(seed % 6);
    d.MaxVol = {90, 95, std::uint8_t(seed), 1, 2, 3, 4};
    for (int i = 0; i < DynamicsCount; ++i)
        d.Dyn[std::size_t(i)] = {.Threshold = std::int16_t(-10 * i - seed), .Attack = std::uint16_t(i + seed + 1),
                                 .Release = std::uint8_t(2 * i + 1), .Ratio = std::uint8_t(3 * i + 1)};
    for (int g = 0; g < OutputGroupCount; ++g)
        d.OutMix[std::size_t(g)] = {std::uint8_t(g + seed), std::uint8_t(0x80 | g), std::uint8_t(50 + g), 100};
    d.Reverb = {.Word1 = 0x0102, .Word2 = std::uint16_t(seed), .EarlyLate = 10, .Byte1 = 11, .PreDelay = 12,
                .Byte2 = 13, .Time = 14, .Damp = 15, .Byte3 = 16};
    d.Echo = {.Word1 = 1, .Word2 = 2, .PreDelay = 3, .Byte1 = 4, .Delay = std::uint16_t(100 + seed), .Word3 = 5,
              .Repeat = 6, .Byte2 = 7, .Damp = 8, .Byte3 = 9, .Byte4 = 10, .Byte5 = 11};
    for (int k = 0; k < BandTotal; ++k)
        d.Band[std::size_t(k)] = {.Flags = std::uint8_t(0xC0 | (k + seed) % 7), .Fc = float(20 * k + 20 + seed),
                                  .Q = float(k + 1 + seed) / 2, .Gain = float(k - 20 + seed) / 2, .Coef = {}};
}

// Everything the image carries, as the box would receive it.
Bytes Snapshot()
{
    Bytes bytes(SystemPayloadSize + EffectsPayloadSize + BandRecordSize * BandTotal);
    BuildSystemPayload(bytes.data());
    BuildEffectsPayload(bytes.data() + SystemPayloadSize);
    for (int k = 0; k < BandTotal; ++k)
        EncodeBandRecord(DspParams.Band[std::size_t(k)],
                         bytes.data() + SystemPayloadSize + EffectsPayloadSize + BandRecordSize * std::size_t(k));
    return bytes;
}

// Puts the current image into the box, as if it had been tuned that way.
void LoadIntoBox(VirtualBox& vb)
{
    BuildSystemPayload(vb.Current.System.data());
    BuildEffectsPayload(vb.Current.Effects.data());
    for (int k = 0; k < BandTotal; ++k)
        EncodeBandRecord(DspParams.Band[std::size_t(k)], &vb.Current.Bands[BandRecordSize * std::size_t(k)]);
}

class TransfersTest : public CoreFixture {};

TEST_F(TransfersTest, ReadAllFillsTheImageFromTheBoxInNineExchanges)
{
    FillImage(7);
    DspParams.ReservedWord = 0xCAFE;
    LoadIntoBox(box.Box);
    box.Box.Current.System[5] = 0xEE; // P[5..9] carry nothing and are ignored
    box.Box.Current.System[9] = 0xEE;
    box.Box.Current.System[34] = 0x55; // ReservedBytes are never taken over
    const Bytes boxImage = Snapshot();

    DspParams = {};
    LoadDefaults();
    DspParams.ReservedBytes = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(ReadAllFromDevice());

    EXPECT_EQ(TakeRequests(), ReadAllRequests);
    EXPECT_EQ(ui.sleeps, std::vector<int>(8, 10));
    EXPECT_EQ(ui.events.front().kind, RecordingUi::Event::Status); // no pause before the first
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.status[1], "Write:ok!"); // no text of its own

    EXPECT_EQ(DspParams.ReservedWord, 0xCAFE);
    EXPECT_EQ(DspParams.ReservedBytes, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    DspParams.ReservedBytes = {};
    EXPECT_EQ(Snapshot(), boxImage);
}

TEST_F(TransfersTest, ReadAllDecodesBandRecordsToNearestFloat)
{
    // A default band sent and read back returns as it went: 0.7 travels as 7.
    ASSERT_TRUE(WriteAllToDevice());
    DspParams.Band[3].Gain = 1;
    box.Box.Current.Bands[BandRecordSize * 5 + 7] = 0xDD; // Gain -35
    box.Box.Current.Bands[BandRecordSize * 5 + 8] = 0xFF;
    ASSERT_TRUE(ReadAllFromDevice());
    EXPECT_EQ(DspParams.Band[0].Q, 0.7f);
    EXPECT_EQ(DspParams.Band[0].Fc, 50.0f);
    EXPECT_EQ(DspParams.Band[3].Gain, 0.0f);
    EXPECT_EQ(DspParams.Band[5].Gain, -3.5f);
}

TEST_F(TransfersTest, ReadAllStopsAtEachKindOfBadReply)
{
    struct Case {
        const char* name;
        Fault fault;
        int at;              // request it strikes
        std::string status;  // panel 1 afterwards
    };
    const Case cases[] = {
        {"silent system", Fault::Silent, 1, "ReadFile:error!1460"},
        {"bad checksum effects", Fault::BadChecksum, 2, "CheckSum:error!62"},
        {"wrong address on a band run", Fault::WrongAddress, 3, "Write:ok!"},
        {"wrong length", Fault::WrongLength, 4, "Write:ok!"},
        {"wrong reply code on system", Fault::WrongReplyCode, 1, "Write:ok!"},
        {"wrong reply code on effects", Fault::WrongReplyCode, 2, "Write:ok!"},
        {"wrong reply code on bands", Fault::WrongReplyCode, 6, "Write:ok!"},
        {"short report", Fault::ShortReport, 8, "Write:ok!"},
        {"silent last run", Fault::Silent, 9, "ReadFile:error!1460"},
        {"band run past 38", Fault::ForeignBandRun, 9, "Write:ok!"},
        {"more records than the reply holds", Fault::ForeignBandCount, 3, "Write:ok!"},
        {"more records than the short reply holds", Fault::ForeignBandCount, 9, "Write:ok!"},
    };

    // What the box holds differs from the image in every block.
    FillImage(3);
    LoadIntoBox(box.Box);
    DspParams = {};
    LoadDefaults();
    const DspParamsImage defaults = DspParams;
    const Bytes fresh = Snapshot();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DspParams = defaults;
        ui.Clear();
        box.Box.Log.clear();
        box.Box.RequestCount = 0;
        box.Box.Faults = {.Kind = c.fault, .FromRequest = c.at, .OnlyCommand = {}};

        EXPECT_FALSE(ReadAllFromDevice());
        EXPECT_EQ(int(box.Box.Log.size()), c.at); // nothing after the bad reply
        EXPECT_EQ(ui.status[1], c.status);
        EXPECT_TRUE(ui.messages.empty());

        // Not even the blocks before the bad reply are taken over: a half
        // read would leave a mix of box and window settings.
        EXPECT_EQ(Snapshot(), fresh);
    }
}

TEST_F(TransfersTest, ExtremeBandFrequenciesGoBackWithTheirSign)
{
    // Band 7 reports the largest and band 8 the smallest Fc a record holds.
    std::uint8_t* b7 = &box.Box.Current.Bands[BandRecordSize * 7];
    std::uint8_t* b8 = &box.Box.Current.Bands[BandRecordSize * 8];
    PutU32(b7 + 1, 0x7FFFFFFF);
    PutU32(b8 + 1, 0x80000000);
    ASSERT_TRUE(ReadAllFromDevice());
    TakeRequests();

    ASSERT_TRUE(WriteAllToDevice());
    const auto sent = TakeRequests();
    ASSERT_EQ(sent.size(), 9u);
    const Bytes& run = sent[3]; // bands 6..11
    ASSERT_EQ(Head(run), (Bytes{0x20, 6, 6}));
    const auto record = [&](int k) {
        const auto at = run.begin() + 3 + std::ptrdiff_t(BandRecordSize) * (k - 6);
        return Bytes(at + 1, at + 5);
    };
    EXPECT_EQ(record(7), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(record(8), (Bytes{0x00, 0x00, 0x00, 0x80}));
}

TEST_F(TransfersTest, BandReplyNamingItsOwnRunIsTakenWhereItSays)
{
    FillImage(1);
    LoadIntoBox(box.Box);
    DspParams = {};
    LoadDefaults();
    const PeqBand band12 = DspParams.Band[12];
    // The reply to (12, 6) names (13, 6): the records of 12..17 land on
    // 13..18, and the next run writes 18..23 again.
    box.Box.Faults = {.Kind = Fault::ForeignBandRun, .FromRequest = 5, .OnlyCommand = 0xA0, .UntilRequest = 5};
    ASSERT_TRUE(ReadAllFromDevice());
    ASSERT_EQ(box.Box.Log.size(), 9u);

    PeqBand expected;
    DecodeBandRecord(&box.Box.Current.Bands[BandRecordSize * 12], expected);
    EXPECT_EQ(DspParams.Band[13].Fc, expected.Fc);
    EXPECT_EQ(DspParams.Band[13].Flags, expected.Flags);
    // Band 12 was never written: it keeps the image's value.
    EXPECT_EQ(DspParams.Band[12].Fc, band12.Fc);
    EXPECT_NE(expected.Fc, band12.Fc); // the box holds another
}

TEST_F(TransfersTest, BandRunPastTheLastBandLeavesTheImageAlone)
{
    FillImage(1);
    LoadIntoBox(box.Box);
    DspParams = {};
    LoadDefaults();
    const Bytes before = Snapshot();
    // (36, 3) named as (37, 3) runs past band 38.
    box.Box.Faults = {.Kind = Fault::ForeignBandRun, .FromRequest = 9, .OnlyCommand = 0xA0};
    ASSERT_FALSE(ReadAllFromDevice());
    ASSERT_EQ(box.Box.Log.size(), 9u);
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(TransfersTest, WriteAllSendsNineRequestsTwentyMillisecondsApart)
{
    FillImage(5);
    ASSERT_TRUE(WriteAllToDevice());

    const auto sent = TakeRequests();
    ASSERT_EQ(sent.size(), 9u);
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(Head(sent[i]), WriteAllHeads[i]) << "request " << i;

    // A pause before every request but the first, each after the previous reply.
    std::vector<std::string> trace;
    for (const auto& e : ui.events)
        if (e.kind == RecordingUi::Event::Sleep)
            trace.push_back("sleep " + std::to_string(e.value));
        else if (e.kind == RecordingUi::Event::Status && e.text == "Read:Ok!")
            trace.push_back("ok");
    std::vector<std::string> expected{"ok"};
    for (int i = 0; i < 8; ++i)
        expected.insert(expected.end(), {"sleep 20", "ok"});
    EXPECT_EQ(trace, expected);

    // The box now holds exactly the image.
    EXPECT_EQ(box.Box.Current.System[1], DspParams.MicVol);
    VirtualBox::Settings image;
    BuildSystemPayload(image.System.data());
    BuildEffectsPayload(image.Effects.data());
    for (int k = 0; k < BandTotal; ++k)
        EncodeBandRecord(DspParams.Band[std::size_t(k)], &image.Bands[BandRecordSize * std::size_t(k)]);
    EXPECT_EQ(box.Box.Current, image);
}

TEST_F(TransfersTest, WriteAllStopsAtTheFirstFailedRequest)
{
    box.Box.Faults = {.Kind = Fault::BadChecksum, .FromRequest = 5, .OnlyCommand = {}}; // third band request
    EXPECT_FALSE(WriteAllToDevice());
    EXPECT_EQ(box.Box.Log.size(), 5u);
    EXPECT_EQ(ui.status[1], "Read:fault!");
    EXPECT_EQ(ui.sleeps, std::vector<int>(4, 20));
}

TEST_F(TransfersTest, StoreAndRecallRoundTrip)
{
    FillImage(2);
    const Bytes stored = Snapshot();
    ASSERT_EQ(StoreSlot(8), SlotOutcome::Ok);
    auto sent = TakeRequests();
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent.back(), (Bytes{0x28, 0x01, 0x08}));

    FillImage(4); // the box and the image move on
    ASSERT_TRUE(WriteAllToDevice());
    TakeRequests();
    ui.Clear();

    ASSERT_EQ(RecallSlot(8), SlotOutcome::Ok);
    sent = TakeRequests();
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent.front(), (Bytes{0x28, 0x02, 0x08}));
    EXPECT_EQ(std::vector<Bytes>(sent.begin() + 1, sent.end()), ReadAllRequests);
    ASSERT_FALSE(ui.sleeps.empty());
    EXPECT_EQ(ui.sleeps.front(), 100);
    EXPECT_EQ(Snapshot(), stored);
}

TEST_F(TransfersTest, SlotOperationsReportWhereTheyFailed)
{
    // Store: a failed write-all sends no FactoryMode.
    box.Box.Faults = {.Kind = Fault::Silent, .FromRequest = 2, .OnlyCommand = {}};
    EXPECT_EQ(StoreSlot(1), SlotOutcome::WriteAllFailed);
    for (const Bytes& p : box.Box.ReceivedPayloads())
        EXPECT_NE(p[0], 0x28);

    box.Box.Faults = {.Kind = Fault::Silent, .FromRequest = 1, .OnlyCommand = 0x28};
    EXPECT_EQ(StoreSlot(1), SlotOutcome::CommandFailed);

    // Recall: a failed FactoryMode reads nothing; a failed read-all says so.
    box.Box.Log.clear();
    ui.Clear();
    EXPECT_EQ(RecallSlot(3), SlotOutcome::CommandFailed);
    EXPECT_EQ(box.Box.Log.size(), 1u);
    EXPECT_TRUE(ui.sleeps.empty());

    box.Box.Faults = {.Kind = Fault::WrongReplyCode, .FromRequest = 1, .OnlyCommand = 0x82};
    EXPECT_EQ(RecallSlot(3), SlotOutcome::ReadAllFailed);

    // Slot 0 is acknowledged by the box and recalls nothing.
    box.Box.Faults = {};
    FillImage(6);
    const Bytes before = Snapshot();
    LoadIntoBox(box.Box);
    EXPECT_EQ(RecallSlot(0), SlotOutcome::Ok);
    EXPECT_EQ(Snapshot(), before);
}

} // namespace
} // namespace ktv::test
