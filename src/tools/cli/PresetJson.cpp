#include "PresetJson.h"

#include "common/ToolText.h"
#include "params/Commands.h"
#include "params/ImageFields.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

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

Json Value(ValueRef v)
{
    return std::visit([](auto* x) { return Json(*x); }, v);
}

// A plain value as it is; a record as an object of its members.
Json ElementJson(const ImageField& f, DspParamsImage& p, int i)
{
    if (!f.Members.front().Key)
        return Value(MemberRef(f, f.Members.front(), p, i));
    Json record = Json::object();
    for (const FieldMember& m : f.Members)
        record[m.Key] = Value(MemberRef(f, m, p, i));
    return record;
}

Json Document(DspParamsImage p)
{
    // The settings in the order the preset file holds them: the System
    // block's fields, then the Effects block's.
    std::vector<const ImageField*> fields;
    for (const ImageField& f : ImageFields())
        fields.push_back(&f);
    std::stable_sort(fields.begin(), fields.end(),
                     [](const ImageField* a, const ImageField* b) { return std::pair{a->Block, a->At} < std::pair{b->Block, b->At}; });
    Json j = Json::object();
    for (const ImageField* f : fields) {
        if (f->Count == 1) {
            j[f->Key] = ElementJson(*f, p, 0);
            continue;
        }
        Json& list = j[f->Key] = Json::array();
        for (int i = 0; i < f->Count; ++i)
            list.push_back(ElementJson(*f, p, i));
    }
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
