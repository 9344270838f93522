#include "core/TestSupport.h"

#include "params/Commands.h"
#include "params/Gloable.h"

#include <functional>
#include <string>

namespace ktv::test {
namespace {

class CommandsTest : public CoreFixture {};

TEST_F(CommandsTest, DefaultBandTravelsAsItsRoundedRecord)
{
    ASSERT_TRUE(SendPeqBands(0, 1));
    EXPECT_EQ(TakeRequests(), (std::vector<Bytes>{{0x20, 0x00, 0x01, 0xC2, 0xF4, 0x01, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}}));
}

TEST_F(CommandsTest, SendMuteWritesTheExactReportAndExpectsAnEchoOfTwoBytes)
{
    DspParams.Mute = 0x21;
    ASSERT_TRUE(SendMute());
    const Bytes& request = box.Box.Log.back().Request;
    ASSERT_EQ(request.size(), ReportSize);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 7), (Bytes{0x00, 0xAA, 0x01, 0x02, 0x1E, 0x21, 0x3F}));
    // The reply it accepted: length byte 2, checksum in byte 6.
    EXPECT_EQ(Hid().InReport[3], 2);
    EXPECT_EQ(Hid().InReport[6], 0x3F);
    EXPECT_EQ(ui.status[1], "Read:Ok!");
}

TEST_F(CommandsTest, ArgumentChecksRefuseWithoutTrafficOrMessage)
{
    struct Case {
        const char* name;
        std::function<bool()> send;
    };
    const Case refused[] = {
        {"PeqBands (35, 5)", [] { return SendPeqBands(35, 5); }},
        {"PeqBands (0, 7)", [] { return SendPeqBands(0, 7); }},
        {"PeqBands (39, 1)", [] { return SendPeqBands(39, 1); }},
        {"PeqBands (255, 2) does not wrap", [] { return SendPeqBands(255, 2); }},
        {"EqBypass (1, 39)", [] { return SendEqBypass(1, 39); }},
        {"EqBypass (0, 40)", [] { return SendEqBypass(0, 40); }},
        {"NoiseGate (2)", [] { return SendNoiseGate(2); }},
        {"Dynamics (5)", [] { return SendDynamics(5); }},
        {"OutputMix (4)", [] { return SendOutputMix(4); }},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.send());
        EXPECT_TRUE(box.Box.Log.empty());
        EXPECT_TRUE(ui.events.empty());
    }

    struct Accepted {
        const char* name;
        std::function<bool()> send;
        std::size_t length;
    };
    const Accepted accepted[] = {
        {"PeqBands (36, 3)", [] { return SendPeqBands(36, 3); }, 30},
        {"PeqBands (33, 6)", [] { return SendPeqBands(33, 6); }, 57},
        {"EqBypass (34, 5)", [] { return SendEqBypass(34, 5); }, 8},
        {"EqBypass (0, 39)", [] { return SendEqBypass(0, 39); }, 42},
        {"NoiseGate (1)", [] { return SendNoiseGate(1); }, 4},
        {"Dynamics (4)", [] { return SendDynamics(4); }, 8},
        {"OutputMix (3)", [] { return SendOutputMix(3); }, 6},
    };
    for (const Accepted& c : accepted) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.send());
        const auto sent = TakeRequests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].size(), c.length);
    }
}

TEST_F(CommandsTest, SmallPayloadsCarryTheirFieldsLittleEndian)
{
    DspParamsImage& d = DspParams;
    d.Mute = 0x2A;
    d.MicVol = 11;
    d.MusicVol = 22;
    d.EffectVol = 33;
    d.Fbx = 3;
    d.Pitch = -4;
    d.Input = 5;
    d.NoiseGate = {-72, -66};
    d.Delay = {0x0102, 2205, 0, 1, 0x0304, 0xFFFF};
    d.Dyn[2] = {.Threshold = -300, .Attack = 100, .Release = 7, .Ratio = 9};
    d.OutMix[2] = {0x85, 0x10, 0x64, 0xA5};
    d.MaxVol = {90, 80, 1, 2, 3, 4, 5};
    d.Echo = {.Word1 = 0x1112, .Word2 = 0x1314, .PreDelay = 15, .Byte1 = 16, .Delay = 300, .Word3 = 0x1718,
              .Repeat = 90, .Byte2 = 19, .Damp = 20, .Byte3 = 21, .Byte4 = 22, .Byte5 = 23};
    d.Reverb = {.Word1 = 0x0102, .Word2 = 0x0304, .EarlyLate = 55, .Byte1 = 6, .PreDelay = 77, .Byte2 = 8,
                .Time = 99, .Damp = 10, .Byte3 = 11};

    struct Case {
        const char* name;
        std::function<bool()> send;
        Bytes payload;
    };
    const Case cases[] = {
        {"Mute", SendMute, {0x1E, 0x2A}},
        {"MasterVolume", SendMasterVolume, {0x1F, 11, 22, 33}},
        {"Fbx", SendFbx, {0x21, 3}},
        {"Pitch -4", SendPitch, {0x22, 0xFC}},
        {"Input", SendInput, {0x23, 5}},
        {"NoiseGate (0)", [] { return SendNoiseGate(0); }, {0x24, 0, 0xB8, 0xFF}},
        {"NoiseGate (1)", [] { return SendNoiseGate(1); }, {0x24, 1, 0xBE, 0xFF}},
        {"Delay", SendDelay, {0x26, 0x02, 0x01, 0x9D, 0x08, 0, 0, 1, 0, 0x04, 0x03, 0xFF, 0xFF}},
        {"Dynamics (2)", [] { return SendDynamics(2); }, {0x27, 2, 0xD4, 0xFE, 100, 0, 7, 9}},
        {"FactoryMode (1, 8)", [] { return SendFactoryMode(1, 8); }, {0x28, 1, 8}},
        {"FactoryMode (2, 0)", [] { return SendFactoryMode(2, 0); }, {0x28, 2, 0}},
        {"Link (1)", [] { return SendLink(1); }, {0x2A, 1}},
        {"OutputMix (2)", [] { return SendOutputMix(2); }, {0x2C, 2, 0x85, 0x10, 0x64, 0xA5}},
        {"MaxVolume", SendMaxVolume, {0x2D, 90, 80, 1, 2, 3, 4, 5}},
        {"Echo", SendEcho,
         {0x30, 0x12, 0x11, 0x14, 0x13, 15, 16, 0x2C, 0x01, 0x18, 0x17, 90, 19, 20, 21, 22, 23}},
        // Reverb wire order: PreDelay before EarlyLate.
        {"Reverb", SendReverb, {0x31, 0x02, 0x01, 0x04, 0x03, 77, 55, 6, 8, 99, 10, 11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.send());
        EXPECT_EQ(ui.status[1], "Read:Ok!");
        EXPECT_EQ(TakeRequests(), std::vector<Bytes>{c.payload});
    }
}

TEST_F(CommandsTest, BandRunsAndBypassFlagsFollowTheImage)
{
    DspParams.Band[36] = {.Flags = 0x84, .Fc = 12345.6f, .Q = 1.4f, .Gain = -3.5f, .Coef = {}};
    DspParams.Band[38].Flags = 0x03;
    ASSERT_TRUE(SendPeqBands(36, 3));
    ASSERT_TRUE(SendEqBypass(36, 3));
    const auto sent = TakeRequests();
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(sent[0].size(), 30u);
    EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 12),
              // 12345.6f is 12345.5996..., which still travels as 123456 = 0x0001E240;
              // Q 1.4 -> 14, Gain -3.5 -> -35
              (Bytes{0x20, 36, 3, 0x84, 0x40, 0xE2, 0x01, 0x00, 0x0E, 0x00, 0xDD, 0xFF}));
    EXPECT_EQ(sent[1], (Bytes{0x25, 36, 3, 0x84, 0xC2, 0x03}));
}

TEST_F(CommandsTest, SystemPayloadLeavesBytes5To9OutOfEveryField)
{
    DspParamsImage& d = DspParams;
    d.MicVol = 1;
    d.MusicVol = 2;
    d.EffectVol = 3;
    d.Mute = 0x3F;
    d.Delay = {0x1234, 0x0506, 0x0708, 0x090A, 0x0B0C, 0x0D0E};
    d.Pitch = -1;
    d.Fbx = 2;
    d.Input = 4;
    d.ReservedWord = 0xBEEF;
    d.MaxVol = {100, 99, 98, 97, 96, 95, 94};
    d.ReservedBytes = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    d.NoiseGate = {-84, 0x1122};
    for (int g = 0; g < 4; ++g)
        d.OutMix[std::size_t(g)] = {std::uint8_t(0x10 * g + 1), std::uint8_t(0x10 * g + 2), std::uint8_t(0x10 * g + 3),
                                    std::uint8_t(0x80 | (0x10 * g + 4))};

    const Bytes expected = {
        0x01, 1, 2, 3, 0x3F,                               // 0-4
        0, 0, 0, 0, 0,                                     // 5-9: carry nothing
        0x34, 0x12, 0x06, 0x05, 0x08, 0x07, 0x0A, 0x09, 0x0C, 0x0B, 0x0E, 0x0D, // 10-21 Delay
        0xFF, 2, 4,                                        // 22-24
        0xEF, 0xBE,                                        // 25-26 ReservedWord
        100, 99, 98, 97, 96, 95, 94,                       // 27-33 MaxVol
        0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6,                // 34-39 ReservedBytes
        0xAC, 0xFF, 0x22, 0x11,                            // 40-43 NoiseGate
        0x01, 0x02, 0x03, 0x84, 0x11, 0x12, 0x13, 0x94,    // 44-51 OutMix[0..1]
        0x21, 0x22, 0x23, 0xA4, 0x31, 0x32, 0x33, 0xB4,    // 52-59 OutMix[2..3]
    };
    ASSERT_EQ(expected.size(), SystemPayloadSize);
    ASSERT_TRUE(SendSystem());
    EXPECT_EQ(TakeRequests(), std::vector<Bytes>{expected});

    // The reply decodes back into the same fields, except ReservedBytes.
    const DspParamsImage sent = DspParams;
    DspParams = {};
    DecodeSystemReply(expected.data());
    const DspParamsImage& r = DspParams;
    EXPECT_EQ(r.MicVol, sent.MicVol);
    EXPECT_EQ(r.MusicVol, sent.MusicVol);
    EXPECT_EQ(r.EffectVol, sent.EffectVol);
    EXPECT_EQ(r.Mute, sent.Mute);
    EXPECT_EQ(r.Delay, sent.Delay);
    EXPECT_EQ(r.Pitch, sent.Pitch);
    EXPECT_EQ(r.Fbx, sent.Fbx);
    EXPECT_EQ(r.Input, sent.Input);
    EXPECT_EQ(r.ReservedWord, sent.ReservedWord);
    EXPECT_EQ(r.MaxVol, sent.MaxVol);
    EXPECT_EQ(r.NoiseGate, sent.NoiseGate);
    for (int g = 0; g < 4; ++g)
        EXPECT_EQ(r.OutMix[std::size_t(g)].ReverbVol, sent.OutMix[std::size_t(g)].ReverbVol);
    EXPECT_EQ(r.ReservedBytes, (std::array<std::uint8_t, 6>{}));
}

TEST_F(CommandsTest, EffectsPayloadCarriesDynamicsThenReverbAndEchoInWireOrder)
{
    DspParamsImage& d = DspParams;
    for (int i = 0; i < 5; ++i)
        d.Dyn[std::size_t(i)] = {.Threshold = std::int16_t(-10 * (i + 1)), .Attack = std::uint16_t(0x100 + i),
                                 .Release = std::uint8_t(20 + i), .Ratio = std::uint8_t(30 + i)};
    d.Reverb = {.Word1 = 0xA1A2, .Word2 = 0xA3A4, .EarlyLate = 40, .Byte1 = 41, .PreDelay = 42, .Byte2 = 43,
                .Time = 44, .Damp = 45, .Byte3 = 46};
    d.Echo = {.Word1 = 0xB1B2, .Word2 = 0xB3B4, .PreDelay = 50, .Byte1 = 51, .Delay = 0x012C, .Word3 = 0xB5B6,
              .Repeat = 52, .Byte2 = 53, .Damp = 54, .Byte3 = 55, .Byte4 = 56, .Byte5 = 57};

    Bytes expected = {0x02};
    for (int i = 0; i < 5; ++i) {
        const std::uint16_t t = std::uint16_t(-10 * (i + 1));
        expected.insert(expected.end(), {std::uint8_t(t), std::uint8_t(t >> 8), std::uint8_t(i), 0x01,
                                         std::uint8_t(20 + i), std::uint8_t(30 + i)});
    }
    expected.insert(expected.end(), {0xA2, 0xA1, 0xA4, 0xA3, 42, 40, 41, 43, 44, 45, 46});
    expected.insert(expected.end(), {0xB2, 0xB1, 0xB4, 0xB3, 50, 51, 0x2C, 0x01, 0xB6, 0xB5, 52, 53, 54, 55, 56, 57});
    ASSERT_EQ(expected.size(), EffectsPayloadSize);
    ASSERT_TRUE(SendEffects());
    EXPECT_EQ(TakeRequests(), std::vector<Bytes>{expected});

    const DspParamsImage sent = DspParams;
    DspParams = {};
    DecodeEffectsReply(expected.data());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(DspParams.Dyn[std::size_t(i)].Threshold, sent.Dyn[std::size_t(i)].Threshold);
        EXPECT_EQ(DspParams.Dyn[std::size_t(i)].Attack, sent.Dyn[std::size_t(i)].Attack);
    }
    EXPECT_EQ(DspParams.Reverb.PreDelay, 42);
    EXPECT_EQ(DspParams.Reverb.EarlyLate, 40);
    EXPECT_EQ(DspParams.Echo.Delay, 300);
    EXPECT_EQ(DspParams.Echo.Byte5, 57);
}

TEST_F(CommandsTest, OutcomeTextsAndTheImageKeepsTheNewValue)
{
    DspParams.Fbx = 2;

    box.Box.Faults.Kind = VirtualBox::Fault::BadChecksum;
    EXPECT_FALSE(SendFbx());
    EXPECT_EQ(ui.status[1], "Read:fault!");

    box.Box.Faults.Kind = VirtualBox::Fault::Silent;
    EXPECT_FALSE(SendFbx());
    EXPECT_EQ(ui.status[1], "Read:fault!");

    box.Box.Faults.Kind = VirtualBox::Fault::WrongReplyCode; // content is not looked at
    EXPECT_TRUE(SendFbx());
    EXPECT_EQ(ui.status[1], "Read:Ok!");

    Hid().CloseDevice(); // sends go out linked or not, and fail here at the write
    const std::size_t logged = box.Box.Log.size();
    EXPECT_FALSE(SendFbx());
    EXPECT_EQ(ui.status[1], "Write:fault!");
    EXPECT_EQ(box.Box.Log.size(), logged);
    EXPECT_EQ(DspParams.Fbx, 2);
    EXPECT_TRUE(ui.messages.empty());

    // The transport's own text is replaced right away.
    std::vector<std::string> panel1;
    for (const auto& e : ui.events)
        if (e.kind == RecordingUi::Event::Status && e.value == 1)
            panel1.push_back(e.text);
    EXPECT_EQ(panel1, (std::vector<std::string>{"Write:ok!", "CheckSum:error!6", "Read:fault!", "Write:ok!",
                                                "ReadFile:error!1460", "Read:fault!", "Write:ok!", "Read:Ok!",
                                                "Write:error!", "Write:fault!"}));
}

} // namespace
} // namespace ktv::test
