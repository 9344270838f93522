// store: the box keeps its current settings in a slot.

#include "../Command.h"

#include "params/Commands.h"

namespace ktv::cli {

extern const Command StoreCommand{
    .Name = "store",
    .Summaries = {"make the box store its current settings in slot N (1..8)"},
    .Options = {Free("N")},
    .Description = R"(Makes the box store its current settings in slot N (1..8).
)",
    .Run = [](Context& cx, const Arguments& a) {
        const std::vector<std::string>& args = a.Free;
        if (args.size() != 1)
            return Refuse(cx, a, "store needs one slot number");
        const auto slot = ParseSlot(args[0]);
        if (!slot)
            return Refuse(cx, a, "the slot must be 1..8, not '" + args[0] + "'");
        return WithBox(cx, [&] {
            const bool ok = SendFactoryMode(FactoryStore, *slot);
            Ui().ShowMessage(ok ? "Set factory mode ok!" : "Set factory mode fault!");
            return ok ? ExitOk : ExitFailed;
        });
    },
};

} // namespace ktv::cli
