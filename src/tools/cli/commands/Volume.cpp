// volume: the box's master volumes (mic, music, effect).

#include "../Command.h"

#include "params/Commands.h"

#include <charconv>

namespace ktv::cli {
namespace {

std::optional<std::uint8_t> ParseVolume(const std::string& text)
{
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > 255)
        return std::nullopt;
    return std::uint8_t(v);
}

} // namespace

extern const Command VolumeCommand{
    .Name = "volume",
    .Summaries = {"set the box's master volumes (mic, music, effect)"},
    .Options = {{nullptr, "--mic", "N", Synopsis | Optional}, {nullptr, "--music", "N", Synopsis | Optional},
                {nullptr, "--effect", "N", Synopsis | Optional}},
    .MostWords = 0,
    .Description = R"(Reads the box and sets the master volumes given (0..255); the others keep
the box's values. Without any, prints the box's three volumes.
)",
    .Run = [](Context& cx, const Arguments& a) {
        struct Wanted {
            const char* option;
            std::uint8_t DspParamsImage::*field;
            std::optional<std::uint8_t> value;
        } wanted[] = {{"--mic", &DspParamsImage::MicVol, {}},
                      {"--music", &DspParamsImage::MusicVol, {}},
                      {"--effect", &DspParamsImage::EffectVol, {}}};
        bool any = false;
        for (Wanted& w : wanted) {
            const std::string& text = a.Value(w.option);
            if (text.empty())
                continue;
            w.value = ParseVolume(text);
            if (!w.value)
                return Refuse(cx, a, std::string("the volume for ") + w.option + " must be 0..255, not '" + text + "'");
            any = true;
        }
        LoadDefaults();
        return WithBox(cx, [&] {
            if (!ReadAllFromDevice()) {
                Ui().ShowMessage("Read dsp fault!");
                return ExitFailed;
            }
            if (!any) {
                cx.Print("mic\t%d\nmusic\t%d\neffect\t%d\n", DspParams.MicVol, DspParams.MusicVol, DspParams.EffectVol);
                return ExitOk;
            }
            for (const Wanted& w : wanted)
                if (w.value)
                    DspParams.*w.field = *w.value;
            if (!SendMasterVolume()) {
                cx.Say("ktvtune-cli: the volumes were not set\n");
                return ExitFailed;
            }
            return ExitOk;
        });
    },
};

} // namespace ktv::cli
