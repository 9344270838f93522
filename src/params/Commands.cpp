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

// A fixed-length request of command C.
template <DspCommand C>
using Request = std::array<std::uint8_t, RequestLength(C)>;

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
    if (hid.ReadReport(ReplyBytes(length)) != ReadResult::Ok)
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
    namespace at = SystemBlock;
    const DspParamsImage& d = DspParams;
    std::fill_n(p, SystemPayloadSize, std::uint8_t(0)); // the unused bytes carry nothing
    p[0] = Code(DspCommand::System);
    p[at::MicVol] = d.MicVol;
    p[at::MusicVol] = d.MusicVol;
    p[at::EffectVol] = d.EffectVol;
    p[at::Mute] = d.Mute;
    for (int i = 0; i < OutputLineCount; ++i)
        PutU16(p + at::Delay + 2 * i, d.Delay[std::size_t(i)]);
    p[at::Pitch] = std::uint8_t(d.Pitch);
    p[at::Fbx] = d.Fbx;
    p[at::Input] = d.Input;
    PutU16(p + at::ReservedWord, d.ReservedWord);
    std::copy(d.MaxVol.begin(), d.MaxVol.end(), p + at::MaxVol);
    std::copy(d.ReservedBytes.begin(), d.ReservedBytes.end(), p + at::ReservedBytes);
    for (int i = 0; i < NoiseGateCount; ++i)
        PutU16(p + at::NoiseGate + 2 * i, std::uint16_t(d.NoiseGate[std::size_t(i)]));
    for (int g = 0; g < OutputGroupCount; ++g)
        EncodeOutputMix(d.OutMix[std::size_t(g)], p + at::OutMix + OutputMixWireSize * std::size_t(g));
}

void BuildEffectsPayload(std::uint8_t* p)
{
    namespace at = EffectsBlock;
    const DspParamsImage& d = DspParams;
    p[0] = Code(DspCommand::Effects);
    for (int i = 0; i < DynamicsCount; ++i)
        EncodeDynamics(d.Dyn[std::size_t(i)], p + at::Dynamics + DynamicsWireSize * std::size_t(i));
    EncodeReverb(d.Reverb, p + at::Reverb);
    EncodeEcho(d.Echo, p + at::Echo);
}

void DecodeSystemReply(const std::uint8_t* p, DspParamsImage& d)
{
    namespace at = SystemBlock;
    d.MicVol = p[at::MicVol];
    d.MusicVol = p[at::MusicVol];
    d.EffectVol = p[at::EffectVol];
    d.Mute = p[at::Mute];
    for (int i = 0; i < OutputLineCount; ++i)
        d.Delay[std::size_t(i)] = GetU16(p + at::Delay + 2 * i);
    d.Pitch = std::int8_t(p[at::Pitch]);
    d.Fbx = p[at::Fbx];
    d.Input = p[at::Input];
    d.ReservedWord = GetU16(p + at::ReservedWord);
    std::copy_n(p + at::MaxVol, d.MaxVol.size(), d.MaxVol.begin());
    // ReservedBytes keep their value.
    for (int i = 0; i < NoiseGateCount; ++i)
        d.NoiseGate[std::size_t(i)] = GetI16(p + at::NoiseGate + 2 * i);
    for (int g = 0; g < OutputGroupCount; ++g)
        DecodeOutputMix(p + at::OutMix + OutputMixWireSize * std::size_t(g), d.OutMix[std::size_t(g)]);
}

void DecodeEffectsReply(const std::uint8_t* p, DspParamsImage& d)
{
    namespace at = EffectsBlock;
    for (int i = 0; i < DynamicsCount; ++i)
        DecodeDynamics(p + at::Dynamics + DynamicsWireSize * std::size_t(i), d.Dyn[std::size_t(i)]);
    DecodeReverb(p + at::Reverb, d.Reverb);
    DecodeEcho(p + at::Echo, d.Echo);
}

bool SendSystem()
{
    Request<DspCommand::System> p{};
    BuildSystemPayload(p.data());
    return Exchange(p);
}

bool SendEffects()
{
    Request<DspCommand::Effects> p{};
    BuildEffectsPayload(p.data());
    return Exchange(p);
}

bool SendMute() { return Exchange(Request<DspCommand::Mute>{Code(DspCommand::Mute), DspParams.Mute}); }

bool SendMasterVolume()
{
    const DspParamsImage& d = DspParams;
    return Exchange(
        Request<DspCommand::MasterVolume>{Code(DspCommand::MasterVolume), d.MicVol, d.MusicVol, d.EffectVol});
}

bool SendPeqBands(std::uint8_t first, std::uint8_t count)
{
    if (first + count > BandTotal || count > MaxBandsPerRequest)
        return false;
    std::array<std::uint8_t, RequestLength(DspCommand::PeqBands, MaxBandsPerRequest)> p{};
    p[0] = Code(DspCommand::PeqBands);
    p[RunFirstAt] = first;
    p[RunCountAt] = count;
    for (int j = 0; j < count; ++j)
        EncodeBandRecord(DspParams.Band[std::size_t(first + j)], p.data() + RunDataAt + BandRecordSize * std::size_t(j));
    return Exchange(p.data(), RequestLength(DspCommand::PeqBands, count));
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

bool SendFbx() { return Exchange(Request<DspCommand::Fbx>{Code(DspCommand::Fbx), DspParams.Fbx}); }

bool SendPitch()
{
    return Exchange(Request<DspCommand::Pitch>{Code(DspCommand::Pitch), std::uint8_t(DspParams.Pitch)});
}

bool SendInput() { return Exchange(Request<DspCommand::Input>{Code(DspCommand::Input), DspParams.Input}); }

bool SendNoiseGate(std::uint8_t i)
{
    if (i >= NoiseGateCount)
        return false;
    Request<DspCommand::NoiseGate> p{Code(DspCommand::NoiseGate), i};
    PutU16(p.data() + IndexedDataAt, std::uint16_t(DspParams.NoiseGate[i]));
    return Exchange(p);
}

bool SendEqBypass(std::uint8_t first, std::uint8_t count)
{
    if (first + count > BandTotal)
        return false;
    std::array<std::uint8_t, RequestLength(DspCommand::EqBypass, BandTotal)> p{};
    p[0] = Code(DspCommand::EqBypass);
    p[RunFirstAt] = first;
    p[RunCountAt] = count;
    for (int j = 0; j < count; ++j)
        p[RunDataAt + std::size_t(j)] = DspParams.Band[std::size_t(first + j)].Flags;
    return Exchange(p.data(), RequestLength(DspCommand::EqBypass, count));
}

bool SendDelay()
{
    Request<DspCommand::Delay> p{Code(DspCommand::Delay)};
    for (int i = 0; i < OutputLineCount; ++i)
        PutU16(p.data() + 1 + 2 * i, DspParams.Delay[std::size_t(i)]);
    return Exchange(p);
}

bool SendDynamics(std::uint8_t i)
{
    if (i >= DynamicsCount)
        return false;
    Request<DspCommand::Dynamics> p{Code(DspCommand::Dynamics), i};
    EncodeDynamics(DspParams.Dyn[i], p.data() + IndexedDataAt);
    return Exchange(p);
}

bool SendFactoryMode(std::uint8_t mode, std::uint8_t slot)
{
    const BoxLink::Whole command;
    return Exchange(Request<DspCommand::FactoryMode>{Code(DspCommand::FactoryMode), mode, slot});
}

bool SendLink(std::uint8_t on)
{
    const BoxLink::Whole command;
    return Exchange(Request<DspCommand::Link>{Code(DspCommand::Link), on});
}

bool SendOutputMix(std::uint8_t group)
{
    if (group >= OutputGroupCount)
        return false;
    Request<DspCommand::OutputMix> p{Code(DspCommand::OutputMix), group};
    EncodeOutputMix(DspParams.OutMix[group], p.data() + IndexedDataAt);
    return Exchange(p);
}

bool SendMaxVolume()
{
    Request<DspCommand::MaxVolume> p{Code(DspCommand::MaxVolume)};
    std::copy(DspParams.MaxVol.begin(), DspParams.MaxVol.end(), p.begin() + 1);
    return Exchange(p);
}

bool SendEcho()
{
    Request<DspCommand::Echo> p{Code(DspCommand::Echo)};
    EncodeEcho(DspParams.Echo, p.data() + 1);
    return Exchange(p);
}

bool SendReverb()
{
    Request<DspCommand::Reverb> p{Code(DspCommand::Reverb)};
    EncodeReverb(DspParams.Reverb, p.data() + 1);
    return Exchange(p);
}

} // namespace ktv
