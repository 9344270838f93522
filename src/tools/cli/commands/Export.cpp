// export: a channel's bands of a preset as filter text.

#include "Channel.h"

#include "interop/FilterText.h"
#include "params/Commands.h"

namespace ktv::cli {

extern const Command ExportCommand{
    .Name = "export",
    .Summaries = {"write a channel's bands as REW/Equalizer APO filter text"},
    .Options = {Free("IN.dap"), ChannelOption, {"-o", "--output", "FILE", Synopsis | Brief | Optional}},
    .Description = R"(Writes the channel's bands of the preset as REW/Equalizer APO filter text
to FILE, or to stdout.
)",
    .Run = [](Context& cx, const Arguments& a) {
        EqChannel channel{};
        if (const int refused = FileAndChannel(cx, a, "a file is needed", channel))
            return refused;
        const std::string &preset = a.Free[0], &out = a.Value("--output");
        LoadDefaults();
        if (!LoadPresetOrSay(cx, preset))
            return ExitUsage;
        const std::string text = ExportFilterText(channel, DspParams);
        if (out.empty()) {
            std::fputs(text.c_str(), cx.Out);
            return ExitOk;
        }
        return Saved(cx, out, ReplaceFile(out, text)) ? ExitOk : ExitUsage;
    },
};

} // namespace ktv::cli
