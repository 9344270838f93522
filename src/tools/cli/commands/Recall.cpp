// recall: the box takes a slot's settings; they are read back.

#include "../Command.h"

#include "params/Commands.h"

namespace ktv::cli {

extern const Command RecallCommand{
    .Name = "recall",
    .Summaries = {"make the box recall slot N (1..8) and read it back"},
    .Options = {Free("N"), {"-o", "--output", "FILE.dap", Synopsis | Optional}},
    .MostWords = 1,
    .Description = R"(Makes the box recall slot N (1..8) into its current settings, waits
100 ms and reads the whole state back; with -o, writes it to FILE.dap.
)",
    .Run = [](Context& cx, const Arguments& a) {
        const std::string slotText = a.Free.empty() ? "" : a.Free[0];
        const std::string& out = a.Value("--output");
        const auto slot = ParseSlot(slotText);
        if (!slot)
            return Refuse(cx, a, slotText.empty() ? "recall needs one slot number"
                                                  : "the slot must be 1..8, not '" + slotText + "'");
        // The box's settings would change and the result be lost.
        if (!out.empty() && !OutputWritable(cx, out))
            return ExitUsage;
        LoadDefaults();
        return WithBox(cx, [&] {
            ReadAndJournal(cx, "recall " + slotText);
            const bool ok = RecallSlot(*slot) == SlotOutcome::Ok;
            Ui().ShowMessage(ok ? "Reset factory mode Ok!" : "Reset factory mode fault!");
            if (!ok)
                return ExitFailed;
            if (!out.empty() && !SaveImage(cx, out))
                return ExitUsage;
            return ExitOk;
        });
    },
};

} // namespace ktv::cli
