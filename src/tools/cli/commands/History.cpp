// history: the box's states saved before each whole change.

#include "../Command.h"

#include "device/HidPro.h"
#include "presets/BoxJournal.h"

namespace ktv::cli {

extern const Command HistoryCommand{
    .Name = "history",
    .Summaries = {"list the box's states saved before each whole change"},
    .Description = R"(Lists the states of the box (--device, or the first box) saved before each
whole change, newest first, one a line: number, time, what came after it,
and the file. --device may also name by its identifier a box not present.
)",
    .Run = [](Context& cx, const Arguments& a) {
        if (!a.Free.empty())
            return Refuse(cx, a, "history takes no arguments");
        const auto id = ChosenIdentifier(cx);
        if (!id) {
            cx.Say("no box found\n");
            return ExitFailed;
        }
        const std::vector<JournalEntry> entries = BoxJournal(*id).List();
        if (entries.empty())
            cx.Say("no saved states of %s\n", id->c_str());
        for (std::size_t n = 0; n < entries.size(); ++n)
            cx.Print("%zu\t%s\t%s\t%s\n", n + 1, entries[n].Time.c_str(), entries[n].After.c_str(),
                     entries[n].Path.c_str());
        return ExitOk;
    },
};

} // namespace ktv::cli
