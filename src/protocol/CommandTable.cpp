#include "protocol/CommandTable.h"

#include <algorithm>
#include <cctype>

namespace ktv {

static_assert(ReplyLength(DspCommand::ReadSystem) == SystemPayloadSize);
static_assert(RequestLength(DspCommand::PeqBands, MaxBandsPerRequest) == 57);
static_assert(RequestLength(DspCommand::EqBypass, BandTotal) <= MaxPayloadLength);

const char* CommandName(std::uint8_t code)
{
    const CommandInfo* c = FindCommand(code);
    return c ? c->Name : nullptr;
}

std::optional<DspCommand> CommandByName(std::string_view name)
{
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    for (const CommandInfo& c : CommandTable) {
        const std::string_view n = c.Name;
        if (std::equal(n.begin(), n.end(), name.begin(), name.end(), same))
            return c.Command;
    }
    return std::nullopt;
}

} // namespace ktv
