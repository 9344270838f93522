#include "sim/VirtualBox.h"

#include "params/Gloable.h"
#include "sim/VirtualBoxFaults.h"
#include "sim/VirtualBoxRules.h"

#include <algorithm>
#include <cstdio>

namespace ktv {
namespace {

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

// Why the box ignores a report, or nullptr when its frame is sound.
const char* FrameFault(const std::uint8_t* report, std::size_t size)
{
    if (size < ReportSize)
        return "short request";
    if (size > ReportSize)
        return "long request";
    if (report[FrameMarkerAt] != FrameMarker)
        return "bad marker";
    if (report[FrameAddressAt] != BoxAddress)
        return "other device address";
    const std::size_t length = report[FrameLengthAt];
    if (length < 1 || length > MaxPayloadLength)
        return "bad length";
    if (Checksum(report + FramePayloadAt, length) != report[FramePayloadAt + length])
        return "bad checksum";
    return nullptr;
}

} // namespace

VirtualBox::Settings VirtualBox::DefaultSettings()
{
    Settings s;
    s.System[0] = Code(DspCommand::System);
    std::fill_n(s.System.begin() + SystemBlock::MaxVol, MaxVolumeCount, std::uint8_t(100));
    for (int i = 0; i < NoiseGateCount; ++i)
        PutU16(&s.System[SystemBlock::NoiseGate + 2 * std::size_t(i)], std::uint16_t(std::int16_t(-84)));

    s.Effects[0] = Code(DspCommand::Effects);
    const DynamicsParams dyn{.Threshold = 0, .Attack = 1, .Release = 1, .Ratio = 1};
    for (int i = 0; i < DynamicsCount; ++i)
        EncodeDynamics(dyn, &s.Effects[EffectsBlock::Dynamics + DynamicsWireSize * std::size_t(i)]);

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
    Exchange& ex = Log.emplace_back();
    ex.Request.assign(report, report + size);
    if (const char* fault = FrameFault(report, size)) {
        ex.Note = fault;
        return {};
    }
    const std::uint8_t* payload = report + FramePayloadAt;
    BoxAnswer answer = ApplyRule(*this, payload, report[FrameLengthAt]);
    ex.Note = std::move(answer.Note);
    if (!answer.Ok)
        return {};
    ex.Valid = true;

    ex.Reply.assign(ReportSize, 0);
    PutFrame(ex.Reply.data(), BoxAddress, answer.Payload.data(), answer.Payload.size());
    if (Faults.Strikes(RequestCount, payload[0])) {
        const std::string note = InjectFault(Faults.Kind, payload[0], ex.Reply);
        if (!note.empty())
            ex.Note += ex.Note.empty() ? note : "; " + note;
    }
    return ex.Reply;
}

std::vector<std::vector<std::uint8_t>> VirtualBox::ReceivedPayloads() const
{
    std::vector<std::vector<std::uint8_t>> payloads;
    for (const Exchange& ex : Log)
        if (ex.Valid) {
            const auto payload = ex.Request.begin() + FramePayloadAt;
            payloads.emplace_back(payload, payload + ex.Request[FrameLengthAt]);
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
        return Hex(rest, std::size_t(r[FrameLengthAt]) + FramePayloadAt);
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
