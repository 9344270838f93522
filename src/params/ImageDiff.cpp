#include "params/ImageDiff.h"

#include "params/Commands.h"
#include "params/ImageFields.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <functional>

namespace ktv {
namespace {

struct Field {
    std::string Owner; // "MIC band 3", "Echo", "Mute"
    std::string What;  // "gain", "delay", "MAIN L"
    bool Band = false; // named "Gain of MIC band 3" in undo items
    DspCommand Command = DspCommand::System; // what carries it; PeqBands for a band
    int Index = 0;     // dynamics, mix group, noise gate or band index
    Shown Show = Shown::Number;
    std::function<double(const DspParamsImage&)> Get;
    // Copies this field's value, and nothing else, from the first image into the second.
    std::function<void(const DspParamsImage&, DspParamsImage&)> Copy;

    std::string Name() const { return What.empty() ? Owner : Owner + " " + What; }
};

// The order the commands of changed settings go out in; System carries the
// fields of the System block's commands too. A command not named here goes
// out after these, in the table's order.
constexpr DspCommand SendOrder[]{DspCommand::MasterVolume, DspCommand::MaxVolume, DspCommand::Mute,
                                 DspCommand::Delay,        DspCommand::Pitch,     DspCommand::Fbx,
                                 DspCommand::Input,        DspCommand::NoiseGate, DspCommand::OutputMix,
                                 DspCommand::Dynamics,     DspCommand::Echo,      DspCommand::Reverb,
                                 DspCommand::System};

struct Sequence {
    std::array<DspCommand, CommandTable.size()> Commands{};
    std::size_t Count = 0;

    constexpr std::size_t Slot(DspCommand c) const
    {
        return std::size_t(std::find(Commands.begin(), Commands.begin() + std::ptrdiff_t(Count), c) - Commands.begin());
    }
    constexpr void Add(DspCommand c)
    {
        if (Slot(c) == Count)
            Commands[Count++] = c;
    }
};

constexpr Sequence SendSequence = [] {
    Sequence s;
    for (DspCommand c : SendOrder)
        s.Add(c);
    for (const ImageField& f : ImageFields())
        s.Add(f.Command);
    return s;
}();

constexpr std::size_t MaxElements = 8;
static_assert(std::ranges::all_of(ImageFields(), [](const ImageField& f) { return std::size_t(f.Count) <= MaxElements; }),
              "an indexed command's elements fit the table of due sends");

// The members of an element in the compare window's order: the named ones in
// wire order, then the spare words, then the spare bytes.
std::vector<const FieldMember*> CompareOrder(const ImageField& f)
{
    std::vector<const FieldMember*> order;
    for (const FieldMember& m : f.Members)
        order.push_back(&m);
    auto rank = [](const FieldMember* m) { return std::pair{m->Spare ? (m->Width == 2 ? 1 : 2) : 0, m->At}; };
    std::stable_sort(order.begin(), order.end(), [&](auto* a, auto* b) { return rank(a) < rank(b); });
    return order;
}

std::vector<Field> BuildFields()
{
    std::vector<Field> t;
    using D = const DspParamsImage&;
    for (const ImageField& f : ImageFields()) {
        for (int i = 0; i < f.Count; ++i) {
            const ElementName name = f.Names[std::size_t(i)];
            const int index = f.Indexed ? i : 0;
            if (!f.Bits.empty()) {
                const FieldMember& m = f.Members.front();
                for (const FieldBits& bits : f.Bits) {
                    const int mask = ((1 << bits.Bits) - 1) << bits.Shift;
                    t.push_back({name.Owner, bits.What, false, f.Command, index, bits.Show,
                                 [&f, &m, i, bits](D d) {
                                     return (FieldValue(f, m, d, i) >> bits.Shift) & ((1 << bits.Bits) - 1);
                                 },
                                 [&f, &m, i, mask](D from, DspParamsImage& to) {
                                     const ValueRef v = MemberRef(f, m, to, i);
                                     WriteValue(v, (ReadValue(v) & ~mask) | (FieldValue(f, m, from, i) & mask));
                                 }});
                }
                continue;
            }
            for (const FieldMember* m : CompareOrder(f))
                t.push_back({name.Owner, m->What ? m->What : name.What, false, f.Command, index, m->Show,
                             [&f, m, i](D d) { return FieldValue(f, *m, d, i); },
                             [&f, m, i](D from, DspParamsImage& to) {
                                 WriteValue(MemberRef(f, *m, to, i), FieldValue(f, *m, from, i));
                             }});
        }
    }

    for (int c = 0; c < EqChannelCount; ++c) {
        const BandGroup group = BandGroups[std::size_t(c)];
        for (int i = 0; i < group.BandCount; ++i) {
            const std::size_t k = std::size_t(group.FirstBand + i);
            const std::string owner = std::string(EqChannelName(EqChannel(c))) + " band " + std::to_string(i + 1);
            auto band = [&](std::string what, Shown show, std::function<double(const PeqBand&)> get,
                            std::function<void(const PeqBand&, PeqBand&)> copy) {
                t.push_back({owner, std::move(what), true, DspCommand::PeqBands, int(k), show,
                             [k, get](D d) { return get(d.Band[k]); },
                             [k, copy](D from, DspParamsImage& to) { copy(from.Band[k], to.Band[k]); }});
            };
            auto flags = [](std::uint8_t mask) {
                return [mask](const PeqBand& from, PeqBand& to) {
                    to.Flags = std::uint8_t((to.Flags & ~mask) | (from.Flags & mask));
                };
            };
            band("type", Shown::Type, [](const PeqBand& b) { return b.Flags & FlagTypeMask; }, flags(FlagTypeMask));
            band("Fc", Shown::Decimal, [](const PeqBand& b) { return b.Fc; },
                 [](const PeqBand& from, PeqBand& to) { to.Fc = from.Fc; });
            band("Q", Shown::Decimal, [](const PeqBand& b) { return b.Q; },
                 [](const PeqBand& from, PeqBand& to) { to.Q = from.Q; });
            band("gain", Shown::Decimal, [](const PeqBand& b) { return b.Gain; },
                 [](const PeqBand& from, PeqBand& to) { to.Gain = from.Gain; });
            band("bypass", Shown::YesNo, [](const PeqBand& b) { return (b.Flags & FlagBandOn) == 0; }, flags(FlagBandOn));
            band("EQ bypass", Shown::YesNo, [](const PeqBand& b) { return (b.Flags & FlagChannelEqOn) == 0; },
                 flags(FlagChannelEqOn));
            band("flag bits 4-5", Shown::Number, [](const PeqBand& b) { return (b.Flags >> 4) & 3; }, flags(0x30));
        }
    }
    return t;
}

const std::vector<Field>& Fields()
{
    static const std::vector<Field> table = BuildFields();
    return table;
}

// Band values are compared as they travel and are filed, in whole tenths: a
// Q of 0.69 in the window and the 0.7 the box holds are the same.
bool Same(const Field& f, const DspParamsImage& a, const DspParamsImage& b)
{
    const double x = f.Get(a), y = f.Get(b);
    if (f.Show == Shown::Decimal)
        return Tenths(float(x)) == Tenths(float(y));
    return x == y;
}

std::string Show(Shown show, double v)
{
    char text[48];
    const long long n = static_cast<long long>(v);
    switch (show) {
    case Shown::Decimal:
        // As the box holds it: whole tenths.
        std::snprintf(text, sizeof text, "%.7g", double(Tenths(float(v))) / 10.0);
        return text;
    case Shown::Type:
        return n >= 0 && std::size_t(n) < FilterTypeTexts.size() ? FilterTypeTexts[std::size_t(n)].Name
                                                                 : "type " + std::to_string(n);
    case Shown::YesNo:
        return n ? "yes" : "no";
    case Shown::Mix:
        return ((n & MixSignBit) ? "-" : "+") + std::to_string(n & MixLevelMask);
    case Shown::Input:
        return n >= 0 && std::size_t(n) < InputNames.size() ? InputNames[std::size_t(n)] : std::to_string(n);
    case Shown::Number:
        break;
    }
    return std::to_string(n);
}

std::string JoinAnd(const std::vector<std::string>& parts)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

int ChannelOfBand(int k)
{
    for (int c = 0; c < EqChannelCount; ++c) {
        const BandGroup g = BandGroups[std::size_t(c)];
        if (k >= g.FirstBand && k < g.FirstBand + g.BandCount)
            return c;
    }
    return -1;
}

enum class BandChange { None, EqBit, Record };

// As Same: a band whose records would be equal needs no request.

BandChange ChangeOf(const PeqBand& from, const PeqBand& to)
{
    const bool values =
        Tenths(from.Fc) != Tenths(to.Fc) || Tenths(from.Q) != Tenths(to.Q) || Tenths(from.Gain) != Tenths(to.Gain);
    if (!values && from.Flags == to.Flags)
        return BandChange::None;
    // The channel bypass goes out as EqBypass, as the editor sends it.
    if (!values && (from.Flags ^ to.Flags) == FlagChannelEqOn)
        return BandChange::EqBit;
    return BandChange::Record;
}

} // namespace

std::vector<ImageDifference> DiffImages(const DspParamsImage& a, const DspParamsImage& b)
{
    std::vector<ImageDifference> rows;
    for (const Field& f : Fields())
        if (!Same(f, a, b))
            rows.push_back({f.Name(), Show(f.Show, f.Get(a)), Show(f.Show, f.Get(b))});
    return rows;
}

bool SameSettings(const DspParamsImage& a, const DspParamsImage& b)
{
    for (const Field& f : Fields())
        if (!Same(f, a, b))
            return false;
    return true;
}

std::string DescribeChange(const DspParamsImage& before, const DspParamsImage& after)
{
    std::vector<const Field*> changed;
    for (const Field& f : Fields())
        if (!Same(f, before, after))
            changed.push_back(&f);
    if (changed.empty())
        return {};

    bool oneOwner = true, oneChannel = changed.front()->Band;
    const int channel = ChannelOfBand(changed.front()->Index);
    for (const Field* f : changed) {
        oneOwner = oneOwner && f->Owner == changed.front()->Owner;
        oneChannel = oneChannel && f->Band && ChannelOfBand(f->Index) == channel;
    }
    if (oneOwner && changed.size() <= 3) {
        std::vector<std::string> whats;
        for (const Field* f : changed)
            whats.push_back(f->What);
        std::string what = JoinAnd(whats);
        if (!changed.front()->Band)
            return what.empty() ? changed.front()->Owner : changed.front()->Owner + " " + what;
        what[0] = char(std::toupper(static_cast<unsigned char>(what[0])));
        return what + " of " + changed.front()->Owner;
    }
    if (oneOwner)
        return changed.front()->Owner;
    if (oneChannel)
        return std::string(EqChannelName(EqChannel(channel))) + " EQ";
    if (changed.size() == 2)
        return changed[0]->Name() + " and " + changed[1]->Name();
    return changed[0]->Name() + " and " + std::to_string(changed.size() - 1) + " more";
}

std::vector<std::string> CarriedNames(DspCommand command, int index)
{
    std::vector<const Field*> carried;
    for (const Field& f : Fields())
        if (f.Command == command && f.Index == index)
            carried.push_back(&f);
    std::vector<std::string> names;
    for (const Field* f : carried) {
        const auto same = std::count_if(carried.begin(), carried.end(), [f](const Field* g) { return g->Owner == f->Owner; });
        const std::string name = same > 1 ? f->Owner : f->Name();
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

std::vector<std::pair<DspCommand, int>> ChangedElements(const DspParamsImage& a, const DspParamsImage& b)
{
    std::vector<std::pair<DspCommand, int>> elements;
    for (const Field& f : Fields()) {
        const std::pair element{f.Command, f.Index};
        if (!Same(f, a, b) && std::find(elements.begin(), elements.end(), element) == elements.end())
            elements.push_back(element);
    }
    return elements;
}

void CopyElements(const DspParamsImage& from, const std::vector<std::pair<DspCommand, int>>& elements,
                  DspParamsImage& into)
{
    for (const Field& f : Fields())
        if (std::find(elements.begin(), elements.end(), std::pair{f.Command, f.Index}) != elements.end())
            f.Copy(from, into);
}

void CarryChanges(const DspParamsImage& before, const DspParamsImage& after, DspParamsImage& into)
{
    for (const Field& f : Fields())
        if (!Same(f, before, after))
            f.Copy(after, into);
}

bool SendChanges(const DspParamsImage& box)
{
    const DspParamsImage& to = DspParams;
    auto slot = [](DspCommand c) { return SendSequence.Slot(c); };
    std::array<std::array<bool, MaxElements>, CommandTable.size()> due{};
    for (const Field& f : Fields())
        if (!f.Band && !Same(f, box, to))
            due[slot(f.Command)][std::size_t(f.Index)] = true;

    // System carries every field of the System block: when it must go, the
    // commands of those fields need no request of their own.
    if (due[slot(DspCommand::System)][0])
        for (const ImageField& f : ImageFields())
            if (f.Block == ImageBlock::System && f.Command != DspCommand::System)
                due[slot(f.Command)] = {};
    for (std::size_t g = 0; g < SendSequence.Count; ++g)
        for (std::size_t i = 0; i < MaxElements; ++i)
            if (due[g][i] && !SendFieldCommand(SendSequence.Commands[g], std::uint8_t(i)))
                return false;

    for (int k = 0; k < BandTotal;) {
        const BandChange kind = ChangeOf(box.Band[std::size_t(k)], to.Band[std::size_t(k)]);
        if (kind == BandChange::None) {
            ++k;
            continue;
        }
        const int limit = kind == BandChange::Record ? MaxBandsPerRequest : BandTotal;
        int count = 1;
        while (k + count < BandTotal && count < limit &&
               ChangeOf(box.Band[std::size_t(k + count)], to.Band[std::size_t(k + count)]) == kind)
            ++count;
        const bool ok = kind == BandChange::Record ? SendPeqBands(std::uint8_t(k), std::uint8_t(count))
                                                   : SendEqBypass(std::uint8_t(k), std::uint8_t(count));
        if (!ok)
            return false;
        k += count;
    }
    return true;
}

} // namespace ktv
