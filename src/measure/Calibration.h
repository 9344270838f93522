#pragma once
// A measurement microphone's calibration file: lines of frequency, dB offset
// and an optional phase, separated by spaces, tabs, commas or semicolons;
// '*' and '#' comments; a quoted header such as "Sens Factor =-1.2dB, ..."
// whose sensitivity is kept. The offsets are taken off the measured response.

#include "measure/Sweep.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktv::measure {

struct Calibration {
    std::vector<double> Hz; // strictly rising
    std::vector<double> Db;
    std::optional<double> SensitivityDb;
};

[[nodiscard]] bool ParseCalibration(std::string_view text, Calibration& out, std::string* why = nullptr);
[[nodiscard]] bool ReadCalibrationFile(const std::string& path, Calibration& out, std::string* why = nullptr);

// The offset at `hz`: linear in log frequency between points, the end values beyond them.
[[nodiscard]] double CalibrationAt(const Calibration& cal, double hz);

// The response with the microphone's own response taken off.
[[nodiscard]] Response ApplyCalibration(const Response& in, const Calibration& cal);

} // namespace ktv::measure
