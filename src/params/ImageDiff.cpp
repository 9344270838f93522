#include "params/ImageDiff.h"

#include "params/Commands.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <functional>

namespace ktv {
namespace {

// The command that carries a field to the box. System carries every field of
// the groups before it as well, and is the only one for the reserved fields.
enum class SendGroup : std::uint8_t {
    MasterVolume,
    MaxVolume,
    Mute,
    Delay,
    Pitch,
    Fbx,
    Input,
    NoiseGate,
    OutputMix,
    Dynamics,
    Echo,
    Reverb,
    System,
    Band,
};
constexpr std::size_t SendGroupCount = std::size_t(SendGroup::Band);
constexpr std::size_t MaxGroupIndex = 5;

enum class Shown : std::uint8_t { Number, Decimal, Type, YesNo, Mix, Input };

struct Field {
    std::string Owner; // "MIC band 3", "Echo", "Mute"
    std::string What;  // "gain", "delay", "MAIN L"
    bool Band = false; // named "Gain of MIC band 3" in undo items
    SendGroup Group = SendGroup::System;
    int Index = 0; // dynamics, mix group, noise gate or band index
    Shown Show = Shown::Number;
    std::function<double(const DspParamsImage&)> Get;

    std::string Name() const { return What.empty() ? Owner : Owner + " " + What; }
};

constexpr std::array<const char*, OutputLineCount> LineNames{"MAIN L", "MAIN R", "CENTER", "SUB", "SRS L", "SRS R"};
constexpr std::array<const char*, DynamicsCount> DynamicsNames{"MIC", "MAIN", "CENTER", "SUB", "SRS"};
constexpr std::array<const char*, 7> TypeNames{"Low Pass", "High Pass", "Bell", "Low Shelf", "High Shelf", "Band Pass", "Notch"};
constexpr std::array<const char*, 6> InputNames{"AUX", "BGM", "BT", "UDISK", "OPT", "COX"};

std::vector<Field> BuildFields()
{
    std::vector<Field> t;
    auto add = [&t](std::string owner, std::string what, SendGroup group, int index, Shown show,
                    std::function<double(const DspParamsImage&)> get) {
        t.push_back({std::move(owner), std::move(what), false, group, index, show, std::move(get)});
    };
    using D = const DspParamsImage&;
    using G = SendGroup;
    add("Mic", "volume", G::MasterVolume, 0, Shown::Number, [](D d) { return d.MicVol; });
    add("Music", "volume", G::MasterVolume, 0, Shown::Number, [](D d) { return d.MusicVol; });
    add("Effect", "volume", G::MasterVolume, 0, Shown::Number, [](D d) { return d.EffectVol; });
    add("Mic", "max volume", G::MaxVolume, 0, Shown::Number, [](D d) { return d.MaxVol[0]; });
    add("Music", "max volume", G::MaxVolume, 0, Shown::Number, [](D d) { return d.MaxVol[1]; });
    for (std::size_t i = 2; i < 7; ++i)
        add("Max volume", std::to_string(i + 1), G::MaxVolume, 0, Shown::Number, [i](D d) { return d.MaxVol[i]; });
    for (std::size_t i = 0; i < OutputLineCount; ++i)
        add("Mute", LineNames[i], G::Mute, 0, Shown::YesNo, [i](D d) { return (d.Mute >> i) & 1; });
    add("Mute", "bits 6-7", G::Mute, 0, Shown::Number, [](D d) { return d.Mute >> 6; });
    for (std::size_t i = 0; i < OutputLineCount; ++i)
        add("Delay", LineNames[i], G::Delay, 0, Shown::Number, [i](D d) { return d.Delay[i]; });
    add("Pitch", "", G::Pitch, 0, Shown::Number, [](D d) { return d.Pitch; });
    add("Feedback suppression", "", G::Fbx, 0, Shown::Number, [](D d) { return d.Fbx; });
    add("Music", "input", G::Input, 0, Shown::Input, [](D d) { return d.Input; });
    add("MIC", "noise gate", G::NoiseGate, 0, Shown::Number, [](D d) { return d.NoiseGate[0]; });
    add("Noise gate", "2", G::NoiseGate, 1, Shown::Number, [](D d) { return d.NoiseGate[1]; });
    for (int i = 0; i < DynamicsCount; ++i) {
        const std::string owner = std::string(DynamicsNames[std::size_t(i)]) + " limiter";
        const auto dyn = [i](D d) -> const DynamicsParams& { return d.Dyn[std::size_t(i)]; };
        add(owner, "threshold", G::Dynamics, i, Shown::Number, [dyn](D d) { return dyn(d).Threshold; });
        add(owner, "attack", G::Dynamics, i, Shown::Number, [dyn](D d) { return dyn(d).Attack; });
        add(owner, "release", G::Dynamics, i, Shown::Number, [dyn](D d) { return dyn(d).Release; });
        add(owner, "ratio", G::Dynamics, i, Shown::Number, [dyn](D d) { return dyn(d).Ratio; });
    }
    for (int g = 0; g < OutputGroupCount; ++g) {
        const std::string owner = EqChannelName(EqChannel(g + 3));
        const auto mix = [g](D d) -> const OutputMixParams& { return d.OutMix[std::size_t(g)]; };
        add(owner, "mic level", G::OutputMix, g, Shown::Mix, [mix](D d) { return mix(d).MicVol; });
        add(owner, "music level", G::OutputMix, g, Shown::Mix, [mix](D d) { return mix(d).MusicVol; });
        add(owner, "echo level", G::OutputMix, g, Shown::Mix, [mix](D d) { return mix(d).EchoVol; });
        add(owner, "reverb level", G::OutputMix, g, Shown::Mix, [mix](D d) { return mix(d).ReverbVol; });
    }
    add("Echo", "pre-delay", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.PreDelay; });
    add("Echo", "delay", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Delay; });
    add("Echo", "repeat", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Repeat; });
    add("Echo", "damp", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Damp; });
    add("Echo", "word 1", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Word1; });
    add("Echo", "word 2", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Word2; });
    add("Echo", "word 3", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Word3; });
    add("Echo", "byte 1", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Byte1; });
    add("Echo", "byte 2", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Byte2; });
    add("Echo", "byte 3", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Byte3; });
    add("Echo", "byte 4", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Byte4; });
    add("Echo", "byte 5", G::Echo, 0, Shown::Number, [](D d) { return d.Echo.Byte5; });
    add("Reverb", "pre-delay", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.PreDelay; });
    add("Reverb", "early/late", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.EarlyLate; });
    add("Reverb", "time", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Time; });
    add("Reverb", "damp", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Damp; });
    add("Reverb", "word 1", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Word1; });
    add("Reverb", "word 2", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Word2; });
    add("Reverb", "byte 1", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Byte1; });
    add("Reverb", "byte 2", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Byte2; });
    add("Reverb", "byte 3", G::Reverb, 0, Shown::Number, [](D d) { return d.Reverb.Byte3; });
    add("Reserved", "word", G::System, 0, Shown::Number, [](D d) { return d.ReservedWord; });
    for (std::size_t i = 0; i < 6; ++i)
        add("Reserved", "byte " + std::to_string(i + 1), G::System, 0, Shown::Number,
            [i](D d) { return d.ReservedBytes[i]; });

    for (int c = 0; c < EqChannelCount; ++c) {
        const BandGroup group = BandGroups[std::size_t(c)];
        for (int i = 0; i < group.BandCount; ++i) {
            const std::size_t k = std::size_t(group.FirstBand + i);
            const std::string owner = std::string(EqChannelName(EqChannel(c))) + " band " + std::to_string(i + 1);
            auto band = [&](std::string what, Shown show, std::function<double(const PeqBand&)> get) {
                add(owner, std::move(what), G::Band, int(k), show, [k, get](D d) { return get(d.Band[k]); });
                t.back().Band = true;
            };
            band("type", Shown::Type, [](const PeqBand& b) { return b.Flags & FlagTypeMask; });
            band("Fc", Shown::Decimal, [](const PeqBand& b) { return b.Fc; });
            band("Q", Shown::Decimal, [](const PeqBand& b) { return b.Q; });
            band("gain", Shown::Decimal, [](const PeqBand& b) { return b.Gain; });
            band("bypass", Shown::YesNo, [](const PeqBand& b) { return (b.Flags & FlagBandOn) == 0; });
            band("EQ bypass", Shown::YesNo, [](const PeqBand& b) { return (b.Flags & FlagChannelEqOn) == 0; });
            band("flag bits 4-5", Shown::Number, [](const PeqBand& b) { return (b.Flags >> 4) & 3; });
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
        return n >= 0 && std::size_t(n) < TypeNames.size() ? TypeNames[std::size_t(n)] : "type " + std::to_string(n);
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

bool SendGroupCommand(SendGroup group, int index)
{
    switch (group) {
    case SendGroup::MasterVolume: return SendMasterVolume();
    case SendGroup::MaxVolume: return SendMaxVolume();
    case SendGroup::Mute: return SendMute();
    case SendGroup::Delay: return SendDelay();
    case SendGroup::Pitch: return SendPitch();
    case SendGroup::Fbx: return SendFbx();
    case SendGroup::Input: return SendInput();
    case SendGroup::NoiseGate: return SendNoiseGate(std::uint8_t(index));
    case SendGroup::OutputMix: return SendOutputMix(std::uint8_t(index));
    case SendGroup::Dynamics: return SendDynamics(std::uint8_t(index));
    case SendGroup::Echo: return SendEcho();
    case SendGroup::Reverb: return SendReverb();
    case SendGroup::System: return SendSystem();
    case SendGroup::Band: break;
    }
    return false;
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

bool SendChanges(const DspParamsImage& box)
{
    const DspParamsImage& to = DspParams;
    std::array<std::array<bool, MaxGroupIndex + 1>, SendGroupCount> due{};
    for (const Field& f : Fields())
        if (f.Group != SendGroup::Band && !Same(f, box, to))
            due[std::size_t(f.Group)][std::size_t(f.Index)] = true;

    // System carries the volumes, mute, delays, pitch, FBX, input, noise
    // gates and mix too: when it must go, those need no command of their own.
    if (due[std::size_t(SendGroup::System)][0])
        for (auto g : {SendGroup::MasterVolume, SendGroup::MaxVolume, SendGroup::Mute, SendGroup::Delay,
                       SendGroup::Pitch, SendGroup::Fbx, SendGroup::Input, SendGroup::NoiseGate, SendGroup::OutputMix})
            due[std::size_t(g)] = {};
    for (std::size_t g = 0; g < SendGroupCount; ++g)
        for (std::size_t i = 0; i <= MaxGroupIndex; ++i)
            if (due[g][i] && !SendGroupCommand(SendGroup(g), int(i)))
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
