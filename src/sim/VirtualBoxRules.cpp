#include "sim/VirtualBoxRules.h"

#include "params/ImageFields.h"
#include "protocol/CommandTable.h"

#include <algorithm>
#include <array>

namespace ktv {
namespace {

enum class Area { System, Effects };

struct Rule;
using Action = BoxAnswer (*)(VirtualBox&, const Rule&, const std::uint8_t* p, std::size_t length);

// One command's rule: the action, and for the block writes and reads, the
// block. Where a settings write lands is its fields' place (params/ImageFields).
struct Rule {
    DspCommand Command;
    Action Apply;
    Area Into = Area::System;
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

// A whole block: the System and Effects writes carry their code in byte 0
// like the blocks do, so they copy from byte 0.
BoxAnswer StoreBlock(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command))
        return Refuse(rule, "bad length");
    std::copy(p, p + length, BlockOf(box, rule.Into));
    return Answered(p, length);
}

std::uint8_t* BlockOf(VirtualBox& box, const CommandSpan& span)
{
    return BlockOf(box, span.Block == ImageBlock::System ? Area::System : Area::Effects);
}

// A write of settings fields: what follows the code lands where the fields
// sit in their block.
BoxAnswer Store(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    if (length != RequestLength(rule.Command))
        return Refuse(rule, "bad length");
    const CommandSpan& span = *SpanOf(rule.Command);
    std::copy(p + 1, p + length, BlockOf(box, span) + span.At);
    return Answered(p, length);
}

// One of several records, picked by the index byte.
BoxAnswer StoreRecord(VirtualBox& box, const Rule& rule, const std::uint8_t* p, std::size_t length)
{
    const CommandSpan& span = *SpanOf(rule.Command);
    if (length != RequestLength(rule.Command) || p[IndexAt] >= span.Count)
        return Refuse(rule, "bad request");
    std::copy(p + IndexedDataAt, p + length, BlockOf(box, span) + span.At + span.Length * p[IndexAt]);
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

// The commands that carry settings fields need no rule of their own: each
// stores its bytes where its fields sit (params/ImageFields).
constexpr Rule Rules[]{
    {DspCommand::System, StoreBlock, Area::System},
    {DspCommand::Effects, StoreBlock, Area::Effects},
    {DspCommand::PeqBands, StoreBands},
    {DspCommand::EqBypass, StoreBypass},
    {DspCommand::FactoryMode, CopySlot},
    {DspCommand::Link, SetLink},
    {DspCommand::ReadSystem, ReadBlock, Area::System},
    {DspCommand::ReadEffects, ReadBlock, Area::Effects},
    {DspCommand::ReadPeqBands, ReadBands},
};

constexpr const Rule* RuleOf(DspCommand command)
{
    for (const Rule& rule : Rules)
        if (rule.Command == command)
            return &rule;
    return nullptr;
}

constexpr bool HasRule(DspCommand command)
{
    for (const Rule& rule : Rules)
        if (rule.Command == command)
            return true;
    return false;
}

constexpr bool EveryCommandAnswered()
{
    for (const CommandInfo& c : CommandTable)
        if (HasRule(c.Command) == HasSpan(c.Command)) // none, or both
            return false;
    return true;
}
static_assert(EveryCommandAnswered(), "a rule or a field store for every command, never both");

} // namespace

BoxAnswer ApplyRule(VirtualBox& box, const std::uint8_t* payload, std::size_t length)
{
    const CommandInfo* command = FindCommand(payload[0]);
    if (!command)
        return {false, {}, "unknown command"};
    if (const Rule* rule = RuleOf(command->Command))
        return rule->Apply(box, *rule, payload, length);
    const Rule store{command->Command, SpanOf(command->Command)->Indexed ? StoreRecord : Store};
    return store.Apply(box, store, payload, length);
}

} // namespace ktv
