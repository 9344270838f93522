#include "common/ToolText.h"

#include "device/HidPlatform.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ktv::tools {
namespace {

struct CommandEntry {
    std::uint8_t Code;
    const char* Name;
};

constexpr std::array<CommandEntry, 21> Commands{{
    {0x01, "System"},      {0x02, "Effects"},      {0x1E, "Mute"},      {0x1F, "MasterVolume"},
    {0x20, "PeqBands"},    {0x21, "Fbx"},          {0x22, "Pitch"},     {0x23, "Input"},
    {0x24, "NoiseGate"},   {0x25, "EqBypass"},     {0x26, "Delay"},     {0x27, "Dynamics"},
    {0x28, "FactoryMode"}, {0x2A, "Link"},         {0x2C, "OutputMix"}, {0x2D, "MaxVolume"},
    {0x30, "Echo"},        {0x31, "Reverb"},       {0x81, "ReadSystem"}, {0x82, "ReadEffects"},
    {0xA0, "ReadPeqBands"},
}};

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

std::string Mix(std::uint8_t v)
{
    return Format("%s%d", v & MixSignBit ? "-" : "", v & MixLevelMask);
}

} // namespace

const char* CommandName(std::uint8_t code)
{
    for (const CommandEntry& c : Commands)
        if (c.Code == code)
            return c.Name;
    return nullptr;
}

std::optional<std::uint8_t> ParseCommand(std::string_view text)
{
    for (const CommandEntry& c : Commands) {
        const std::string_view name = c.Name;
        if (name.size() == text.size() &&
            std::equal(name.begin(), name.end(), text.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return c.Code;
    }
    const std::string s(text);
    char* end = nullptr;
    const long value = std::strtol(s.c_str(), &end, 0);
    if (!s.empty() && end && *end == '\0' && value >= 0 && value <= 255)
        return std::uint8_t(value);
    return std::nullopt;
}

const char* FilterTypeName(std::uint8_t flags)
{
    static constexpr const char* names[] = {"LowPass", "HighPass", "Bell", "LowShelf", "HighShelf", "BandPass", "Notch"};
    const unsigned type = flags & FlagTypeMask;
    return type < std::size(names) ? names[type] : "Unknown";
}

const char* ChannelName(EqChannel channel)
{
    static constexpr const char* names[] = {"MIC", "MUSIC", "EFFECT", "MAIN", "CENTER", "SUB", "SRS"};
    return names[std::size_t(channel)];
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
    if (size < 5)
        return "(short request)";
    const std::size_t length = std::min<std::size_t>(r[3], 60);
    const std::uint8_t* p = r.data() + 4;
    const char* name = CommandName(p[0]);
    std::string text = name ? name : Format("command 0x%02X", p[0]);

    switch (p[0]) {
    case 0x01: // System
        text += Format(" volumes=%u/%u/%u mute=0x%02X pitch=%d fbx=%u input=%u", p[1], p[2], p[3], p[4],
                       int(std::int8_t(p[22])), p[23], p[24]);
        text += " delays=";
        for (int i = 0; i < OutputLineCount; ++i)
            text += Format(i ? ",%u" : "%u", GetU16(p + 10 + 2 * i));
        text += " maxvol=";
        for (int i = 0; i < 7; ++i)
            text += Format(i ? ",%u" : "%u", p[27 + i]);
        text += Format(" gates=%d,%d", GetI16(p + 40), GetI16(p + 42));
        break;
    case 0x02: // Effects
        text += " dynamics=";
        for (int d = 0; d < DynamicsCount; ++d) {
            DynamicsParams dyn;
            DecodeDynamics(p + 1 + DynamicsWireSize * std::size_t(d), dyn);
            text += Format(d ? ",%d/%u/%u/%u" : "%d/%u/%u/%u", dyn.Threshold, dyn.Attack, dyn.Release, dyn.Ratio);
        }
        break;
    case 0x1E:
        text += Format(" mute=0x%02X", p[1]);
        break;
    case 0x1F:
        text += Format(" mic=%u music=%u effect=%u", p[1], p[2], p[3]);
        break;
    case 0x20: { // PeqBands
        text += Format(" first=%u count=%u", p[1], p[2]);
        const std::size_t count = std::min<std::size_t>(p[2], (length > 3 ? length - 3 : 0) / BandRecordSize);
        for (std::size_t j = 0; j < count; ++j)
            text += Band(int(p[1] + j), p + 3 + BandRecordSize * j);
        break;
    }
    case 0x21:
        text += Format(" fbx=%u", p[1]);
        break;
    case 0x22:
        text += Format(" pitch=%d", int(std::int8_t(p[1])));
        break;
    case 0x23:
        text += Format(" input=%u", p[1]);
        break;
    case 0x24:
        text += Format(" gate=%u level=%d", p[1], GetI16(p + 2));
        break;
    case 0x25:
        text += Format(" first=%u count=%u flags=", p[1], p[2]);
        for (std::size_t j = 0; j < std::min<std::size_t>(p[2], 57); ++j)
            text += Format(j ? ",%02X" : "%02X", p[3 + j]);
        break;
    case 0x26:
        text += " delays=";
        for (int i = 0; i < OutputLineCount; ++i)
            text += Format(i ? ",%u" : "%u", GetU16(p + 1 + 2 * i));
        break;
    case 0x27: {
        DynamicsParams dyn;
        DecodeDynamics(p + 2, dyn);
        text += Format(" index=%u threshold=%d attack=%u release=%u ratio=%u", p[1], dyn.Threshold, dyn.Attack,
                       dyn.Release, dyn.Ratio);
        break;
    }
    case 0x28:
        text += Format(" mode=%u (%s) slot=%u", p[1], p[1] == 1 ? "store" : p[1] == 2 ? "recall" : "unknown", p[2]);
        break;
    case 0x2A:
        text += Format(" on=%u", p[1]);
        break;
    case 0x2C:
        text += Format(" group=%u mic=%s music=%s echo=%s reverb=%s", p[1], Mix(p[2]).c_str(), Mix(p[3]).c_str(),
                       Mix(p[4]).c_str(), Mix(p[5]).c_str());
        break;
    case 0x2D:
        text += " maxvol=";
        for (int i = 0; i < 7; ++i)
            text += Format(i ? ",%u" : "%u", p[1 + i]);
        break;
    case 0x30: {
        EchoParams e;
        DecodeEcho(p + 1, e);
        text += Format(" predelay=%u delay=%u repeat=%u damp=%u", e.PreDelay, e.Delay, e.Repeat, e.Damp);
        break;
    }
    case 0x31: {
        ReverbParams rv;
        DecodeReverb(p + 1, rv);
        text += Format(" predelay=%u earlylate=%u time=%u damp=%u", rv.PreDelay, rv.EarlyLate, rv.Time, rv.Damp);
        break;
    }
    case 0xA0:
        text += Format(" first=%u count=%u", p[1], p[2]);
        break;
    default:
        break;
    }
    return text;
}

} // namespace ktv::tools
