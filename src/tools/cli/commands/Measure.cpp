// measure: the room's response by a sweep through the sound card.

#include "../Command.h"

#ifndef KTV_CLI_NO_SOUND
#include "measure/Measure.h"
#include "measure/portaudio/PortAudioDevice.h"
#endif

#include <cmath>

namespace ktv::cli {

extern const Command MeasureCommand{
    .Name = "measure",
    .Summaries = {"measure the room with a sweep through the sound card"},
    .MoreOptions = true,
    .Options = {
        {"-o", "--output", "OUT.txt", Synopsis | Brief | Needed},
        {nullptr, "--out", "DEVICE", Synopsis | Optional},
        {nullptr, "--in", "DEVICE", Synopsis | Optional},
        {nullptr, "--level", "DBFS", Synopsis | Optional},
        {nullptr, "--length", "SECONDS", Synopsis | Optional | Break},
        {nullptr, "--range", "LO-HI", Synopsis | Optional},
        {nullptr, "--calibration", "FILE", Synopsis | Optional},
        {nullptr, "--average", "N", Synopsis | Optional | Break},
        {nullptr, "--gate", "MS", Synopsis | Optional},
        {nullptr, "--takes", "N", Synopsis | Optional},
    },
    .MostWords = 0,
    .Description = R"(Plays a sine sweep on the output (default: the system's), records the
microphone on the input, and writes the room's response to OUT.txt as
REW text, which 'fit' and the window read. --level is the sweep's peak
(default -20 dBFS), --length 1..10 s (default 3), --range the sweep's
range (default 20-20000 Hz), --calibration the microphone's calibration
file, --average N measures N positions and averages them (on a terminal
it waits for Enter between them), --gate the window after the impulse
(default 500 ms). Device names are those 'ktvtune-cli devices' lists.
A take in which the sound card dropped sound is measured again, up to
--takes times (default 3), saying where it dropped out; with no clean
take it fails with that reason and writes nothing. On a terminal the
take, the time left and the input level are shown as it measures.
)",
#ifdef KTV_CLI_NO_SOUND
    .Run = NoSoundCard,
#else
    .Run = [](Context& cx, const Arguments& a) {
        const std::string& out = a.Value("--output");
        measure::MeasureSettings s;
        s.OutName = a.Value("--out");
        s.InName = a.Value("--in");
        const auto number = [&](const char* option, double& into) {
            if (!a.Given(option))
                return true;
            const auto v = ParseNumber(a.Value(option));
            if (!v)
                return false;
            into = *v;
            return true;
        };
        double positions = 1, takes = 3;
        if (!number("--level", s.Sweep.LevelDbfs) || !number("--length", s.Sweep.Seconds) ||
            !number("--gate", s.GateMs) || !number("--average", positions) || !number("--takes", takes))
            return Refuse(cx, a, "--level, --length, --gate, --average and --takes take numbers");
        if (positions != std::floor(positions) || positions < 1 || positions > 64)
            return Refuse(cx, a, "--average takes a whole number of positions, 1..64");
        if (takes != std::floor(takes) || takes < 1 || takes > 10)
            return Refuse(cx, a, "--takes takes a whole number of takes, 1..10");
        s.Positions = int(positions);
        s.Takes = int(takes);
        if (!(s.GateMs >= 10 && s.GateMs <= 5000))
            return Refuse(cx, a, "--gate must be 10..5000 ms");
        if (a.Given("--range")) {
            const std::string& range = a.Value("--range");
            const auto dash = range.find('-');
            const auto lo = ParseNumber(range.substr(0, dash));
            const auto hi = dash == std::string::npos ? std::nullopt : ParseNumber(range.substr(dash + 1));
            if (!lo || !hi)
                return Refuse(cx, a, "--range takes LO-HI in Hz, as 20-20000");
            s.Sweep.LoHz = *lo;
            s.Sweep.HiHz = *hi;
        }
        std::string why;
        if (!measure::CheckSweepPlan(s.Sweep, &why))
            return Refuse(cx, a, why);
        if (a.Given("--calibration")) {
            measure::Calibration cal;
            if (!measure::ReadCalibrationFile(a.Value("--calibration"), cal, &why)) {
                cx.Say("ktvtune-cli: %s\n", why.c_str());
                return ExitUsage;
            }
            s.Cal = cal;
        }
        measure::PortAudioDevice audio;
        measure::Response r;
        // Progress is one line rewritten in place on a terminal; in a pipe
        // only the lines that matter (a retake, a position to move to).
        bool shown = false;
        const auto clear = [&] {
            if (shown)
                cx.Say("\r%-72s\r", "");
            shown = false;
        };
        measure::MeasureEvents events;
        events.BeforePosition = [&](int p) {
            clear();
            cx.Say("Move the microphone to position %d%s\n", p + 1, cx.Terminal ? " and press Enter." : ".");
            if (cx.Terminal) {
                int c;
                while ((c = std::getc(cx.In)) != '\n' && c != EOF) {
                }
            }
            return true;
        };
        events.Retake = [&](const std::string& reason) {
            clear();
            cx.Say("%s\n", reason.c_str());
        };
        if (cx.ErrTerminal)
            events.Progress = [&](const measure::MeasureProgress& p) {
                std::string line;
                if (p.Positions > 1)
                    line = "Position " + std::to_string(p.Position + 1) + " of " + std::to_string(p.Positions) + ", ";
                line += std::string(p.Positions > 1 ? "take " : "Take ") + std::to_string(p.Take) + " of " +
                        std::to_string(p.Takes) + ": " + Decimal(p.SecondsLeft, 1) + " s left, input " +
                        (p.LevelDbfs > -100 ? Decimal(p.LevelDbfs, 0) + " dBFS" : std::string("silent"));
                cx.Say("\r%-72s", line.c_str());
                std::fflush(cx.Err);
                shown = true;
            };
        const bool ok = measure::MeasureSweep(audio, s, r, &why, events);
        clear();
        if (!ok) {
            cx.Say("ktvtune-cli: %s\n", why.c_str());
            return ExitFailed;
        }
        const std::string note = "Sweep " + Decimal(s.Sweep.LoHz, 0) + "-" + Decimal(s.Sweep.HiHz, 0) + " Hz, " +
                                 Decimal(s.Sweep.Seconds, 1) + " s, " + Decimal(s.Sweep.LevelDbfs, 1) + " dBFS, gate " +
                                 Decimal(s.GateMs, 0) + " ms" +
                                 (s.Positions > 1 ? ", " + std::to_string(s.Positions) + " positions averaged" : "");
        std::FILE* f = std::fopen(out.c_str(), "wb");
        const std::string text = measure::RewText(r, note);
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            cx.Say("ktvtune-cli: cannot write %s\n", out.c_str());
            return ExitUsage;
        }
        return ExitOk;
    },
#endif
};

} // namespace ktv::cli
