// write: a preset over what the box holds, to one box or to every box.

#include "../Command.h"

#include "device/HidPro.h"
#include "params/Commands.h"

namespace ktv::cli {

extern const Command WriteCommand{
    .Name = "write",
    .Summaries = {"send the preset in FILE.dap to the box (--all: to every box)"},
    .Options = {Free("FILE.dap"), {nullptr, "--all", nullptr, Synopsis | Optional}},
    .Description = R"(Reads the box, puts the preset over what it read and sends the whole
image back (nine requests): the master volumes, mute, pitch and input,
which a preset does not carry, keep the box's values. A box that cannot
be read is left alone. A file that is missing or not a valid preset is
reported and nothing is sent.
With --all, does so for every box found, one after the other, and prints
one line per box: number, identifier and outcome; the exit status is 1
if any box failed.
)",
    .Run = [](Context& cx, const Arguments& a) {
        const std::vector<std::string>& files = a.Free;
        const bool all = a.Flag("--all");
        if (files.size() != 1)
            return Refuse(cx, a, "write needs exactly one FILE.dap");
        if (all && !cx.WantedBox.empty())
            return Refuse(cx, a, "--all and --device exclude each other");
        DapBytes preset{};
        if (const DapReadError error = LoadDapFile(files[0], preset); error != DapReadError::None) {
            cx.Say("ktvtune-cli: %s: %s\n", files[0].c_str(), DapReadErrorText(error));
            return ExitUsage;
        }
        std::string outcome;
        auto writeAll = [&] {
            // The preset goes over what this box holds, never over the defaults:
            // those would mute the room.
            LoadDefaults();
            if (!ReadAllFromDevice()) {
                outcome = "Read dsp fault!";
                cx.Say("ktvtune-cli: the box could not be read, so nothing was written to it\n");
                return ExitFailed;
            }
            Journal(cx, "write");
            (void)ApplyDap(preset.data(), preset.size());
            const bool ok = WriteAllToDevice();
            outcome = ok ? "Write dsp ok!" : "Write dsp fault!";
            Ui().ShowMessage(outcome);
            return ok ? ExitOk : ExitFailed;
        };
        if (!all)
            return WithBox(cx, writeAll);

        // The list is taken once: a box that arrives meanwhile waits for the next run.
        Hid().SetPlatform(&cx.Platform);
        const std::vector<HidInterface> boxes = Hid().ListBoxes();
        if (boxes.empty()) {
            cx.Say("no box found\n");
            return ExitFailed;
        }
        int status = ExitOk;
        for (std::size_t n = 0; n < boxes.size(); ++n) {
            // Every box gets the same image; what the previous one answered stays out.
            outcome = "Connect:no!";
            cx.WantedBox = boxes[n].Path;
            if (WithBox(cx, writeAll) != ExitOk)
                status = ExitFailed;
            cx.Print("%zu\t%s\t%s\n", n + 1, boxes[n].InstanceId.c_str(), outcome.c_str());
            std::fflush(cx.Out);
        }
        return status;
    },
};

} // namespace ktv::cli
