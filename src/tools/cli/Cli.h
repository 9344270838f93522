#pragma once
// ktvtune-cli's command line: picks the command, checks the words before it
// and runs it in `cx`. Returns the exit status.

#include "Context.h"

namespace ktv::cli {

int RunCommandLine(Context& cx, int argc, const char* const* argv);

} // namespace ktv::cli
