// diff: every field that differs between two presets.

#include "../Command.h"

#include "params/ImageDiff.h"

namespace ktv::cli {

extern const Command DiffCommand{
    .Name = "diff",
    .Summaries = {"print every field that differs between two presets"},
    .Options = {Free("A.dap"), Free("B.dap")},
    .Description = R"(Prints one line per field that differs between the two presets: its
name, the value in A and the value in B, separated by tabs. No box is
needed. Exit status: 0 equal, 1 different, 2 a file is missing or bad.
)",
    .Run = [](Context& cx, const Arguments& given) {
        const std::vector<std::string>& args = given.Free;
        if (args.size() != 2)
            return Refuse(cx, given, "diff needs exactly two .dap files");
        DspParamsImage a, b;
        if (!LoadFileAsStored(cx, args[0], a) || !LoadFileAsStored(cx, args[1], b))
            return ExitUsage;
        const std::vector<ImageDifference> rows = DiffImages(a, b);
        for (const ImageDifference& row : rows)
            cx.Print("%s\t%s\t%s\n", row.Name.c_str(), row.Before.c_str(), row.After.c_str());
        return rows.empty() ? ExitOk : ExitFailed;
    },
};

} // namespace ktv::cli
