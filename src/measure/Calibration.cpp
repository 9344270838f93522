#include "measure/Calibration.h"

#include "presets/PresetIo.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ktv::measure {

namespace {

// Far above any microphone maker's file; a device or a stray file is not read whole.
constexpr std::size_t MaxCalibrationBytes = 4u << 20;

bool IsSep(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r'; }

// Reads the numbers at the start of a line; stops at the first word that is not one.
std::vector<double> Numbers(std::string_view line)
{
    std::vector<double> out;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsSep(line[i]))
            ++i;
        if (i >= line.size())
            break;
        std::size_t j = i;
        while (j < line.size() && !IsSep(line[j]))
            ++j;
        double v = 0;
        auto word = line.substr(i, j - i);
        if (!word.empty() && word.front() == '+')
            word.remove_prefix(1);
        auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
        if (ec != std::errc() || p != word.data() + word.size() || !std::isfinite(v))
            break;
        out.push_back(v);
        i = j;
    }
    return out;
}

// "Sens Factor =-1.2dB, AGain =18dB, SERNO: 7001234" and the like.
std::optional<double> Sensitivity(std::string_view line)
{
    std::string lower(line);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto at = lower.find("sens");
    if (at == std::string::npos)
        return std::nullopt;
    auto eq = lower.find_first_of("=:", at);
    if (eq == std::string::npos)
        return std::nullopt;
    std::size_t i = eq + 1;
    while (i < lower.size() && lower[i] == ' ')
        ++i;
    std::size_t j = i;
    while (j < lower.size() && (std::isdigit(static_cast<unsigned char>(lower[j])) || lower[j] == '.' ||
                                lower[j] == '-' || lower[j] == '+'))
        ++j;
    std::string num = lower.substr(i, j - i);
    if (!num.empty() && num.front() == '+')
        num.erase(0, 1);
    if (num.size() > 1 && num[0] == '-' && num[1] == '.')
        num.insert(1, "0");
    if (!num.empty() && num[0] == '.')
        num.insert(0, "0");
    double v = 0;
    auto [p, ec] = std::from_chars(num.data(), num.data() + num.size(), v);
    if (ec != std::errc() || p != num.data() + num.size())
        return std::nullopt;
    return v;
}
} // namespace

bool ParseCalibration(std::string_view text, Calibration& out, std::string* why)
{
    Calibration cal;
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        if (lineNo == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.remove_prefix(3);
        const auto nums = Numbers(line);
        if (nums.empty()) {
            if (!cal.SensitivityDb && cal.Hz.empty())
                cal.SensitivityDb = Sensitivity(line);
            continue;
        }
        if (nums.size() < 2) {
            if (why)
                *why = "Line " + std::to_string(lineNo) + " of the calibration file has a frequency but no dB value.";
            return false;
        }
        if (nums[0] <= 0 || (!cal.Hz.empty() && nums[0] <= cal.Hz.back())) {
            if (why)
                *why = "Line " + std::to_string(lineNo) + " of the calibration file: frequencies must be positive "
                       "and rise from line to line.";
            return false;
        }
        cal.Hz.push_back(nums[0]);
        cal.Db.push_back(nums[1]);
    }
    if (cal.Hz.empty()) {
        if (why)
            *why = "The calibration file holds no frequency and dB lines.";
        return false;
    }
    out = std::move(cal);
    return true;
}

bool ReadCalibrationFile(const std::string& path, Calibration& out, std::string* why)
{
    std::string bytes;
    bool tooLarge = false;
    const FileReadError error = ReadWholeFile(path, MaxCalibrationBytes, bytes, tooLarge);
    if (error != FileReadError::None || tooLarge) {
        if (why) {
            if (tooLarge)
                *why = path + " is too large for a calibration file.";
            else if (error == FileReadError::IsDirectory || error == FileReadError::NotRegularFile)
                *why = "Cannot open the calibration file " + path + ": " + FileReadErrorText(error) + ".";
            else
                *why = "Cannot open the calibration file " + path + ".";
        }
        return false;
    }
    return ParseCalibration(bytes, out, why);
}

double CalibrationAt(const Calibration& cal, double hz)
{
    if (cal.Hz.empty())
        return 0;
    if (hz <= cal.Hz.front())
        return cal.Db.front();
    if (hz >= cal.Hz.back())
        return cal.Db.back();
    const auto it = std::upper_bound(cal.Hz.begin(), cal.Hz.end(), hz);
    const std::size_t i = static_cast<std::size_t>(it - cal.Hz.begin());
    const double t = std::log(hz / cal.Hz[i - 1]) / std::log(cal.Hz[i] / cal.Hz[i - 1]);
    return cal.Db[i - 1] + t * (cal.Db[i] - cal.Db[i - 1]);
}

Response ApplyCalibration(const Response& in, const Calibration& cal)
{
    Response out = in;
    for (std::size_t i = 0; i < out.Hz.size(); ++i)
        out.Db[i] -= CalibrationAt(cal, out.Hz[i]);
    return out;
}

} // namespace ktv::measure
