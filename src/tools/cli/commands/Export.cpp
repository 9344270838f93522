// export: a channel's bands of a preset as filter text.

#include "Channel.h"

#include "interop/FilterDialects.h"
#include "interop/FilterText.h"
#include "params/Commands.h"

namespace ktv::cli {

extern const Command ExportCommand{
    .Name = "export",
    .Summaries = {"write a channel's bands as {filter-writers} filter text"},
    .Options = {Free("IN.dap"),
                ChannelOption,
                {nullptr, "--format", "FORMAT", Synopsis | Optional | Table,
                 "{filter-formats} (default rew); apo and autoeq\nstart with a Preamp line that keeps boosts from clipping"},
                {"-o", "--output", "FILE", Synopsis | Brief | Optional}},
    .Description = R"(Writes the channel's bands of the preset as {filter-writers}
filter text to FILE, or to stdout, with the values the box holds.
)",
    .Run = [](Context& cx, const Arguments& a) {
        EqChannel channel{};
        if (const int refused = FileAndChannel(cx, a, "a file is needed", channel))
            return refused;
        const std::string &preset = a.Free[0], &out = a.Value("--output");
        const std::string& format = a.Value("--format");
        const FilterDialect* dialect = format.empty() ? &DefaultExportDialect() : FilterDialectById(format);
        if (!dialect || !dialect->Export)
            return Refuse(cx, a, "--format takes " + FilterExportIds() + ", not '" + format + "'");
        LoadDefaults();
        if (!LoadPresetOrSay(cx, preset))
            return ExitUsage;
        const std::string text = ExportFilterText(channel, DspParams, dialect);
        if (out.empty()) {
            std::fputs(text.c_str(), cx.Out);
            return ExitOk;
        }
        return Saved(cx, out, ReplaceFile(out, text)) ? ExitOk : ExitUsage;
    },
};

} // namespace ktv::cli
