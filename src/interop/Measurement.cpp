#include "interop/Measurement.h"
#include "interop/TextDecode.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>

namespace ktv {
namespace {

// A measurement is a few thousand lines; anything far larger is not one.
constexpr std::uintmax_t MaxMeasurementBytes = 64u << 20;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// A whole token as a number; a decimal comma counts as a point.
bool ParseNumber(std::string_view token, double& value)
{
    if (token.empty())
        return false;
    std::string s(token);
    for (char& c : s)
        if (c == ',')
            c = '.';
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (*first == '+')
        ++first;
    auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last && std::isfinite(value);
}

bool BeginsWithNumber(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        ++i;
    if (i < line.size() && line[i] == '.')
        ++i;
    return i < line.size() && IsDigit(line[i]);
}

std::vector<std::string_view> Split(std::string_view line, std::string_view separators)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && separators.find(line[i]) != std::string_view::npos)
            ++i;
        std::size_t start = i;
        while (i < line.size() && separators.find(line[i]) == std::string_view::npos)
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// The leading numbers of a data line. A comma is a decimal comma when the
// line is split by tabs or semicolons, or when every blank-separated field is
// a number with it ("20,5 -3,1"); otherwise it separates fields ("20.5,-3.1").
std::vector<double> LeadingNumbers(std::string_view line)
{
    bool commaIsDecimal = line.find_first_of(";\t") != std::string_view::npos;
    if (!commaIsDecimal && line.find(',') != std::string_view::npos) {
        auto fields = Split(line, " \t\r\v\f");
        double unused = 0;
        commaIsDecimal = fields.size() >= 2;
        for (std::string_view f : fields)
            commaIsDecimal = commaIsDecimal && ParseNumber(f, unused);
    }
    std::vector<double> numbers;
    for (std::string_view field : Split(line, commaIsDecimal ? " \t\r\v\f;" : " \t\r\v\f;,")) {
        double v = 0;
        if (!ParseNumber(field, v))
            break;
        numbers.push_back(v);
    }
    return numbers;
}

bool Refuse(std::string* why, std::string text)
{
    if (why)
        *why = std::move(text);
    return false;
}

std::string Format(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

} // namespace

bool ParseMeasurementText(std::string_view text, Measurement& out, std::string* why)
{
    std::string decoded = DecodeText(text);
    Measurement m;
    bool phaseInEveryLine = true;
    std::size_t lineNumber = 0;
    std::string_view rest = decoded;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        ++lineNumber;
        if (!BeginsWithNumber(line))
            continue;
        std::vector<double> numbers = LeadingNumbers(line);
        const std::string where = "Line " + std::to_string(lineNumber) + ": ";
        if (numbers.size() < 2)
            return Refuse(why, where + "a frequency and a level are needed.");
        if (numbers[0] <= 0)
            return Refuse(why, where + "the frequency " + Format(numbers[0]) + " Hz is not above 0.");
        if (!m.Hz.empty() && numbers[0] <= m.Hz.back())
            return Refuse(why, where + "the frequency " + Format(numbers[0]) + " Hz does not rise above " +
                                   Format(m.Hz.back()) + " Hz.");
        m.Hz.push_back(numbers[0]);
        m.Db.push_back(numbers[1]);
        if (numbers.size() >= 3)
            m.Phase.push_back(numbers[2]);
        else
            phaseInEveryLine = false;
    }
    if (m.Hz.size() < 2)
        return Refuse(why, "The file holds no frequency response (at least two lines of frequency and level).");
    if (!phaseInEveryLine)
        m.Phase.clear();
    out = std::move(m);
    return true;
}

bool ReadMeasurementFile(const std::string& path, Measurement& out, std::string* why)
{
    std::string bytes;
    bool tooLarge = false;
    const FileReadError error = ReadWholeFile(path, MaxMeasurementBytes, bytes, tooLarge);
    if (error != FileReadError::None)
        return Refuse(why, FileReadReason(path, error));
    if (tooLarge)
        return Refuse(why, path + " is too large for a measurement.");
    return ParseMeasurementText(bytes, out, why);
}

} // namespace ktv
