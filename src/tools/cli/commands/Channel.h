#pragma once
// What import, export and fit share: one file and the channel to work on.

#include "../Command.h"

namespace ktv::cli {

// The one file and the channel the command works on; a refusal is
// reported and its exit status left in `status`.
bool FileAndChannel(Context& cx, const Arguments& a, const char* noFile, std::optional<EqChannel>& channel,
                    int& status);

} // namespace ktv::cli
