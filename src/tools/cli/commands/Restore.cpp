// restore: a state from the box's history written back to it.

#include "../Command.h"

#include "device/HidPro.h"
#include "params/Commands.h"
#include "presets/BoxJournal.h"

#include <charconv>

namespace ktv::cli {

extern const Command RestoreCommand{
    .Name = "restore",
    .Summaries = {"write the N-th state that 'history' lists back to the box"},
    .Options = {Free("N")},
    .Description = R"(Writes the N-th state that 'history' lists back to the box, volumes and
input included; the state the box held is saved first, as before any
whole change.
)",
    .Run = [](Context& cx, const Arguments& a) {
        if (a.Free.size() != 1)
            return Refuse(cx, a, "restore needs one number from 'history'");
        std::size_t n = 0;
        const std::string& text = a.Free[0];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < 1)
            return Refuse(cx, a, "the number must be 1 or more, not '" + text + "'");
        // The number and its state are checked against the history before
        // the box is opened: a wrong number sends nothing.
        const auto id = ChosenIdentifier(cx);
        DspParamsImage saved;
        if (id) {
            const std::vector<JournalEntry> entries = BoxJournal(*id).List();
            if (n > entries.size()) {
                cx.Say("ktvtune-cli: the box has %zu saved states, no %zu\n", entries.size(), n);
                return ExitUsage;
            }
            if (!LoadFileAsStored(cx, entries[n - 1].Path, saved))
                return ExitUsage;
        }
        return WithBox(cx, [&] {
            // The box opened is the one whose history was checked (a --device
            // that is no box present fails to open above).
            if (!id || Hid().OpenedId != *id) {
                cx.Say("ktvtune-cli: the box changed while its history was read\n");
                return ExitFailed;
            }
            ReadAndJournal(cx, "restore");
            DspParams = saved;
            const bool ok = WriteAllToDevice();
            Ui().ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
            return ok ? ExitOk : ExitFailed;
        });
    },
};

} // namespace ktv::cli
