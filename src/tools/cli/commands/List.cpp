// list: every box found, one a line.

#include "../Command.h"

#include "device/HidPro.h"
#include "device/platform/PlatformHelpers.h"

namespace ktv::cli {

extern const Command ListCommand{
    .Name = "list",
    .Summaries = {"list every box found: number, identifier and path"},
    .Description = R"(Lists every box found (real and virtual), one a line: its number, its
identifier and its path, separated by tabs. Any of the three picks the box
for --device.
)",
    .Run = [](Context& cx, const Arguments& a) {
        if (!a.Free.empty())
            return Refuse(cx, a, "list takes no arguments");
        Hid().SetPlatform(&cx.Platform);
        const std::vector<HidInterface> boxes = Hid().ListBoxes();
        for (std::size_t n = 0; n < boxes.size(); ++n)
            cx.Print("%zu\t%s\t%s\n", n + 1, boxes[n].InstanceId.c_str(), boxes[n].Path.c_str());
        if (boxes.empty()) {
            cx.Say("no box found\n");
            // Virtual boxes in a directory others could tamper with are ignored;
            // say so, or the user is left guessing why a running box is missing.
            std::string why;
            if (!cx.VirtualBoxDir.empty() && !platform::EnsureVirtualBoxDirectory(cx.VirtualBoxDir, &why))
                cx.Say("ktvtune-cli: virtual boxes ignored: %s\n", why.c_str());
            return ExitFailed;
        }
        return ExitOk;
    },
};

} // namespace ktv::cli
