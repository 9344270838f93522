#pragma once
// The virtual box's misbehaviours: each bends a well-formed reply the way a
// faulty box or a noisy line would.

#include "sim/VirtualBox.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ktv {

// Bends `reply` (a whole report) as `kind` does to a reply to `command`;
// returns the note for the log, or "" when the fault leaves this reply alone.
std::string InjectFault(VirtualBox::Fault kind, std::uint8_t command, std::vector<std::uint8_t>& reply);

} // namespace ktv
