// devices: the audio devices measure can use.

#include "../Command.h"

#include "measure/portaudio/PortAudioDevice.h"

namespace ktv::cli {
namespace {

int Run(Context& cx, const Arguments& a)
{
    if (!a.Free.empty())
        return Refuse(cx, a, "unexpected argument '" + a.Free[0] + "'");
    measure::PortAudioDevice audio;
    std::string why;
    if (!audio.Ready(&why)) {
        cx.Say("ktvtune-cli: %s\n", why.c_str());
        return ExitFailed;
    }
    for (const auto& e : audio.Endpoints())
        cx.Print("%-6s %s%s\n", e.Input && e.Output ? "in+out" : e.Input ? "in" : "out", e.Name.c_str(),
                 e.Default ? "  (default)" : "");
    return ExitOk;
}

constexpr const char* Summaries[] = {"list the audio devices 'measure' can use"};

} // namespace

extern const Command DevicesCommand{
    "devices", {}, Summaries, false,
    "Lists the audio devices by the names 'measure' takes, marking inputs,\n"
    "outputs and the system's defaults.\n",
    Run};

} // namespace ktv::cli
