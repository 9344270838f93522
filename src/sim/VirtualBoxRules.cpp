#include "sim/VirtualBoxRules.h"

#include "protocol/CommandTable.h"

#include <algorithm>
#include <array>

namespace ktv {
namespace {

enum class Area { System, Effects };

struct Rule;
using Action = BoxAnswer (*)(VirtualBox&, const Rule&, const std::uint8_t* p, std::size_t length);

// One command's rule: the action, and for the writes that store bytes,
// where they come from in the payload and where they go in the box.
struct Rule {
    DspCommand Command;
    Action Apply;
    Area Into = Area::System;
    std::size_t At = 0;   // offset in the block
    std::size_t From = 1; // offset in the payload
    int Records = 0;      // indexed writes: how many records the index may pick
};

std::uint8_t* BlockOf(VirtualBox& box, Area area)
{
    return area == Area::System ? box.Current.System.data() : box.Current.Effects.data();
}

// A write is answered with its own payload.
BoxAnswer Answered(const std::uint8_t* p, std::size_t length) { return {true, {p, p + length}, {}}; }

BoxAnswer Refuse(const Rule& rule, const char* why)
{
    return {false, {}, std::string(Info(rule.Command).Name) + ": " + why};
}

// A fixed-length write: payload bytes From.. land at At.
BoxAnswer Store(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command))
        return Refuse(rule, "bad length");
    std::copy(p + rule.From, p + length, BlockOf(box, rule.Into) + rule.At);
    return Answered(p, length);
}

// One of several records, picked by the index byte.
BoxAnswer StoreRecord(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command) || p[IndexAt] >= rule.Records)
        return Refuse(rule, "bad request");
    const std::size_t size = length - IndexedDataAt;
    std::copy(p + IndexedDataAt, p + length, BlockOf(box, rule.Into) + rule.At + size * p[IndexAt]);
    return Answered(p, length);
}

// A run of bands inside the 39, no longer than `most`, in a request of the
// length the run needs.
bool ValidRun(const Rule& rule, const std::uint8_t* p, std::size_t length, std::size_t most)
{
    if (length < RunDataAt)
        return false;
    const std::size_t first = p[RunFirstAt], count = p[RunCountAt];
    return length == RequestLength(rule.Command, count) && count <= most && first + count <= std::size_t(BandTotal);
}

BoxAnswer StoreBands(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (!ValidRun(rule, p, length, MaxBandsPerRequest))
        return Refuse(rule, "bad band run");
    std::copy(p + RunDataAt, p + length, box.Current.Bands.begin() + std::ptrdiff_t(BandRecordSize * p[RunFirstAt]));
    return Answered(p, length);
}

// The flags byte, first in each band record.
BoxAnswer StoreBypass(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (!ValidRun(rule, p, length, BandTotal))
        return Refuse(rule, "bad band run");
    for (std::size_t j = 0; j < p[RunCountAt]; ++j)
        box.Current.Bands[BandRecordSize * (p[RunFirstAt] + j)] = p[RunDataAt + j];
    return Answered(p, length);
}

BoxAnswer ReadBlock(VirtualBox& box, const Rule& rule, const std::uint8_t*, std::size_t length)
{
    if (length != RequestLength(rule.Command))
        return Refuse(rule, "bad length");
    const std::uint8_t* block = BlockOf(box, rule.Into);
    return {true, {block, block + ReplyLength(rule.Command)}, {}};
}

// The reply names the run it carries, as a PeqBands request would.
BoxAnswer ReadBands(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command) || p[RunFirstAt] + p[RunCountAt] > BandTotal ||
        p[RunCountAt] > MaxBandsPerRequest)
        return Refuse(rule, "bad band run");
    BoxAnswer answer{true, std::vector<std::uint8_t>(ReplyLength(rule.Command, p[RunCountAt])), {}};
    answer.Payload[0] = Code(Info(rule.Command).Reply);
    answer.Payload[RunFirstAt] = p[RunFirstAt];
    answer.Payload[RunCountAt] = p[RunCountAt];
    std::copy_n(box.Current.Bands.begin() + std::ptrdiff_t(BandRecordSize * p[RunFirstAt]),
                BandRecordSize * p[RunCountAt], answer.Payload.begin() + RunDataAt);
    return answer;
}

BoxAnswer CopySlot(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command))
        return Refuse(rule, "bad length");
    BoxAnswer answer = Answered(p, length);
    const int mode = p[1], slot = p[2];
    // A slot outside 1..8 is acknowledged but touches nothing.
    if (slot < 1 || slot > SlotCount)
        answer.Note = "slot outside 1..8, nothing copied";
    else if (mode == FactoryStore)
        box.Slots[std::size_t(slot - 1)] = box.Current;
    else if (mode == FactoryRecall)
        box.Current = box.Slots[std::size_t(slot - 1)];
    else
        answer.Note = "unknown mode, nothing copied";
    return answer;
}

BoxAnswer SetLink(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command))
        return Refuse(rule, "bad length");
    box.Linked = p[1] != 0;
    return Answered(p, length);
}

// The System and Effects writes carry their code in byte 0 like the blocks
// do, so they copy from byte 0; the other writes copy what follows the code.
constexpr std::array<Rule, 21> Rules{{
    {DspCommand::System, Store, Area::System, 0, 0},
    {DspCommand::Effects, Store, Area::Effects, 0, 0},
    {DspCommand::Mute, Store, Area::System, SystemBlock::Mute},
    {DspCommand::MasterVolume, Store, Area::System, SystemBlock::MicVol},
    {DspCommand::PeqBands, StoreBands},
    {DspCommand::Fbx, Store, Area::System, SystemBlock::Fbx},
    {DspCommand::Pitch, Store, Area::System, SystemBlock::Pitch},
    {DspCommand::Input, Store, Area::System, SystemBlock::Input},
    {DspCommand::NoiseGate, StoreRecord, Area::System, SystemBlock::NoiseGate, IndexedDataAt, NoiseGateCount},
    {DspCommand::EqBypass, StoreBypass},
    {DspCommand::Delay, Store, Area::System, SystemBlock::Delay},
    {DspCommand::Dynamics, StoreRecord, Area::Effects, EffectsBlock::Dynamics, IndexedDataAt, DynamicsCount},
    {DspCommand::FactoryMode, CopySlot},
    {DspCommand::Link, SetLink},
    {DspCommand::OutputMix, StoreRecord, Area::System, SystemBlock::OutMix, IndexedDataAt, OutputGroupCount},
    {DspCommand::MaxVolume, Store, Area::System, SystemBlock::MaxVol},
    {DspCommand::Echo, Store, Area::Effects, EffectsBlock::Echo},
    {DspCommand::Reverb, Store, Area::Effects, EffectsBlock::Reverb},
    {DspCommand::ReadSystem, ReadBlock, Area::System},
    {DspCommand::ReadEffects, ReadBlock, Area::Effects},
    {DspCommand::ReadPeqBands, ReadBands},
}};

static_assert(Rules.size() == CommandTable.size(), "a rule for every command");

} // namespace

BoxAnswer ApplyRule(VirtualBox& box, const std::uint8_t* payload, std::size_t length)
{
    for (const Rule& rule : Rules)
        if (Code(rule.Command) == payload[0])
            return rule.Apply(box, rule, payload, length);
    return {false, {}, "unknown command"};
}

} // namespace ktv
