#include "common/ToolText.h"

#include "params/ImageFields.h"
#include "protocol/CommandTable.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ktv::tools {
namespace {

std::string Format(const char* fmt, auto... args)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string Band(int k, const std::uint8_t* record)
{
    PeqBand band;
    DecodeBandRecord(record, band);
    return Format(" [%d %s %s %s %.1fHz Q%.1f %+.1fdB]", k, ChannelName(ChannelOfBand(k)),
                  band.Flags & FlagBandOn ? "on" : "off", FilterTypeName(band.Flags), double(band.Fc), double(band.Q),
                  double(band.Gain));
}

std::string U16List(const std::uint8_t* p, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += Format(i ? ",%u" : "%u", GetU16(p + 2 * i));
    return text;
}

std::string ByteList(const std::uint8_t* p, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += Format(i ? ",%u" : "%u", p[i]);
    return text;
}

std::string Mix(std::uint8_t v)
{
    return Format("%s%d", v & MixSignBit ? "-" : "", v & MixLevelMask);
}

// A settings command without its own rendering above: " Key=value" for each
// field it carries (" Key.Member=value" for a record's members).
std::string FieldsText(DspCommand command, const std::uint8_t* p)
{
    const CommandSpan* span = SpanOf(command);
    if (!span)
        return {};
    DspParamsImage image{};
    std::string text;
    const int index = span->Indexed ? p[IndexAt] : 0;
    if (index >= span->Count)
        return {};
    // The request's bytes back in their place in the block.
    std::array<std::uint8_t, MaxPayloadLength> block{};
    const std::size_t from = span->Indexed ? IndexedDataAt : 1;
    std::copy_n(p + from, span->Length, block.begin() + std::ptrdiff_t(span->At + span->Length * std::size_t(index)));
    for (const ImageField& f : ImageFields()) {
        if (f.Command != command)
            continue;
        TakeField(f, block.data() + f.At, image);
        for (int i = span->Indexed ? index : 0; i < (span->Indexed ? index + 1 : f.Count); ++i)
            for (const FieldMember& m : f.Members)
                text += Format(" %s%s%s=%d", f.Key, m.Key ? "." : "", m.Key ? m.Key : "", FieldValue(f, m, image, i));
    }
    return text;
}

} // namespace

std::optional<std::uint8_t> ParseCommand(std::string_view text)
{
    if (const auto command = CommandByName(text))
        return Code(*command);
    const std::string s(text);
    char* end = nullptr;
    const long value = std::strtol(s.c_str(), &end, 0);
    if (!s.empty() && end && *end == '\0' && value >= 0 && value <= 255)
        return std::uint8_t(value);
    return std::nullopt;
}

const char* FilterTypeName(std::uint8_t flags)
{
    const unsigned type = flags & FlagTypeMask;
    return type < FilterTypeTexts.size() ? FilterTypeTexts[type].Token : "Unknown";
}

const char* ChannelName(EqChannel channel)
{
    return EqChannelName(channel);
}

EqChannel ChannelOfBand(int k)
{
    for (int c = 0; c < EqChannelCount; ++c) {
        const BandGroup g = BandGroups[std::size_t(c)];
        if (k >= g.FirstBand && k < g.FirstBand + g.BandCount)
            return EqChannel(c);
    }
    return EqChannel::MIC;
}

std::string DescribeRequest(const std::uint8_t* report, std::size_t size)
{
    // A zero-padded copy, so a short or lying request never reads past its end.
    std::array<std::uint8_t, ReportSize + 64> r{};
    std::copy_n(report, std::min(size, ReportSize), r.begin());
    if (size <= FramePayloadAt)
        return "(short request)";
    const std::size_t length = std::min<std::size_t>(r[FrameLengthAt], MaxPayloadLength);
    const std::uint8_t* p = r.data() + FramePayloadAt;
    const char* name = CommandName(p[0]);
    std::string text = name ? name : Format("command 0x%02X", p[0]);

    switch (DspCommand(p[0])) {
    case DspCommand::System: {
        namespace at = SystemBlock;
        text += Format(" volumes=%u/%u/%u mute=0x%02X pitch=%d fbx=%u input=%u", p[at::MicVol], p[at::MusicVol],
                       p[at::EffectVol], p[at::Mute], int(std::int8_t(p[at::Pitch])), p[at::Fbx], p[at::Input]);
        text += " delays=" + U16List(p + at::Delay, OutputLineCount);
        text += " maxvol=" + ByteList(p + at::MaxVol, MaxVolumeCount);
        text += Format(" gates=%d,%d", GetI16(p + at::NoiseGate), GetI16(p + at::NoiseGate + 2));
        break;
    }
    case DspCommand::Effects:
        text += " dynamics=";
        for (int d = 0; d < DynamicsCount; ++d) {
            DynamicsParams dyn;
            DecodeDynamics(p + EffectsBlock::Dynamics + DynamicsWireSize * std::size_t(d), dyn);
            text += Format(d ? ",%d/%u/%u/%u" : "%d/%u/%u/%u", dyn.Threshold, dyn.Attack, dyn.Release, dyn.Ratio);
        }
        break;
    case DspCommand::Mute:
        text += Format(" mute=0x%02X", p[1]);
        break;
    case DspCommand::MasterVolume:
        text += Format(" mic=%u music=%u effect=%u", p[1], p[2], p[3]);
        break;
    case DspCommand::PeqBands: {
        text += Format(" first=%u count=%u", p[RunFirstAt], p[RunCountAt]);
        const std::size_t count =
            std::min<std::size_t>(p[RunCountAt], (length > RunDataAt ? length - RunDataAt : 0) / BandRecordSize);
        for (std::size_t j = 0; j < count; ++j)
            text += Band(int(p[RunFirstAt] + j), p + RunDataAt + BandRecordSize * j);
        break;
    }
    case DspCommand::Fbx:
        text += Format(" fbx=%u", p[1]);
        break;
    case DspCommand::Pitch:
        text += Format(" pitch=%d", int(std::int8_t(p[1])));
        break;
    case DspCommand::Input:
        text += Format(" input=%u", p[1]);
        break;
    case DspCommand::NoiseGate:
        text += Format(" gate=%u level=%d", p[IndexAt], GetI16(p + IndexedDataAt));
        break;
    case DspCommand::EqBypass:
        text += Format(" first=%u count=%u flags=", p[RunFirstAt], p[RunCountAt]);
        for (std::size_t j = 0; j < std::min<std::size_t>(p[RunCountAt], MaxPayloadLength - RunDataAt); ++j)
            text += Format(j ? ",%02X" : "%02X", p[RunDataAt + j]);
        break;
    case DspCommand::Delay:
        text += " delays=" + U16List(p + 1, OutputLineCount);
        break;
    case DspCommand::Dynamics: {
        DynamicsParams dyn;
        DecodeDynamics(p + IndexedDataAt, dyn);
        text += Format(" index=%u threshold=%d attack=%u release=%u ratio=%u", p[IndexAt], dyn.Threshold, dyn.Attack,
                       dyn.Release, dyn.Ratio);
        break;
    }
    case DspCommand::FactoryMode:
        text += Format(" mode=%u (%s) slot=%u", p[1],
                       p[1] == FactoryStore ? "store" : p[1] == FactoryRecall ? "recall" : "unknown", p[2]);
        break;
    case DspCommand::Link:
        text += Format(" on=%u", p[1]);
        break;
    case DspCommand::OutputMix: {
        const std::uint8_t* m = p + IndexedDataAt;
        text += Format(" group=%u mic=%s music=%s echo=%s reverb=%s", p[IndexAt], Mix(m[0]).c_str(),
                       Mix(m[1]).c_str(), Mix(m[2]).c_str(), Mix(m[3]).c_str());
        break;
    }
    case DspCommand::MaxVolume:
        text += " maxvol=" + ByteList(p + 1, MaxVolumeCount);
        break;
    case DspCommand::Echo: {
        EchoParams e;
        DecodeEcho(p + 1, e);
        text += Format(" predelay=%u delay=%u repeat=%u damp=%u", e.PreDelay, e.Delay, e.Repeat, e.Damp);
        break;
    }
    case DspCommand::Reverb: {
        ReverbParams rv;
        DecodeReverb(p + 1, rv);
        text += Format(" predelay=%u earlylate=%u time=%u damp=%u", rv.PreDelay, rv.EarlyLate, rv.Time, rv.Damp);
        break;
    }
    case DspCommand::ReadPeqBands:
        text += Format(" first=%u count=%u", p[RunFirstAt], p[RunCountAt]);
        break;
    default:
        text += FieldsText(DspCommand(p[0]), p);
        break;
    }
    return text;
}

} // namespace ktv::tools
