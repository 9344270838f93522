// import: a filter file onto a channel's bands, into a preset or the box.

#include "Channel.h"

#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "params/Commands.h"

namespace ktv::cli {

extern const Command ImportCommand{
    .Name = "import",
    .Summaries = {"put a {filter-readers} filter file onto a channel"},
    .Options = {
        Free("FILE"),
        ChannelOption,
        {nullptr, "--preset", "IN.dap", Synopsis | Brief | Optional},
        {"-o", "--output", "OUT.dap", Synopsis | Brief | Optional},
    },
    .Description = R"(Puts the filters of a {filter-readers} filter file onto the
channel's bands (NAME: MIC, MUSIC, EFFECT, MAIN, CENTER, SUB, SRS) and
prints on stderr what became of every filter line. The image starts from
IN.dap, or from the defaults. With -o the result is written to OUT.dap and
no box is needed; without it the channel's bands are sent to the box.
)",
    .Run = [](Context& cx, const Arguments& a) {
        EqChannel channel{};
        if (const int refused = FileAndChannel(cx, a, "a file is needed", channel))
            return refused;
        const std::string &file = a.Free[0], &preset = a.Value("--preset"), &out = a.Value("--output");
        LoadDefaults();
        DapBytes presetBytes{};
        if (!preset.empty() && !LoadPresetOrSay(cx, preset, presetBytes))
            return ExitUsage;
        FilterFile filters;
        ImportPlan plan;
        std::string why;
        if (!ReadFilterFile(file, filters, &why) || !PlanFilterImport(filters, channel, plan, &why)) {
            cx.Say("ktvtune-cli: %s: %s\n", file.c_str(), why.c_str());
            return ExitUsage;
        }
        for (const std::string& line : plan.Report)
            cx.Say("%s\n", line.c_str());
        ApplyFilterImport(plan);
        const BandGroup group = GroupOf(channel);
        if (!out.empty())
            return SaveChannel(cx, out, preset.empty() ? nullptr : &presetBytes, group) ? ExitOk : ExitUsage;
        if (cx.ImportOnRoom)
            return cx.ImportOnRoom(channel, EncodeDap());
        const DspParamsImage imported = DspParams;
        return WithBox(cx, [&] {
            ReadAndJournal(cx, "import");
            DspParams = imported;
            return SendBandRun(std::uint8_t(group.FirstBand), std::uint8_t(group.BandCount)) ? ExitOk : ExitFailed;
        });
    },
};

} // namespace ktv::cli
