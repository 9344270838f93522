#pragma once
// What the virtual box does with each command: one rule per command, looked
// up by the payload's first byte.

#include "sim/VirtualBox.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ktv {

struct BoxAnswer {
    bool Ok = false;                   // false: refused, no reply
    std::vector<std::uint8_t> Payload; // the reply payload
    std::string Note;                  // why it was refused, or what the box made of it
};

// Applies the rule of the payload's command to the box's settings, slots and
// link; `length` is the frame's length byte, already checked.
BoxAnswer ApplyRule(VirtualBox& box, const std::uint8_t* payload, std::size_t length);

} // namespace ktv
