// devices: the audio devices measure can use.

#include "../Command.h"

#ifndef KTV_CLI_NO_SOUND
#include "measure/portaudio/PortAudioDevice.h"
#endif

namespace ktv::cli {

extern const Command DevicesCommand{
    .Name = "devices",
    .Summaries = {"list the audio devices 'measure' can use"},
    .MostWords = 0,
    .Description = R"(Lists the audio devices by the names 'measure' takes, marking inputs,
outputs and the system's defaults.
)",
#ifdef KTV_CLI_NO_SOUND
    .Run = NoSoundCard,
#else
    .Run = [](Context& cx, const Arguments&) {
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
    },
#endif
};

} // namespace ktv::cli
