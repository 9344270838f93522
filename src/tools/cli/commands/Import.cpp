// import: a filter file onto a channel's bands, into a preset or the box.

#include "Channel.h"

#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "params/Commands.h"

namespace ktv::cli {
namespace {

int Run(Context& cx, const Arguments& a)
{
    std::optional<EqChannel> channel;
    int status = ExitOk;
    if (!FileAndChannel(cx, a, "a file is needed", channel, status))
        return status;
    const std::string &file = a.Free[0], &preset = a.Value("--preset"), &out = a.Value("--output");
    LoadDefaults();
    DapBytes presetBytes{};
    if (!preset.empty() && !LoadPresetOrSay(cx, preset, presetBytes))
        return ExitUsage;
    FilterFile filters;
    ImportPlan plan;
    std::string why;
    if (!ReadFilterFile(file, filters, &why) || !PlanFilterImport(filters, *channel, plan, &why)) {
        cx.Say("ktvtune-cli: %s: %s\n", file.c_str(), why.c_str());
        return ExitUsage;
    }
    for (const std::string& line : plan.Report)
        cx.Say("%s\n", line.c_str());
    ApplyFilterImport(plan);
    const BandGroup group = GroupOf(*channel);
    if (!out.empty())
        return SaveChannel(cx, out, preset.empty() ? nullptr : &presetBytes, group) ? ExitOk : ExitUsage;
    const DspParamsImage imported = DspParams;
    return WithBox(cx, [&] {
        ReadAndJournal(cx, "import");
        DspParams = imported;
        return SendBandRun(std::uint8_t(group.FirstBand), std::uint8_t(group.BandCount)) ? ExitOk : ExitFailed;
    });
}

constexpr Option Options[] = {
    Free("FILE"),
    {nullptr, "--channel", "NAME", Synopsis | Brief},
    {nullptr, "--preset", "IN.dap", Synopsis | Brief | Optional},
    {"-o", "--output", "OUT.dap", Synopsis | Brief | Optional},
};
constexpr const char* Summaries[] = {"put a REW/Equalizer APO/AutoEq filter file onto a channel"};

} // namespace

extern const Command ImportCommand{
    "import", Options, Summaries, false,
    "Puts the filters of a REW, Equalizer APO or AutoEq filter file onto the\n"
    "channel's bands (NAME: MIC, MUSIC, EFFECT, MAIN, CENTER, SUB, SRS) and\n"
    "prints on stderr what became of every filter line. The image starts from\n"
    "IN.dap, or from the defaults. With -o the result is written to OUT.dap and\n"
    "no box is needed; without it the channel's bands are sent to the box.\n",
    Run};

} // namespace ktv::cli
