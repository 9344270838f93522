#pragma once
// ktvtune-cli on a venue's rooms: --venue FILE.venue --room ROOM runs a box
// command through the room's agent as it runs over USB; 'venue list' and
// 'venue demo'.

#include "Command.h"

namespace ktv::cli {

// Runs `command`: on the rooms --room names when --venue is given, else as usual.
int RunVenueAware(Context& cx, const Command& command, const Arguments& a);

int VenueList(Context& cx, const Arguments& a);
int VenueDemo(Context& cx, const Arguments& a);

} // namespace ktv::cli
