// export: a channel's bands of a preset as filter text.

#include "Channel.h"

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
    const std::string &preset = a.Free[0], &out = a.Value("--output");
    LoadDefaults();
    if (!LoadPresetOrSay(cx, preset))
        return ExitUsage;
    const std::string text = ExportFilterText(*channel);
    if (out.empty()) {
        std::fputs(text.c_str(), cx.Out);
        return ExitOk;
    }
    return Saved(cx, out, ReplaceFile(out, text)) ? ExitOk : ExitUsage;
}

constexpr Option Options[] = {
    Free("IN.dap"),
    {nullptr, "--channel", "NAME", Synopsis | Brief},
    {"-o", "--output", "FILE", Synopsis | Brief | Optional},
};
constexpr const char* Summaries[] = {"write a channel's bands as REW/Equalizer APO filter text"};

} // namespace

extern const Command ExportCommand{
    "export", Options, Summaries, false,
    "Writes the channel's bands of the preset as REW/Equalizer APO filter text\n"
    "to FILE, or to stdout.\n",
    Run};

} // namespace ktv::cli
