#include "PresetJson.h"

#include "common/ToolText.h"
#include "params/Commands.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>

namespace ktv::cli {

namespace {

using Json = nlohmann::ordered_json;

// Band values come from tenths: shown to one decimal, without a trailing
// ".0" (six significant digits would round a 123456.7 Hz corner to 123457).
Json Tenths(float value)
{
    const auto tenths = std::int64_t(std::llround(double(value) * 10));
    if (tenths % 10 == 0)
        return tenths / 10;
    return double(tenths) / 10;
}

Json Document(const DspParamsImage& p)
{
    Json j = {{"MicVol", p.MicVol},       {"MusicVol", p.MusicVol},           {"EffectVol", p.EffectVol},
              {"Mute", p.Mute},           {"Delay", p.Delay},                 {"Pitch", p.Pitch},
              {"Fbx", p.Fbx},             {"Input", p.Input},                 {"ReservedWord", p.ReservedWord},
              {"MaxVol", p.MaxVol},       {"ReservedBytes", p.ReservedBytes}, {"NoiseGate", p.NoiseGate}};
    Json& mix = j["OutMix"] = Json::array();
    for (const OutputMixParams& m : p.OutMix)
        mix.push_back({{"MicVol", m.MicVol}, {"MusicVol", m.MusicVol}, {"EchoVol", m.EchoVol}, {"ReverbVol", m.ReverbVol}});
    Json& dyn = j["Dyn"] = Json::array();
    for (const DynamicsParams& x : p.Dyn)
        dyn.push_back({{"Threshold", x.Threshold}, {"Attack", x.Attack}, {"Release", x.Release}, {"Ratio", x.Ratio}});
    const ReverbParams& r = p.Reverb;
    j["Reverb"] = {{"Word1", r.Word1}, {"Word2", r.Word2}, {"EarlyLate", r.EarlyLate},
                   {"Byte1", r.Byte1}, {"PreDelay", r.PreDelay}, {"Byte2", r.Byte2},
                   {"Time", r.Time},   {"Damp", r.Damp},         {"Byte3", r.Byte3}};
    const EchoParams& e = p.Echo;
    j["Echo"] = {{"Word1", e.Word1},   {"Word2", e.Word2}, {"PreDelay", e.PreDelay}, {"Byte1", e.Byte1},
                 {"Delay", e.Delay},   {"Word3", e.Word3}, {"Repeat", e.Repeat},     {"Byte2", e.Byte2},
                 {"Damp", e.Damp},     {"Byte3", e.Byte3}, {"Byte4", e.Byte4},       {"Byte5", e.Byte5}};
    Json& bands = j["Band"] = Json::array();
    for (int k = 0; k < BandTotal; ++k) {
        const PeqBand& b = p.Band[std::size_t(k)];
        bands.push_back({{"Band", k},
                         {"Channel", tools::ChannelName(tools::ChannelOfBand(k))},
                         {"Type", tools::FilterTypeName(b.Flags)},
                         {"Fc", Tenths(b.Fc)},
                         {"Q", Tenths(b.Q)},
                         {"Gain", Tenths(b.Gain)},
                         {"On", (b.Flags & FlagBandOn) != 0},
                         {"ChannelEqOn", (b.Flags & FlagChannelEqOn) != 0},
                         {"Flags", b.Flags}});
    }
    return j;
}

// One line, with a space after each comma and colon.
std::string Inline(const Json& v)
{
    if (!v.is_structured())
        return v.dump();
    std::string text = v.is_object() ? "{" : "[";
    const char* separator = "";
    for (const auto& item : v.items()) {
        text += separator;
        if (v.is_object())
            text += Json(item.key()).dump() + ": ";
        text += Inline(item.value());
        separator = ", ";
    }
    return text + (v.is_object() ? "}" : "]");
}

} // namespace

std::string PresetJson(const DspParamsImage& image)
{
    // A field a line; a list of records (the mixes, the dynamics, the bands)
    // a record a line.
    const Json doc = Document(image);
    std::string text = "{";
    const char* separator = "\n";
    for (const auto& [name, value] : doc.items()) {
        text += separator + std::string("  ") + Json(name).dump() + ": ";
        separator = ",\n";
        if (!value.is_array() || value.empty() || !value.front().is_object()) {
            text += Inline(value);
            continue;
        }
        const char* between = "[\n";
        for (const Json& record : value) {
            text += between + std::string("    ") + Inline(record);
            between = ",\n";
        }
        text += "\n  ]";
    }
    return text + "\n}\n";
}

} // namespace ktv::cli
