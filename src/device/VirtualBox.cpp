#include "device/VirtualBox.h"

#include "device/HidPro.h"
#include "params/Commands.h"
#include "params/Gloable.h"

#include <algorithm>
#include <cstdio>

namespace ktv {
namespace {

// Offsets inside the system block (the System payload layout).
constexpr std::size_t SysVolumes = 1;  // MicVol, MusicVol, EffectVol
constexpr std::size_t SysMute = 4;
constexpr std::size_t SysDelay = 10;   // 6 x u16
constexpr std::size_t SysPitch = 22;
constexpr std::size_t SysFbx = 23;
constexpr std::size_t SysInput = 24;
constexpr std::size_t SysMaxVol = 27;  // 7 bytes
constexpr std::size_t SysNoiseGate = 40; // 2 x i16
constexpr std::size_t SysOutMix = 44;  // 4 x 4 bytes
// Offsets inside the effects block (the Effects payload layout).
constexpr std::size_t FxDynamics = 1;  // 5 x 6 bytes
constexpr std::size_t FxReverb = 31;
constexpr std::size_t FxEcho = 42;

constexpr std::uint8_t Code(DspCommand c) { return std::uint8_t(c); }

struct Outcome {
    bool Ok = false;
    std::vector<std::uint8_t> Payload; // reply payload
    std::string Note;
};

Outcome Refuse(std::string note) { return {false, {}, std::move(note)}; }

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t count)
{
    std::string text;
    char buf[4];
    for (std::size_t i = 0; i < std::min(count, bytes.size()); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        text += buf;
    }
    return text;
}

} // namespace

VirtualBox::Settings VirtualBox::DefaultSettings()
{
    Settings s;
    s.System[0] = Code(DspCommand::System);
    std::fill_n(s.System.begin() + SysMaxVol, 7, std::uint8_t(100));
    PutU16(&s.System[SysNoiseGate], std::uint16_t(std::int16_t(-84)));
    PutU16(&s.System[SysNoiseGate + 2], std::uint16_t(std::int16_t(-84)));

    s.Effects[0] = Code(DspCommand::Effects);
    const DynamicsParams dyn{.Threshold = 0, .Attack = 1, .Release = 1, .Ratio = 1};
    for (int i = 0; i < DynamicsCount; ++i)
        EncodeDynamics(dyn, &s.Effects[FxDynamics + DynamicsWireSize * std::size_t(i)]);

    for (const BandGroup& group : BandGroups)
        for (int i = 0; i < group.BandCount; ++i) {
            PeqBand band;
            SetDefaultBand(band, i);
            EncodeBandRecord(band, &s.Bands[BandRecordSize * std::size_t(group.FirstBand + i)]);
        }
    return s;
}

VirtualBox::VirtualBox()
    : Current(DefaultSettings())
{
    Slots.fill(Current);
}

std::vector<std::uint8_t> VirtualBox::Handle(const std::uint8_t* report, std::size_t size)
{
    ++RequestCount;
    Exchange ex;
    ex.Request.assign(report, report + size);

    auto refuse = [&](std::string note) {
        ex.Note = std::move(note);
        Log.push_back(std::move(ex));
        return std::vector<std::uint8_t>{};
    };

    if (size < ReportSize)
        return refuse("short request");
    if (size > ReportSize)
        return refuse("long request");
    if (report[1] != 0xAA)
        return refuse("bad marker");
    if (report[2] != 1)
        return refuse("other device address");
    const std::size_t length = report[3];
    if (length < 1 || length > 60)
        return refuse("bad length");
    const std::uint8_t* p = report + 4;
    if (Checksum(p, length) != report[4 + length])
        return refuse("bad checksum");

    // Every write is answered with its own payload; reads with the block asked for.
    Outcome out{true, std::vector<std::uint8_t>(p, p + length), {}};
    auto& sys = Current.System;
    auto& fx = Current.Effects;
    auto& bands = Current.Bands;
    auto put = [&](auto& block, std::size_t at, std::size_t from, std::size_t count) {
        std::copy_n(p + from, count, block.begin() + std::ptrdiff_t(at));
    };

    switch (DspCommand(p[0])) {
    case DspCommand::System:
        if (length != SystemBlockSize)
            out = Refuse("System: bad length");
        else
            put(sys, 0, 0, SystemBlockSize);
        break;
    case DspCommand::Effects:
        if (length != EffectsBlockSize)
            out = Refuse("Effects: bad length");
        else
            put(fx, 0, 0, EffectsBlockSize);
        break;
    case DspCommand::Mute:
        if (length != 2) out = Refuse("Mute: bad length");
        else put(sys, SysMute, 1, 1);
        break;
    case DspCommand::MasterVolume:
        if (length != 4) out = Refuse("MasterVolume: bad length");
        else put(sys, SysVolumes, 1, 3);
        break;
    case DspCommand::PeqBands: {
        const std::size_t first = length >= 3 ? p[1] : 0, count = length >= 3 ? p[2] : 0;
        if (length < 3 || length != 3 + BandRecordSize * count || count > 6 || first + count > 39)
            out = Refuse("PeqBands: bad band run");
        else
            put(bands, BandRecordSize * first, 3, BandRecordSize * count);
        break;
    }
    case DspCommand::Fbx:
        if (length != 2) out = Refuse("Fbx: bad length");
        else put(sys, SysFbx, 1, 1);
        break;
    case DspCommand::Pitch:
        if (length != 2) out = Refuse("Pitch: bad length");
        else put(sys, SysPitch, 1, 1);
        break;
    case DspCommand::Input:
        if (length != 2) out = Refuse("Input: bad length");
        else put(sys, SysInput, 1, 1);
        break;
    case DspCommand::NoiseGate:
        if (length != 4 || p[1] > 1) out = Refuse("NoiseGate: bad request");
        else put(sys, SysNoiseGate + 2 * std::size_t(p[1]), 2, 2);
        break;
    case DspCommand::EqBypass: {
        const std::size_t first = length >= 3 ? p[1] : 0, count = length >= 3 ? p[2] : 0;
        if (length < 3 || length != 3 + count || first + count > 39)
            out = Refuse("EqBypass: bad band run");
        else
            for (std::size_t j = 0; j < count; ++j)
                bands[BandRecordSize * (first + j)] = p[3 + j];
        break;
    }
    case DspCommand::Delay:
        if (length != 13) out = Refuse("Delay: bad length");
        else put(sys, SysDelay, 1, 12);
        break;
    case DspCommand::Dynamics:
        if (length != 8 || p[1] >= DynamicsCount) out = Refuse("Dynamics: bad request");
        else put(fx, FxDynamics + DynamicsWireSize * std::size_t(p[1]), 2, DynamicsWireSize);
        break;
    case DspCommand::FactoryMode: {
        if (length != 3) {
            out = Refuse("FactoryMode: bad length");
            break;
        }
        const int mode = p[1], slot = p[2];
        // A slot outside 1..8 is acknowledged but touches nothing.
        if (slot < 1 || slot > SlotCount)
            out.Note = "slot outside 1..8, nothing copied";
        else if (mode == FactoryStore)
            Slots[std::size_t(slot - 1)] = Current;
        else if (mode == FactoryRecall)
            Current = Slots[std::size_t(slot - 1)];
        else
            out.Note = "unknown mode, nothing copied";
        break;
    }
    case DspCommand::Link:
        if (length != 2) out = Refuse("Link: bad length");
        else Linked = p[1] != 0;
        break;
    case DspCommand::OutputMix:
        if (length != 6 || p[1] >= OutputGroupCount) out = Refuse("OutputMix: bad request");
        else put(sys, SysOutMix + 4 * std::size_t(p[1]), 2, 4);
        break;
    case DspCommand::MaxVolume:
        if (length != 8) out = Refuse("MaxVolume: bad length");
        else put(sys, SysMaxVol, 1, 7);
        break;
    case DspCommand::Echo:
        if (length != 1 + EchoWireSize) out = Refuse("Echo: bad length");
        else put(fx, FxEcho, 1, EchoWireSize);
        break;
    case DspCommand::Reverb:
        if (length != 1 + ReverbWireSize) out = Refuse("Reverb: bad length");
        else put(fx, FxReverb, 1, ReverbWireSize);
        break;
    case DspCommand::ReadSystem:
        if (length != 1) out = Refuse("ReadSystem: bad length");
        else out.Payload.assign(sys.begin(), sys.end());
        break;
    case DspCommand::ReadEffects:
        if (length != 1) out = Refuse("ReadEffects: bad length");
        else out.Payload.assign(fx.begin(), fx.end());
        break;
    case DspCommand::ReadPeqBands: {
        const std::size_t first = length == 3 ? p[1] : 0, count = length == 3 ? p[2] : 0;
        if (length != 3 || count > 6 || first + count > 39) {
            out = Refuse("ReadPeqBands: bad band run");
            break;
        }
        out.Payload = {Code(DspCommand::PeqBands), std::uint8_t(first), std::uint8_t(count)};
        const auto from = bands.begin() + std::ptrdiff_t(BandRecordSize * first);
        out.Payload.insert(out.Payload.end(), from, from + std::ptrdiff_t(BandRecordSize * count));
        break;
    }
    default:
        out = Refuse("unknown command");
        break;
    }

    if (!out.Ok)
        return refuse(std::move(out.Note));

    ex.Valid = true;
    ex.Note = std::move(out.Note);

    std::vector<std::uint8_t> reply(ReportSize, 0);
    const std::size_t m = out.Payload.size();
    reply[1] = 0xAA;
    reply[2] = 1;
    reply[3] = std::uint8_t(m);
    std::copy(out.Payload.begin(), out.Payload.end(), reply.begin() + 4);
    reply[4 + m] = Checksum(out.Payload.data(), m);

    const bool faulty = Faults.Kind != Fault::None && RequestCount >= Faults.FromRequest &&
                        RequestCount <= Faults.UntilRequest &&
                        (!Faults.OnlyCommand || *Faults.OnlyCommand == p[0]);
    if (faulty) {
        auto resum = [&] { reply[4 + m] = Checksum(&reply[4], m); };
        const bool bandRead = p[0] == Code(DspCommand::ReadPeqBands);
        auto note = [&](const char* what) { ex.Note += ex.Note.empty() ? what : std::string("; ") + what; };
        switch (Faults.Kind) {
        case Fault::None:
            break;
        case Fault::Silent:
            reply.clear();
            note("fault: silent");
            break;
        case Fault::BadChecksum:
            ++reply[4 + m];
            note("fault: bad checksum");
            break;
        case Fault::WrongAddress:
            reply[2] = 2;
            note("fault: address 2");
            break;
        case Fault::WrongLength:
            ++reply[3];
            note("fault: length byte + 1");
            break;
        case Fault::WrongReplyCode:
            reply[4] ^= 0x80;
            resum();
            note("fault: reply code changed");
            break;
        case Fault::ShortReport:
            reply.resize(10);
            note("fault: short report");
            break;
        case Fault::ForeignBandRun:
            if (bandRead) {
                ++reply[5];
                resum();
                note("fault: first band + 1");
            }
            break;
        case Fault::ForeignBandCount:
            if (bandRead) {
                ++reply[6];
                resum();
                note("fault: count + 1");
            }
            break;
        }
    }

    ex.Reply = reply;
    Log.push_back(std::move(ex));
    return reply;
}

std::vector<std::vector<std::uint8_t>> VirtualBox::ReceivedPayloads() const
{
    std::vector<std::vector<std::uint8_t>> payloads;
    for (const Exchange& ex : Log)
        if (ex.Valid) {
            const std::size_t length = ex.Request[3];
            payloads.emplace_back(ex.Request.begin() + 4, ex.Request.begin() + 4 + std::ptrdiff_t(length));
        }
    return payloads;
}

std::string VirtualBox::Describe(const Exchange& ex)
{
    // The frame without the report ID: marker, address, length, payload, checksum.
    auto frame = [](const std::vector<std::uint8_t>& r) {
        if (r.size() < 4)
            return Hex(r, r.size());
        const std::vector<std::uint8_t> rest(r.begin() + 1, r.end());
        return Hex(rest, std::size_t(r[3]) + 4);
    };
    std::string line = ex.Valid ? "ok      " : "refused ";
    line += "> " + frame(ex.Request);
    line += ex.Reply.empty() ? "  < (no reply)" : "  < " + frame(ex.Reply);
    if (!ex.Note.empty())
        line += "  [" + ex.Note + "]";
    return line;
}

// State file: "KTVB", version, then the current settings and the eight slots,
// each as system block, effects block and band records.
namespace {
constexpr std::uint8_t StateMagic[4] = {'K', 'T', 'V', 'B'};
constexpr std::uint8_t StateVersion = 1;
constexpr std::size_t SettingsBytes =
    VirtualBox::SystemBlockSize + VirtualBox::EffectsBlockSize + VirtualBox::BandBlockSize;
constexpr std::size_t StateBytes = 5 + SettingsBytes * (1 + VirtualBox::SlotCount);
} // namespace

std::vector<std::uint8_t> VirtualBox::SaveState() const
{
    std::vector<std::uint8_t> bytes(StateMagic, StateMagic + 4);
    bytes.push_back(StateVersion);
    auto append = [&](const Settings& s) {
        bytes.insert(bytes.end(), s.System.begin(), s.System.end());
        bytes.insert(bytes.end(), s.Effects.begin(), s.Effects.end());
        bytes.insert(bytes.end(), s.Bands.begin(), s.Bands.end());
    };
    append(Current);
    for (const Settings& s : Slots)
        append(s);
    return bytes;
}

bool VirtualBox::LoadState(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() != StateBytes || !std::equal(StateMagic, StateMagic + 4, bytes.begin()) ||
        bytes[4] != StateVersion)
        return false;
    auto at = bytes.begin() + 5;
    auto take = [&](Settings& s) {
        std::copy_n(at, s.System.size(), s.System.begin());
        at += std::ptrdiff_t(s.System.size());
        std::copy_n(at, s.Effects.size(), s.Effects.begin());
        at += std::ptrdiff_t(s.Effects.size());
        std::copy_n(at, s.Bands.size(), s.Bands.begin());
        at += std::ptrdiff_t(s.Bands.size());
    };
    // Decode into a copy so a bad file leaves the box as it was.
    Settings current;
    std::array<Settings, SlotCount> slots;
    take(current);
    for (Settings& s : slots)
        take(s);
    Current = current;
    Slots = slots;
    return true;
}

} // namespace ktv
