#pragma once
// What each role may ask of a box, by the box's own command code: the agent
// checks every request here, so a user who gets a request past the broker's
// ACL under another topic still gains nothing.

#include "device/HidPlatform.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ktv::venue {

// The master volumes staff may set in a room, as the technician left them.
struct VolumeLimits {
    std::uint8_t Mic = 255, Music = 255, Effect = 255;
};

// Empty when the role may send this report; otherwise why not, for the user.
std::optional<std::string> Refusal(const std::string& role, const Report& report, const VolumeLimits& limits);

// Whether a request only reads the box (nothing in it changes).
bool OnlyReads(const Report& report);

// Empty when the report is a well-formed request frame; otherwise what is wrong.
std::optional<std::string> FrameFault(const Report& report);

// Whole changes by name ("write", "recall", "restore", "store", "limits"):
// empty when the role may make them.
std::optional<std::string> WholeRefusal(const std::string& role, const std::string& op);

// Hex text of bytes and back (the requests and replies are JSON).
std::string Hex(const std::uint8_t* data, std::size_t size);
bool FromHex(const std::string& text, std::uint8_t* out, std::size_t size);
std::optional<std::string> HexBytes(const std::string& text); // any length; nullopt when not hex

} // namespace ktv::venue
