#pragma once
// One sweep measurement from start to finish: play, record, check, deconvolve,
// gate, take the magnitude, calibrate; and the REW text the result is saved as.

#include "measure/Audio.h"
#include "measure/Calibration.h"
#include "measure/Dropout.h"
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
    int Takes = 3;     // tries at each position before a dropout fails the measurement
};

// Where a measurement stands, for a progress display.
struct MeasureProgress {
    int Position = 0, Positions = 1; // the position counts from 0
    int Take = 1, Takes = 3;         // the take counts from 1
    double SecondsLeft = 0;          // of this take
    double LevelDbfs = -200;         // the input's peak since the last report
};

struct MeasureEvents {
    // Before each position after the first (to move the microphone);
    // returning false cancels.
    std::function<bool(int position)> BeforePosition;
    // A few times a second while a take runs, on the measuring thread.
    std::function<void(const MeasureProgress&)> Progress;
    // A take that dropped out and is measured again, with the reason:
    // "Dropout at 3.1 s (the output ran dry), measuring again (take 2 of 3)."
    std::function<void(const std::string& reason)> Retake;
};

// Silence recorded after the sweep so the room's tail and the card's latency fit in.
constexpr double kTailSeconds = 1.5;
// Silence played before the sweep: the streams start up on it (through
// PulseAudio the sweep's first tenths of a second otherwise came out up to
// 0.08 dB off at 20-25 Hz).
constexpr double kLeadSeconds = 0.25;

// Measures each position; a take that drops out is measured again, up to
// s.Takes times, and never reported. When no clean take comes, false with
// the last dropout as the reason.
[[nodiscard]] bool MeasureSweep(AudioDevice& dev, const MeasureSettings& s, Response& out, std::string* why,
                                const MeasureEvents& events = {});

// The response from one recording of the sweep. False with the reason for a
// recording that cannot be measured (clipped, silent). A recording with a
// break sets `dropout` and gives no response (without `dropout`: false,
// with the break as the reason).
[[nodiscard]] bool AnalyseRecording(const std::vector<float>& recording, const MeasureSettings& s, Response& out,
                                    std::string* why, std::optional<Dropout>* dropout = nullptr);

// "Dropout at 3.1 s (the output ran dry)"
[[nodiscard]] std::string DropoutText(const Dropout& d);

// REW's text export shape: '*' comment lines, then "Freq(Hz) SPL(dB) Phase(degrees)".
[[nodiscard]] std::string RewText(const Response& r, const std::string& note);

} // namespace ktv::measure
