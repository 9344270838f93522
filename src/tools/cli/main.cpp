// ktvtune-cli: the tuning core for scripts. Lists boxes, reads or writes the
// whole image through .dap files, stores and recalls the box's slots, and
// shows a .dap as JSON. Messages and status texts are the window's, on stderr.
// The commands are in commands/, one a file; this is the console around them.

#include "Cli.h"

#include "common/Console.h"
#include "device/platform/SystemHidPlatform.h"

#include <unistd.h>

int main(int argc, char** argv)
{
    ktv::tools::PrepareConsole(argc, argv);
    // Made for every call: the fuzz target runs main many times in one process.
    static ktv::SystemHidPlatform platform;
    ktv::cli::Context cx(stdout, stderr, platform);
    cx.VirtualBoxDir = platform.VirtualBoxDir();
    cx.Terminal = isatty(0);
    cx.ErrTerminal = isatty(2);
    return ktv::cli::RunCommandLine(cx, argc, argv);
}
