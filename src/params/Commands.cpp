#include "params/Commands.h"

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "params/BoxLink.h"
#include "params/Gloable.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ktv {
namespace {

constexpr std::uint8_t Code(DspCommand c) { return std::uint8_t(c); }

int heldSends = 0;
std::function<void()>& SendListener()
{
    static std::function<void()> listener;
    return listener;
}

// One exchange: write the request, read a reply as long as the request
// payload, and leave the outcome in panel 1. Outside a whole-image transfer
// it is an edit, and the link decides first whether it may go out.
bool ExchangeOnce(const std::uint8_t* payload, std::size_t length)
{
    BoxLink& link = Link();
    const bool edit = !link.InWhole();
    if (edit && !link.EditMayGo())
        return false;
    auto failed = [&](const char* text) {
        Ui().SetStatus(StatusPanel::Exchange, text);
        if (edit)
            link.EditFailed();
        link.ExchangeFailed();
        return false;
    };
    HidPro& hid = Hid();
    if (!hid.WriteReport(payload, length))
        return failed("Write:fault!");
    if (hid.ReadReport(length + 4) != ReadResult::Ok)
        return failed("Read:fault!");
    Ui().SetStatus(StatusPanel::Exchange, "Read:Ok!");
    return true;
}

bool Exchange(const std::uint8_t* payload, std::size_t length)
{
    if (heldSends > 0)
        return true;
    const bool ok = ExchangeOnce(payload, length);
    if (SendListener())
        SendListener()();
    return ok;
}

template <std::size_t N>
bool Exchange(const std::array<std::uint8_t, N>& payload)
{
    return Exchange(payload.data(), N);
}

} // namespace

void SetSendListener(std::function<void()> listener) { SendListener() = std::move(listener); }

HoldSends::HoldSends() { ++heldSends; }
HoldSends::~HoldSends() { --heldSends; }

void BuildSystemPayload(std::uint8_t* p)
{
    const DspParamsImage& d = DspParams;
    std::fill_n(p, SystemPayloadSize, std::uint8_t(0)); // bytes 5..9 carry nothing
    p[0] = Code(DspCommand::System);
    p[1] = d.MicVol;
    p[2] = d.MusicVol;
    p[3] = d.EffectVol;
    p[4] = d.Mute;
    for (int i = 0; i < OutputLineCount; ++i)
        PutU16(p + 10 + 2 * i, d.Delay[std::size_t(i)]);
    p[22] = std::uint8_t(d.Pitch);
    p[23] = d.Fbx;
    p[24] = d.Input;
    PutU16(p + 25, d.ReservedWord);
    std::copy(d.MaxVol.begin(), d.MaxVol.end(), p + 27);
    std::copy(d.ReservedBytes.begin(), d.ReservedBytes.end(), p + 34);
    PutU16(p + 40, std::uint16_t(d.NoiseGate[0]));
    PutU16(p + 42, std::uint16_t(d.NoiseGate[1]));
    for (int g = 0; g < OutputGroupCount; ++g)
        EncodeOutputMix(d.OutMix[std::size_t(g)], p + 44 + 4 * g);
}

void BuildEffectsPayload(std::uint8_t* p)
{
    const DspParamsImage& d = DspParams;
    p[0] = Code(DspCommand::Effects);
    for (int i = 0; i < DynamicsCount; ++i)
        EncodeDynamics(d.Dyn[std::size_t(i)], p + 1 + DynamicsWireSize * std::size_t(i));
    EncodeReverb(d.Reverb, p + 31);
    EncodeEcho(d.Echo, p + 42);
}

void DecodeSystemReply(const std::uint8_t* p, DspParamsImage& d)
{
    d.MicVol = p[1];
    d.MusicVol = p[2];
    d.EffectVol = p[3];
    d.Mute = p[4];
    // P[5..9] carry nothing.
    for (int i = 0; i < OutputLineCount; ++i)
        d.Delay[std::size_t(i)] = GetU16(p + 10 + 2 * i);
    d.Pitch = std::int8_t(p[22]);
    d.Fbx = p[23];
    d.Input = p[24];
    d.ReservedWord = GetU16(p + 25);
    std::copy_n(p + 27, d.MaxVol.size(), d.MaxVol.begin());
    // P[34..39]: ReservedBytes keep their value.
    d.NoiseGate[0] = GetI16(p + 40);
    d.NoiseGate[1] = GetI16(p + 42);
    for (int g = 0; g < OutputGroupCount; ++g)
        DecodeOutputMix(p + 44 + 4 * g, d.OutMix[std::size_t(g)]);
}

void DecodeEffectsReply(const std::uint8_t* p, DspParamsImage& d)
{
    for (int i = 0; i < DynamicsCount; ++i)
        DecodeDynamics(p + 1 + DynamicsWireSize * std::size_t(i), d.Dyn[std::size_t(i)]);
    DecodeReverb(p + 31, d.Reverb);
    DecodeEcho(p + 42, d.Echo);
}

bool SendSystem()
{
    std::array<std::uint8_t, SystemPayloadSize> p{};
    BuildSystemPayload(p.data());
    return Exchange(p);
}

bool SendEffects()
{
    std::array<std::uint8_t, EffectsPayloadSize> p{};
    BuildEffectsPayload(p.data());
    return Exchange(p);
}

bool SendMute() { return Exchange(std::array<std::uint8_t, 2>{Code(DspCommand::Mute), DspParams.Mute}); }

bool SendMasterVolume()
{
    const DspParamsImage& d = DspParams;
    return Exchange(std::array<std::uint8_t, 4>{Code(DspCommand::MasterVolume), d.MicVol, d.MusicVol, d.EffectVol});
}

bool SendPeqBands(std::uint8_t first, std::uint8_t count)
{
    if (first + count > BandTotal || count > MaxBandsPerRequest)
        return false;
    std::array<std::uint8_t, 3 + BandRecordSize * MaxBandsPerRequest> p{};
    p[0] = Code(DspCommand::PeqBands);
    p[1] = first;
    p[2] = count;
    for (int j = 0; j < count; ++j)
        EncodeBandRecord(DspParams.Band[std::size_t(first + j)], p.data() + 3 + BandRecordSize * std::size_t(j));
    return Exchange(p.data(), 3 + BandRecordSize * count);
}

bool SendBandRun(std::uint8_t first, std::uint8_t count)
{
    for (std::uint8_t done = 0; done < count; done = std::uint8_t(done + MaxBandsPerRequest)) {
        const auto n = std::uint8_t(std::min<int>(MaxBandsPerRequest, count - done));
        if (!SendPeqBands(std::uint8_t(first + done), n))
            return false;
    }
    return true;
}

bool SendFbx() { return Exchange(std::array<std::uint8_t, 2>{Code(DspCommand::Fbx), DspParams.Fbx}); }

bool SendPitch()
{
    return Exchange(std::array<std::uint8_t, 2>{Code(DspCommand::Pitch), std::uint8_t(DspParams.Pitch)});
}

bool SendInput() { return Exchange(std::array<std::uint8_t, 2>{Code(DspCommand::Input), DspParams.Input}); }

bool SendNoiseGate(std::uint8_t i)
{
    if (i > 1)
        return false;
    std::array<std::uint8_t, 4> p{Code(DspCommand::NoiseGate), i};
    PutU16(p.data() + 2, std::uint16_t(DspParams.NoiseGate[i]));
    return Exchange(p);
}

bool SendEqBypass(std::uint8_t first, std::uint8_t count)
{
    if (first + count > BandTotal)
        return false;
    std::array<std::uint8_t, 3 + BandTotal> p{};
    p[0] = Code(DspCommand::EqBypass);
    p[1] = first;
    p[2] = count;
    for (int j = 0; j < count; ++j)
        p[3 + std::size_t(j)] = DspParams.Band[std::size_t(first + j)].Flags;
    return Exchange(p.data(), 3 + std::size_t(count));
}

bool SendDelay()
{
    std::array<std::uint8_t, 13> p{Code(DspCommand::Delay)};
    for (int i = 0; i < OutputLineCount; ++i)
        PutU16(p.data() + 1 + 2 * i, DspParams.Delay[std::size_t(i)]);
    return Exchange(p);
}

bool SendDynamics(std::uint8_t i)
{
    if (i >= DynamicsCount)
        return false;
    std::array<std::uint8_t, 2 + DynamicsWireSize> p{Code(DspCommand::Dynamics), i};
    EncodeDynamics(DspParams.Dyn[i], p.data() + 2);
    return Exchange(p);
}

bool SendFactoryMode(std::uint8_t mode, std::uint8_t slot)
{
    const BoxLink::Whole command;
    return Exchange(std::array<std::uint8_t, 3>{Code(DspCommand::FactoryMode), mode, slot});
}

bool SendLink(std::uint8_t on)
{
    const BoxLink::Whole command;
    return Exchange(std::array<std::uint8_t, 2>{Code(DspCommand::Link), on});
}

bool SendOutputMix(std::uint8_t group)
{
    if (group >= OutputGroupCount)
        return false;
    std::array<std::uint8_t, 6> p{Code(DspCommand::OutputMix), group};
    EncodeOutputMix(DspParams.OutMix[group], p.data() + 2);
    return Exchange(p);
}

bool SendMaxVolume()
{
    std::array<std::uint8_t, 8> p{Code(DspCommand::MaxVolume)};
    std::copy(DspParams.MaxVol.begin(), DspParams.MaxVol.end(), p.begin() + 1);
    return Exchange(p);
}

bool SendEcho()
{
    std::array<std::uint8_t, 1 + EchoWireSize> p{Code(DspCommand::Echo)};
    EncodeEcho(DspParams.Echo, p.data() + 1);
    return Exchange(p);
}

bool SendReverb()
{
    std::array<std::uint8_t, 1 + ReverbWireSize> p{Code(DspCommand::Reverb)};
    EncodeReverb(DspParams.Reverb, p.data() + 1);
    return Exchange(p);
}

} // namespace ktv
