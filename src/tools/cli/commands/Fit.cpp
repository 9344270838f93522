// fit: a channel's bands fitted to a measured response, into a preset.

#include "Channel.h"

#include "common/ToolText.h"
#include "dsp/StepTables.h"
#include "fit/Fit.h"
#include "interop/Measurement.h"
#include "params/Commands.h"

#include <algorithm>

namespace ktv::cli {

extern const Command FitCommand{
    .Name = "fit",
    .Summaries = {"fit a channel's bands to a measured response (no box needed)"},
    .MoreOptions = true,
    .Options = {Free("MEASUREMENT"), ChannelOption,
        {nullptr, "--target", "FILE", Synopsis | Optional | Table, "target curve in a measurement format (default: flat)"},
        {nullptr, "--tilt", "DB_PER_OCT", Synopsis | Either | Table,
         "a straight target falling or rising by this much per octave"},
        {nullptr, "--range", "LO-HI", Synopsis | Optional | Break | Table,
         "frequency range in Hz (default 40-16000; SUB 20-250)"},
        {nullptr, "--max-boost", "DB", Synopsis | Optional | Table, "largest boost, 0..12 (default 0: cuts only)"},
        {nullptr, "--max-cut", "DB", Synopsis | Optional | Table, "largest cut, -24..0 (default -12)"},
        {nullptr, "--max-level-drop", "DB", Synopsis | Optional | Table,
         "the most the fit may lower the channel's level (default:\nno limit; a cuts-only fit of a headphone can cost 8 dB)"},
        {nullptr, "--preset", "IN.dap", Synopsis | Optional | Break | Table,
         "start from this preset instead of the defaults"},
        {"-o", "--output", "OUT.dap", Synopsis | Brief},
    },
    .Description = R"(Fits the bands of the channel (NAME: MIC, MUSIC, EFFECT, MAIN, CENTER, SUB,
SRS) to a measured response (REW text export, .frd or CSV) of the room
without the channel's EQ, on the box's own Fc and Q steps, and writes the
preset with the fitted bands to OUT.dap. Bypassed bands are left alone.
Prints the bands and the error with the bands before and after the fit (RMS
and largest, around the mean level, over the range). No box is needed.
)",
    .Run = [](Context& cx, const Arguments& a) {
        EqChannel channel{};
        if (const int refused = FileAndChannel(cx, a, "a measurement file is needed", channel))
            return refused;
        const std::string &out = a.Value("--output");
        if (out.empty())
            return Refuse(cx, a, "-o OUT.dap is needed");
        const std::string &measurementFile = a.Free[0], &targetFile = a.Value("--target"), &preset = a.Value("--preset");
        FitTarget target;
        FitOptions options;
        const FitRange range = FitRangeOf(channel);
        options.LowHz = range.LowHz;
        options.HighHz = range.HighHz;
        if (a.Given("--range")) {
            const std::string_view r = a.Value("--range");
            const auto dash = r.find('-', 1);
            const auto lo = ParseNumber(r.substr(0, dash));
            const auto hi = dash == std::string::npos ? std::nullopt : ParseNumber(r.substr(dash + 1));
            if (!lo || !hi)
                return Refuse(cx, a, "the range must be LO-HI in Hz, not '" + a.Value("--range") + "'");
            options.LowHz = *lo;
            options.HighHz = *hi;
        }
        const struct {
            const char* Option;
            double* Value;
        } numbers[] = {{"--tilt", &target.TiltDbPerOctave},
                       {"--max-boost", &options.MaxBoostDb},
                       {"--max-cut", &options.MaxCutDb},
                   {"--max-level-drop", &options.MaxLevelDropDb}};
        for (const auto& n : numbers) {
            if (!a.Given(n.Option))
                continue;
            const std::string& text = a.Value(n.Option);
            const auto v = ParseNumber(text);
            if (!v)
                return Refuse(cx, a, std::string(n.Option) + " needs a number, not '" + text + "'");
            *n.Value = *v;
        }
        if (a.Given("--tilt"))
            target.Kind = FitTargetKind::Tilt;
        if (!targetFile.empty() && target.Kind == FitTargetKind::Tilt)
            return Refuse(cx, a, "give either --target or --tilt, not both");

        Measurement measured;
        std::string why;
        if (!ReadMeasurementFile(measurementFile, measured, &why)) {
            cx.Say("ktvtune-cli: %s: %s\n", measurementFile.c_str(), why.c_str());
            return ExitUsage;
        }
        if (!targetFile.empty()) {
            Measurement curve;
            if (!ReadMeasurementFile(targetFile, curve, &why)) {
                cx.Say("ktvtune-cli: %s: %s\n", targetFile.c_str(), why.c_str());
                return ExitUsage;
            }
            target = {FitTargetKind::Curve, 0.0, curve.Hz, curve.Db};
        }
        LoadDefaults();
        DapBytes presetBytes{};
        if (!preset.empty() && !LoadPresetOrSay(cx, preset, presetBytes))
            return ExitUsage;
        BuildStepTables();

        const BandGroup group = GroupOf(channel);
        const std::span<PeqBand> bands(DspParams.Band.data() + group.FirstBand, std::size_t(group.BandCount));
        FitResult fit;
        if (!FitChannel(measured.Hz, measured.Db, target, options, bands, fit, &why)) {
            cx.Say("ktvtune-cli: cannot fit: %s\n", why.c_str());
            return ExitUsage;
        }
        std::copy(fit.Bands.begin(), fit.Bands.end(), bands.begin());
        if (!SaveChannel(cx, out, preset.empty() ? nullptr : &presetBytes, group))
            return ExitUsage;

        std::string text = std::string(tools::ChannelName(channel)) + " over " + Decimal(fit.LowHz, 0) + "-" +
                           Decimal(fit.HighHz, 0) + " Hz\nband  type        Fc (Hz)     Q  gain (dB)\n";
        for (std::size_t k = 0; k < fit.Bands.size(); ++k) {
            const PeqBand& b = fit.Bands[k];
            char line[128];
            std::snprintf(line, sizeof line, "%4zu  %-10s %8s %5s %10s%s\n", k + 1, tools::FilterTypeName(b.Flags),
                          Decimal(b.Fc, b.Fc < 100 ? 1 : 0).c_str(), Decimal(b.Q, 1).c_str(), Decimal(b.Gain, 1).c_str(),
                          fit.Fitted[k] ? "" : (b.Flags & FlagBandOn) ? "  (left alone)" : "  (bypassed, left alone)");
            text += line;
        }
        text += "error before: RMS " + Decimal(fit.Before.RmsDb, 2) + " dB, largest " + Decimal(fit.Before.LargestDb, 2) +
                " dB\nerror after:  RMS " + Decimal(fit.After.RmsDb, 2) + " dB, largest " +
                Decimal(fit.After.LargestDb, 2) + " dB\n";
        // The error is taken around the mean level: what the fit costs in level
        // is said apart, or a channel would grow quieter without a word.
        if (fit.LevelChangeDb <= -0.05)
            text += "the fit lowers the level by " + Decimal(-fit.LevelChangeDb, 1) + " dB\n";
        else if (fit.LevelChangeDb >= 0.05)
            text += "the fit raises the level by " + Decimal(fit.LevelChangeDb, 1) + " dB\n";
        std::fputs(text.c_str(), cx.Out);
        return ExitOk;
    },
};

} // namespace ktv::cli
