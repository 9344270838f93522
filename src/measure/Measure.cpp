#include "measure/Measure.h"

#include <cmath>
#include <cstdio>

namespace ktv::measure {

std::string DropoutText(const Dropout& d)
{
    char at[32];
    std::snprintf(at, sizeof at, "%.1f", d.AtSeconds);
    return std::string("Dropout at ") + at + " s (" + d.What + ")";
}

bool AnalyseRecording(const std::vector<float>& recording, const MeasureSettings& s, Response& out, std::string* why,
                      std::optional<Dropout>* dropout)
{
    if (!CheckRecording(recording, why))
        return false;
    const auto full = Deconvolve(recording, s.Sweep);
    if (auto gap = FindBreak(recording, full, s.Sweep, s.GateMs)) {
        if (dropout) {
            *dropout = gap;
            return true;
        }
        if (why)
            *why = DropoutText(*gap) + ".";
        return false;
    }
    const auto ir = Gate(full, s.Sweep.Rate, s.GateMs, PreGateMs(s.Sweep));
    auto r = Magnitude(ir, s.Sweep.Rate, s.Sweep.LoHz, s.Sweep.HiHz);
    if (s.Cal)
        r = ApplyCalibration(r, *s.Cal);
    out = std::move(r);
    return true;
}

bool MeasureSweep(AudioDevice& dev, const MeasureSettings& s, Response& out, std::string* why,
                  const MeasureEvents& events)
{
    if (!CheckSweepPlan(s.Sweep, why))
        return false;
    if (s.Positions < 1 || s.Positions > 64) {
        if (why)
            *why = "The number of positions to average must be between 1 and 64.";
        return false;
    }
    if (s.Takes < 1 || s.Takes > 10) {
        if (why)
            *why = "The number of takes must be between 1 and 10.";
        return false;
    }
    auto sweep = MakeSweep(s.Sweep);
    sweep.insert(sweep.begin(), static_cast<std::size_t>(kLeadSeconds * s.Sweep.Rate), 0.0f);
    const auto frames = sweep.size() + static_cast<std::size_t>(kTailSeconds * s.Sweep.Rate);
    std::vector<Response> each;
    for (int p = 0; p < s.Positions; ++p) {
        if (p > 0 && events.BeforePosition && !events.BeforePosition(p)) {
            if (why)
                *why = "Cancelled.";
            return false;
        }
        for (int take = 1;; ++take) {
            MeasureProgress at{p, s.Positions, take, s.Takes, frames / s.Sweep.Rate, -200};
            if (events.Progress)
                events.Progress(at);
            const TakeProgress progress = [&](std::size_t recorded, float peak) {
                if (!events.Progress)
                    return;
                at.SecondsLeft = recorded >= frames ? 0 : (frames - recorded) / s.Sweep.Rate;
                at.LevelDbfs = peak > 0 ? 20 * std::log10(peak) : -200;
                events.Progress(at);
            };
            std::vector<float> rec;
            std::optional<Dropout> dropout;
            if (!dev.PlayRecord(s.OutName, s.InName, s.Sweep.Rate, sweep, frames, rec, dropout, progress, why))
                return false;
            Response r;
            // A take the card already called spoilt is not worth analysing.
            if (!dropout && !AnalyseRecording(rec, s, r, why, &dropout))
                return false;
            if (!dropout) {
                each.push_back(std::move(r));
                break;
            }
            if (take >= s.Takes) {
                if (why)
                    *why = "No clean take in " + std::to_string(s.Takes) + (s.Takes == 1 ? " try" : " tries") +
                           ": " + DropoutText(*dropout) +
                           ". The sound card dropped sound: close programs that keep the computer busy and "
                           "measure again.";
                return false;
            }
            if (events.Retake)
                events.Retake(DropoutText(*dropout) + ", measuring again (take " + std::to_string(take + 1) + " of " +
                              std::to_string(s.Takes) + ").");
        }
    }
    return PowerAverage(each, out, why);
}

std::string RewText(const Response& r, const std::string& note)
{
    std::string t = "* Measurement data measured by KTV Tune\n";
    if (!note.empty())
        t += "* " + note + "\n";
    t += "* Freq(Hz) SPL(dB) Phase(degrees)\n";
    char line[96];
    for (std::size_t i = 0; i < r.Hz.size(); ++i) {
        std::snprintf(line, sizeof line, "%.6f %.3f 0.0000\n", r.Hz[i], r.Db[i]);
        t += line;
    }
    return t;
}

} // namespace ktv::measure
