#pragma once
// What import, export and fit share: one file and the channel to work on.

#include "../Command.h"

namespace ktv::cli {

// The channel these commands work on, by name.
constexpr Option ChannelOption{nullptr, "--channel", "NAME", Synopsis | Brief};

// Checks that the command was given one file and a channel, which it puts
// in `channel`; ExitOk, or the exit status of the refusal it reported.
int FileAndChannel(Context& cx, const Arguments& a, const char* noFile, EqChannel& channel);

} // namespace ktv::cli
