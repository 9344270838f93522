#pragma once
// One sweep measurement from start to finish: play, record, check, deconvolve,
// gate, take the magnitude, calibrate; and the REW text the result is saved as.

#include "measure/Audio.h"
#include "measure/Calibration.h"
#include "measure/Sweep.h"

#include <functional>
#include <optional>
#include <string>

namespace ktv::measure {

struct MeasureSettings {
    SweepPlan Sweep;
    std::string OutName, InName; // empty: the system's defaults
    double GateMs = 500;
    std::optional<Calibration> Cal;
    int Positions = 1; // power-averaged
};

// Silence recorded after the sweep so the room's tail and the card's latency fit in.
constexpr double kTailSeconds = 1.0;

// `beforePosition(i)` is called before each position after the first (to move
// the microphone); returning false cancels.
[[nodiscard]] bool MeasureSweep(AudioDevice& dev, const MeasureSettings& s, Response& out, std::string* why,
                                const std::function<bool(int)>& beforePosition = {});

// The response from one recording of the sweep (the part after the recording).
[[nodiscard]] bool AnalyseRecording(const std::vector<float>& recording, const MeasureSettings& s, Response& out,
                                    std::string* why);

// REW's text export shape: '*' comment lines, then "Freq(Hz) SPL(dB) Phase(degrees)".
[[nodiscard]] std::string RewText(const Response& r, const std::string& note);

} // namespace ktv::measure
