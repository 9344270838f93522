#pragma once
// Names and readable renderings shared by ktvtune-box and ktvtune-cli.

#include "params/Gloable.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ktv::tools {

// A command given by name (case-insensitive) or as a number (0x20, 32).
std::optional<std::uint8_t> ParseCommand(std::string_view text);

const char* FilterTypeName(std::uint8_t flags);
const char* ChannelName(EqChannel channel);
// The channel whose band group holds band k.
EqChannel ChannelOfBand(int k);

// The command and its fields as a person reads them, from a received output
// report (size bytes, normally 65).
std::string DescribeRequest(const std::uint8_t* report, std::size_t size);

} // namespace ktv::tools
