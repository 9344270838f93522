// dump: a preset, or the box's state, as JSON.

#include "../Command.h"
#include "../PresetJson.h"

#include "params/Commands.h"

namespace ktv::cli {
namespace {

void PrintJson(Context& cx, const DspParamsImage& image) { std::fputs(PresetJson(image).c_str(), cx.Out); }

} // namespace

extern const Command DumpCommand{
    .Name = "dump",
    .Summaries = {"print the preset as JSON (no box needed)", "print the box's state as JSON"},
    .Options = {Free("FILE.dap"), {nullptr, "--box", nullptr, Synopsis | Brief | NewForm}},
    .Description = R"(Prints the preset, or with --box the state read from the box, as JSON on
stdout: every field by its name, and the 39 bands with channel, type, Fc,
Q, gain and on/off. A file needs no box; --box writes no file.
)",
    .Run = [](Context& cx, const Arguments& a) {
        const bool box = a.Flag("--box");
        if (a.Free.size() != (box ? 0u : 1u))
            return Refuse(cx, a, "dump needs exactly one FILE.dap, or --box");
        if (box) {
            LoadDefaults();
            return WithBox(cx, [&] {
                if (!ReadAllFromDevice()) {
                    Ui().ShowMessage("Read dsp fault!");
                    return ExitFailed;
                }
                PrintJson(cx, DspParams);
                return ExitOk;
            });
        }
        DspParamsImage image;
        if (!LoadFileAsStored(cx, a.Free[0], image))
            return ExitUsage;
        PrintJson(cx, image);
        return ExitOk;
    },
};

} // namespace ktv::cli
