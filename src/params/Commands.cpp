#include "params/Commands.h"

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "params/BoxLink.h"
#include "params/Gloable.h"
#include "params/ImageFields.h"

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
    if (edit && !link.EditMayGo(payload, length))
        return false;
    auto failed = [&](const char* text) {
        Ui().SetStatus(StatusPanel::Exchange, text);
        if (edit)
            link.EditFailed(payload, length);
        link.ExchangeFailed();
        return false;
    };
    HidPro& hid = Hid();
    if (!hid.WriteReport(payload, length))
        return failed("Write:fault!");
    if (hid.ReadReport(ReplyBytes(length)) != ReadResult::Ok)
        return failed("Read:fault!");
    Ui().SetStatus(StatusPanel::Exchange, "Read:Ok!");
    if (edit)
        link.EditWent(payload, length);
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
    std::fill_n(p, SystemPayloadSize, std::uint8_t(0)); // the unused bytes carry nothing
    p[0] = Code(DspCommand::System);
    for (const ImageField& f : ImageFields())
        if (f.Block == ImageBlock::System)
            PutField(f, DspParams, p + f.At);
}

void BuildEffectsPayload(std::uint8_t* p)
{
    p[0] = Code(DspCommand::Effects);
    for (const ImageField& f : ImageFields())
        if (f.Block == ImageBlock::Effects)
            PutField(f, DspParams, p + f.At);
}

void DecodeSystemReply(const std::uint8_t* p, DspParamsImage& d)
{
    for (const ImageField& f : ImageFields())
        if (f.Block == ImageBlock::System && f.Replied)
            TakeField(f, p + f.At, d);
}

void DecodeEffectsReply(const std::uint8_t* p, DspParamsImage& d)
{
    for (const ImageField& f : ImageFields())
        if (f.Block == ImageBlock::Effects && f.Replied)
            TakeField(f, p + f.At, d);
}

bool SendFieldCommand(DspCommand command, std::uint8_t index)
{
    if (command == DspCommand::System)
        return SendSystem();
    if (command == DspCommand::Effects)
        return SendEffects();
    const CommandSpan* span = SpanOf(command);
    if (!span || (span->Indexed && index >= span->Count))
        return false;
    // The request is the block's bytes of the command's fields, after the
    // code (and the index), as the block would carry them.
    std::array<std::uint8_t, std::max(SystemPayloadSize, EffectsPayloadSize)> block{};
    if (span->Block == ImageBlock::System)
        BuildSystemPayload(block.data());
    else
        BuildEffectsPayload(block.data());
    std::array<std::uint8_t, MaxPayloadLength> p{Code(command)};
    std::size_t from = span->At, at = 1;
    if (span->Indexed) {
        p[IndexAt] = index;
        from += span->Length * index;
        at = IndexedDataAt;
    }
    std::copy_n(block.begin() + std::ptrdiff_t(from), span->Length, p.begin() + std::ptrdiff_t(at));
    return Exchange(p.data(), at + span->Length);
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

bool SendMute() { return SendFieldCommand(DspCommand::Mute); }

bool SendMasterVolume() { return SendFieldCommand(DspCommand::MasterVolume); }

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

bool SendFbx() { return SendFieldCommand(DspCommand::Fbx); }

bool SendPitch() { return SendFieldCommand(DspCommand::Pitch); }

bool SendInput() { return SendFieldCommand(DspCommand::Input); }

bool SendNoiseGate(std::uint8_t i) { return SendFieldCommand(DspCommand::NoiseGate, i); }

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

bool SendDelay() { return SendFieldCommand(DspCommand::Delay); }

bool SendDynamics(std::uint8_t i) { return SendFieldCommand(DspCommand::Dynamics, i); }

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

bool SendOutputMix(std::uint8_t group) { return SendFieldCommand(DspCommand::OutputMix, group); }

bool SendMaxVolume() { return SendFieldCommand(DspCommand::MaxVolume); }

bool SendEcho() { return SendFieldCommand(DspCommand::Echo); }

bool SendReverb() { return SendFieldCommand(DspCommand::Reverb); }

} // namespace ktv
