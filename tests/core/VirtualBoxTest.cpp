#include "core/TestSupport.h"

#include "device/HidPro.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "sim/VirtualBox.h"

#include <algorithm>
#include <functional>

namespace ktv::test {
namespace {

Bytes Request(const Bytes& payload) { return Frame(payload); }

Bytes Send(VirtualBox& box, const Bytes& report) { return box.Handle(report.data(), report.size()); }

// The settings a box holding exactly the current image would have.
VirtualBox::Settings EncodeImage()
{
    VirtualBox::Settings s;
    BuildSystemPayload(s.System.data());
    BuildEffectsPayload(s.Effects.data());
    for (int k = 0; k < BandTotal; ++k)
        EncodeBandRecord(DspParams.Band[std::size_t(k)], &s.Bands[BandRecordSize * std::size_t(k)]);
    return s;
}

class VirtualBoxTest : public CoreFixture {};

TEST_F(VirtualBoxTest, FreshBoxHoldsTheDefaultImageInEverySlot)
{
    const VirtualBox fresh;
    EXPECT_EQ(fresh.Current, EncodeImage());
    for (const auto& slot : fresh.Slots)
        EXPECT_EQ(slot, fresh.Current);
    EXPECT_FALSE(fresh.Linked);
}

TEST_F(VirtualBoxTest, WritesEchoTheirPayload)
{
    VirtualBox vb;
    const Bytes mute = Request({0x1E, 0x21});
    const Bytes reply = Send(vb, mute);
    EXPECT_EQ(reply, mute); // same frame: report ID 0, 0xAA, address 1, L, payload, checksum
    ASSERT_EQ(vb.Log.size(), 1u);
    EXPECT_TRUE(vb.Log[0].Valid);
    EXPECT_EQ(vb.Log[0].Reply, reply);
    EXPECT_EQ(vb.Current.System[4], 0x21);
}

TEST_F(VirtualBoxTest, InvalidRequestsGetNoReplyAndChangeNothing)
{
    auto with = [](Bytes r, std::size_t at, std::uint8_t v) {
        r[at] = v;
        return r;
    };
    const Bytes mute = Request({0x1E, 0x21});
    Bytes cut = mute;
    cut.resize(64);
    Bytes longer = mute;
    longer.push_back(0); // a datagram longer than a report is not cut to one
    struct Case {
        const char* name;
        Bytes report;
    };
    const Case cases[] = {
        {"marker", with(mute, 1, 0xAB)},
        {"address", with(mute, 2, 2)},
        {"length 0", with(mute, 3, 0)},
        {"length 61", with(mute, 3, 61)},
        {"checksum", with(mute, 6, 0x40)},
        {"short report", cut},
        {"long report", longer},
        {"unknown command", Request({0x29, 0x01})},
        {"command with the wrong length", Request({0x1E, 0x21, 0x00})},
        {"band run past 38", Request({0xA0, 36, 4})},
        {"more than six bands", Request({0xA0, 0, 7})},
        {"band write count disagrees with length", Request({0x20, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"noise gate 2", Request({0x24, 2, 0, 0})},
        {"dynamics 5", Request({0x27, 5, 0, 0, 0, 0, 0, 0})},
        {"output mix 4", Request({0x2C, 4, 0, 0, 0, 0})},
        {"bypass past 38", Request({0x25, 38, 2, 0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualBox vb;
        const auto before = vb.Current;
        EXPECT_TRUE(Send(vb, c.report).empty());
        ASSERT_EQ(vb.Log.size(), 1u);
        EXPECT_FALSE(vb.Log[0].Valid);
        EXPECT_FALSE(vb.Log[0].Note.empty());
        EXPECT_TRUE(vb.ReceivedPayloads().empty());
        EXPECT_EQ(vb.Current, before);
    }
}

TEST_F(VirtualBoxTest, SingleWritesLandWhereTheBlockCommandsCarryThem)
{
    // Change every field a single command carries, send those commands, and
    // the box's blocks must equal what System, Effects and PeqBands would send.
    DspParamsImage& d = DspParams;
    d.MicVol = 10;
    d.MusicVol = 20;
    d.EffectVol = 30;
    d.Mute = 0x25;
    d.Delay = {1, 2, 300, 400, 2205, 0x1234};
    d.Pitch = -3;
    d.Fbx = 2;
    d.Input = 5;
    d.MaxVol = {90, 80, 100, 100, 100, 100, 100};
    d.NoiseGate = {-78, -84};
    d.Dyn[0] = {.Threshold = -120, .Attack = 50, .Release = 4, .Ratio = 8};
    d.Dyn[4] = {.Threshold = -300, .Attack = 100, .Release = 100, .Ratio = 100};
    d.OutMix[1] = {0x81, 0x02, 0x83, 0x04};
    d.OutMix[3] = {100, 0xE4, 0, 0x80};
    d.Reverb = {.Word1 = 0, .Word2 = 0, .EarlyLate = 60, .Byte1 = 0, .PreDelay = 40, .Byte2 = 0, .Time = 70, .Damp = 20, .Byte3 = 0};
    d.Echo.PreDelay = 12;
    d.Echo.Delay = 250;
    d.Echo.Repeat = 45;
    d.Echo.Damp = 33;
    d.Band[20] = {.Flags = 0xC4, .Fc = 3150, .Q = 2.5f, .Gain = -6, .Coef = {}};
    d.Band[7].Flags = 0x02;  // band off
    d.Band[38].Flags = 0x82; // channel equaliser off

    const bool sent[] = {SendMasterVolume(), SendMute(),         SendDelay(),        SendPitch(),
                         SendFbx(),          SendInput(),        SendMaxVolume(),    SendNoiseGate(0),
                         SendDynamics(0),    SendDynamics(4),    SendOutputMix(1),   SendOutputMix(3),
                         SendReverb(),       SendEcho(),         SendPeqBands(20, 1), SendEqBypass(0, 39)};
    for (bool ok : sent)
        EXPECT_TRUE(ok);

    const VirtualBox::Settings expected = EncodeImage();
    EXPECT_EQ(box.Box.Current.System, expected.System);
    EXPECT_EQ(box.Box.Current.Effects, expected.Effects);
    EXPECT_EQ(box.Box.Current.Bands, expected.Bands);
}

TEST_F(VirtualBoxTest, ReadsReturnTheBlocks)
{
    VirtualBox vb;
    vb.Current.System[1] = 77;
    vb.Current.Effects[57] = 0x5A;
    vb.Current.Bands[BandRecordSize * 38 + 8] = 0x99;

    const Bytes sys = Send(vb, Request({0x81}));
    ASSERT_EQ(sys.size(), ReportSize);
    EXPECT_EQ(sys[3], 60);
    EXPECT_TRUE(std::equal(vb.Current.System.begin(), vb.Current.System.end(), sys.begin() + 4));
    EXPECT_EQ(sys[64], Checksum(sys.data() + 4, 60));

    const Bytes fx = Send(vb, Request({0x82}));
    EXPECT_EQ(fx[3], 58);
    EXPECT_TRUE(std::equal(vb.Current.Effects.begin(), vb.Current.Effects.end(), fx.begin() + 4));

    const Bytes bands = Send(vb, Request({0xA0, 36, 3}));
    EXPECT_EQ(bands[3], 30);
    EXPECT_EQ(Bytes(bands.begin() + 4, bands.begin() + 7), (Bytes{0x20, 36, 3}));
    EXPECT_TRUE(std::equal(vb.Current.Bands.begin() + 36 * 9, vb.Current.Bands.end(), bands.begin() + 7));
    EXPECT_EQ(bands[4 + 30], Checksum(bands.data() + 4, 30));
}

TEST_F(VirtualBoxTest, FactoryModeCopiesToAndFromSlotsOneToEight)
{
    VirtualBox vb;
    vb.Current.System[1] = 42;
    Send(vb, Request({0x28, 1, 8}));
    EXPECT_EQ(vb.Slots[7].System[1], 42);
    EXPECT_EQ(vb.Slots[6].System[1], 0);

    vb.Current.System[1] = 5;
    Send(vb, Request({0x28, 2, 8}));
    EXPECT_EQ(vb.Current.System[1], 42);

    // Slots outside 1..8 and unknown modes are acknowledged and copy nothing.
    const auto before = vb.Slots;
    const auto current = vb.Current;
    for (const Bytes& payload : {Bytes{0x28, 1, 0}, Bytes{0x28, 2, 0}, Bytes{0x28, 1, 9}, Bytes{0x28, 2, 255},
                                 Bytes{0x28, 3, 1}}) {
        EXPECT_EQ(Send(vb, Request(payload)), Request(payload));
        EXPECT_FALSE(vb.Log.back().Note.empty());
    }
    EXPECT_EQ(vb.Slots, before);
    EXPECT_EQ(vb.Current, current);
}

TEST_F(VirtualBoxTest, LinkRecordsTheLinkState)
{
    VirtualBox vb;
    Send(vb, Request({0x2A, 1}));
    EXPECT_TRUE(vb.Linked);
    Send(vb, Request({0x2A, 0}));
    EXPECT_FALSE(vb.Linked);
}

TEST_F(VirtualBoxTest, FaultPlanStartsAtItsRequestAndCanBeLimitedToOneCommand)
{
    VirtualBox vb;
    vb.Faults = {.Kind = VirtualBox::Fault::WrongAddress, .FromRequest = 3, .OnlyCommand = 0x21};
    const Bytes fbx = Request({0x21, 1});
    const Bytes mute = Request({0x1E, 1});
    EXPECT_EQ(Send(vb, fbx), fbx);   // 1: before the fault starts
    EXPECT_EQ(Send(vb, mute), mute); // 2
    EXPECT_EQ(Send(vb, mute), mute); // 3: other command
    EXPECT_EQ(Send(vb, fbx)[2], 2);  // 4
    EXPECT_EQ(vb.RequestCount, 4);
    EXPECT_FALSE(vb.Log.back().Note.empty());
}

TEST_F(VirtualBoxTest, EachFaultBreaksTheReplyItsOwnWay)
{
    VirtualBox plain;
    const Bytes good = Send(plain, Request({0xA0, 6, 6}));
    struct Case {
        VirtualBox::Fault fault;
        std::function<void(const Bytes&)> check;
    };
    const Case cases[] = {
        {VirtualBox::Fault::Silent, [](const Bytes& r) { EXPECT_TRUE(r.empty()); }},
        {VirtualBox::Fault::BadChecksum, [&](const Bytes& r) { EXPECT_EQ(r[61], std::uint8_t(good[61] + 1)); }},
        {VirtualBox::Fault::WrongAddress, [](const Bytes& r) { EXPECT_EQ(r[2], 2); }},
        {VirtualBox::Fault::WrongLength, [](const Bytes& r) { EXPECT_EQ(r[3], 58); }},
        {VirtualBox::Fault::WrongReplyCode,
         [](const Bytes& r) {
             EXPECT_NE(r[4], 0x20);
             EXPECT_EQ(r[61], Checksum(r.data() + 4, 57));
         }},
        {VirtualBox::Fault::ShortReport, [](const Bytes& r) { EXPECT_EQ(r.size(), 10u); }},
        {VirtualBox::Fault::ForeignBandRun,
         [](const Bytes& r) {
             EXPECT_EQ(r[5], 7);
             EXPECT_EQ(r[61], Checksum(r.data() + 4, 57));
         }},
        {VirtualBox::Fault::ForeignBandCount,
         [](const Bytes& r) {
             EXPECT_EQ(r[6], 7);
             EXPECT_EQ(r[61], Checksum(r.data() + 4, 57));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.fault));
        VirtualBox vb;
        vb.Faults.Kind = c.fault;
        c.check(Send(vb, Request({0xA0, 6, 6})));
    }
}

TEST_F(VirtualBoxTest, StateSurvivesASaveAndBadStateIsRefused)
{
    VirtualBox vb;
    vb.Current.System[2] = 9;
    vb.Slots[3].Bands[100] = 0x77;
    const auto bytes = vb.SaveState();

    VirtualBox other;
    ASSERT_TRUE(other.LoadState(bytes));
    EXPECT_EQ(other.Current, vb.Current);
    EXPECT_EQ(other.Slots, vb.Slots);

    auto truncated = bytes;
    truncated.pop_back();
    auto badVersion = bytes;
    badVersion[4] = 99;
    auto badMagic = bytes;
    badMagic[0] = 'X';
    for (const auto& bad : {truncated, badVersion, badMagic, std::vector<std::uint8_t>{}}) {
        VirtualBox target;
        const auto before = target.Current;
        EXPECT_FALSE(target.LoadState(bad));
        EXPECT_EQ(target.Current, before);
    }
}

TEST_F(VirtualBoxTest, LogLinesShowBothFrames)
{
    VirtualBox vb;
    Send(vb, Request({0x1E, 0x21}));
    EXPECT_EQ(VirtualBox::Describe(vb.Log[0]), "ok      > AA 01 02 1E 21 3F  < AA 01 02 1E 21 3F");
    vb.Faults.Kind = VirtualBox::Fault::Silent;
    Send(vb, Request({0x1E, 0x21}));
    EXPECT_EQ(VirtualBox::Describe(vb.Log[1]), "ok      > AA 01 02 1E 21 3F  < (no reply)  [fault: silent]");
}

TEST_F(VirtualBoxTest, InProcessBoxHonoursHandles)
{
    Report report{};
    std::size_t got = 99;
    // Nothing written yet: the read times out at once.
    EXPECT_FALSE(box.Read(Hid().Handle, report, got, ReadTimeoutMs));
    EXPECT_EQ(box.LastError(), PlatformError::Timeout);
    EXPECT_EQ(got, 0u);

    const PlatformHandle stale = Hid().Handle;
    Hid().CloseDevice();
    Hid().OpenDevice();
    ASSERT_TRUE(Hid().Opened);
    EXPECT_NE(Hid().Handle, stale);
    EXPECT_FALSE(box.Write(stale, report));
    EXPECT_EQ(box.LastError(), PlatformError::InvalidHandle);
    EXPECT_FALSE(box.Read(InvalidHandle, report, got, ReadTimeoutMs));
    EXPECT_EQ(box.LastError(), PlatformError::InvalidHandle);
    EXPECT_TRUE(box.Box.Log.empty());

    box.Present = false;
    EXPECT_TRUE(box.ListInterfaces().empty());
}

} // namespace
} // namespace ktv::test
