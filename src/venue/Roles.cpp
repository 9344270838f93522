#include "venue/Roles.h"

#include "protocol/CommandTable.h"

namespace ktv::venue {

namespace {

std::string NameOf(std::uint8_t code)
{
    const char* name = CommandName(code);
    return name ? name : "an unknown command";
}

} // namespace

std::optional<std::string> FrameFault(const Report& r)
{
    const std::size_t length = r[FrameLengthAt];
    if (r[FrameMarkerAt] != FrameMarker || length < 1 || length > MaxPayloadLength)
        return "the request is no box frame";
    if (Checksum(r + FramePayloadAt, length) != r[FramePayloadAt + length])
        return "the request's checksum is wrong";
    return std::nullopt;
}

bool OnlyReads(const Report& r)
{
    const std::uint8_t code = r[FramePayloadAt];
    return code == Code(DspCommand::ReadSystem) || code == Code(DspCommand::ReadEffects) ||
           code == Code(DspCommand::ReadPeqBands) || code == Code(DspCommand::Link);
}

std::optional<std::string> Refusal(const std::string& role, const Report& r, const VolumeLimits& limits)
{
    if (auto fault = FrameFault(r))
        return fault;
    if (role == "technician")
        return std::nullopt;
    const std::uint8_t code = r[FramePayloadAt];
    if (role != "staff")
        return "the role '" + role + "' may not use a box";
    if (OnlyReads(r))
        return std::nullopt;
    if (code == Code(DspCommand::MasterVolume)) {
        const std::uint8_t* v = r + FramePayloadAt + 1;
        const std::pair<const char*, std::uint8_t> asked[] = {{"mic", v[0]}, {"music", v[1]}, {"effect", v[2]}};
        const std::uint8_t most[] = {limits.Mic, limits.Music, limits.Effect};
        for (int i = 0; i < 3; ++i)
            if (asked[i].second > most[i])
                return "staff may set the " + std::string(asked[i].first) + " volume up to " +
                       std::to_string(most[i]) + " in this room, not " + std::to_string(asked[i].second);
        return std::nullopt;
    }
    if (code == Code(DspCommand::FactoryMode) && r[FramePayloadAt + 1] == FactoryRecall)
        return std::nullopt;
    return "staff may change only the master volumes and recall slots, not " + NameOf(code);
}

std::optional<std::string> WholeRefusal(const std::string& role, const std::string& op)
{
    if (role == "technician")
        return std::nullopt;
    if (role == "staff" && (op == "recall" || op == "history"))
        return std::nullopt;
    if (role == "staff")
        return "staff may change only the master volumes and recall slots, not " + op;
    return "the role '" + role + "' may not use a box";
}

std::string Hex(const std::uint8_t* data, std::size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

namespace {
int Digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

bool FromHex(const std::string& text, std::uint8_t* out, std::size_t size)
{
    if (text.size() != 2 * size)
        return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int hi = Digit(text[2 * i]), lo = Digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = std::uint8_t(hi * 16 + lo);
    }
    return true;
}

std::optional<std::string> HexBytes(const std::string& text)
{
    if (text.size() % 2)
        return std::nullopt;
    std::string bytes(text.size() / 2, '\0');
    if (!FromHex(text, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()))
        return std::nullopt;
    return bytes;
}

} // namespace ktv::venue
