// diff: every field that differs between two presets.

#include "../Command.h"

#include "params/ImageDiff.h"

namespace ktv::cli {
namespace {

int Run(Context& cx, const Arguments& given)
{
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
}

constexpr Option Options[] = {Free("A.dap"), Free("B.dap")};
constexpr const char* Summaries[] = {"print every field that differs between two presets"};

} // namespace

extern const Command DiffCommand{
    "diff", Options, Summaries, false,
    "Prints one line per field that differs between the two presets: its\n"
    "name, the value in A and the value in B, separated by tabs. No box is\n"
    "needed. Exit status: 0 equal, 1 different, 2 a file is missing or bad.\n",
    Run};

} // namespace ktv::cli
