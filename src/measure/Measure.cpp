#include "measure/Measure.h"

#include <cmath>
#include <cstdio>

namespace ktv::measure {

bool AnalyseRecording(const std::vector<float>& recording, const MeasureSettings& s, Response& out, std::string* why)
{
    if (!CheckRecording(recording, why))
        return false;
    const auto ir = Gate(Deconvolve(recording, s.Sweep), s.Sweep.Rate, s.GateMs, PreGateMs(s.Sweep));
    auto r = Magnitude(ir, s.Sweep.Rate, s.Sweep.LoHz, s.Sweep.HiHz);
    if (s.Cal)
        r = ApplyCalibration(r, *s.Cal);
    out = std::move(r);
    return true;
}

bool MeasureSweep(AudioDevice& dev, const MeasureSettings& s, Response& out, std::string* why,
                  const std::function<bool(int)>& beforePosition)
{
    if (!CheckSweepPlan(s.Sweep, why))
        return false;
    if (s.Positions < 1 || s.Positions > 64) {
        if (why)
            *why = "The number of positions to average must be between 1 and 64.";
        return false;
    }
    const auto sweep = MakeSweep(s.Sweep);
    const auto frames = sweep.size() + static_cast<std::size_t>(kTailSeconds * s.Sweep.Rate);
    std::vector<Response> each;
    for (int p = 0; p < s.Positions; ++p) {
        if (p > 0 && beforePosition && !beforePosition(p)) {
            if (why)
                *why = "Cancelled.";
            return false;
        }
        std::vector<float> rec;
        if (!dev.PlayRecord(s.OutName, s.InName, s.Sweep.Rate, sweep, frames, rec, why))
            return false;
        Response r;
        if (!AnalyseRecording(rec, s, r, why))
            return false;
        each.push_back(std::move(r));
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
