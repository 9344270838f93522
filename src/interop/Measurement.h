#pragma once
// A measured frequency response: REW's text export, .frd and CSV files.

#include <string>
#include <string_view>
#include <vector>

namespace ktv {

struct Measurement {
    std::vector<double> Hz;    // strictly rising
    std::vector<double> Db;    // SPL as read
    std::vector<double> Phase; // degrees; empty when the file has none
};

// REW text export ('*' comments), .frd, CSV; separators space/tab/comma/semicolon; decimal commas;
// lines not beginning with a number are skipped; frequencies must rise. On refusal returns false and sets *why.
[[nodiscard]] bool ParseMeasurementText(std::string_view text, Measurement& out, std::string* why = nullptr);
[[nodiscard]] bool ReadMeasurementFile(const std::string& path, Measurement& out, std::string* why = nullptr);

} // namespace ktv
