#include "interop/FilterText.h"
#include "interop/FilterDialects.h"
#include "interop/TextDecode.h"

#include "dsp/Filter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <span>

namespace ktv {
namespace {

// A filter file is a few kilobytes; refuse to slurp anything far larger.
constexpr std::size_t MaxFilterFileBytes = 4u << 20;

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool StartsNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// No-break spaces (U+00A0, U+202F) and tabs become plain spaces.
std::string NormaliseSpaces(std::string_view line)
{
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line.substr(i, 2) == "\xC2\xA0") {
            out += ' ';
            ++i;
        } else if (line.substr(i, 3) == "\xE2\x80\xAF") {
            out += ' ';
            i += 2;
        } else if (line[i] == '\t' || line[i] == '\r' || line[i] == '\v' || line[i] == '\f') {
            out += ' ';
        } else {
            out += line[i];
        }
    }
    return out;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Words(std::string_view s)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ')
            ++i;
        if (i > start)
            words.push_back(s.substr(start, i - start));
    }
    return words;
}

// How the file writes its numbers: REW on a German system writes "8.000" for
// eight thousand and "-3,0" for minus three.
enum class DecimalMark { Point, Comma };

// A separator followed by other than exactly three digits cannot be grouping,
// so it is the decimal mark.
bool SeparatorIsDecimal(std::string_view token, std::size_t at)
{
    std::size_t digits = 0;
    for (std::size_t i = at + 1; i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])); ++i)
        ++digits;
    return digits != 3;
}

// The leading number of a token ("8.000", "-10,0", "1000Hz", "+3dB") under the
// file's decimal mark; the rest of the token goes to *unit.
bool ParseNumber(std::string_view token, DecimalMark mark, double& value, std::string_view* unit = nullptr)
{
    const auto digit = [&](std::size_t i) { return i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])); };
    std::size_t end = 0;
    while (end < token.size() && (digit(end) || token[end] == '.' || token[end] == ',' ||
                                  ((token[end] == '-' || token[end] == '+') && end == 0)))
        ++end;
    // An exponent belongs to the number ("1e9", "2.5E-3"): read without it,
    // "Fc 1e9 Hz" would be 1 Hz.
    std::size_t exponent = end;
    if (end > 0 && end < token.size() && (token[end] == 'e' || token[end] == 'E')) {
        std::size_t i = end + 1;
        if (i < token.size() && (token[i] == '-' || token[i] == '+'))
            ++i;
        if (digit(i)) {
            while (digit(i))
                ++i;
            end = i;
        }
    }
    std::string plain;
    const char decimal = mark == DecimalMark::Comma ? ',' : '.';
    const char grouping = mark == DecimalMark::Comma ? '.' : ',';
    // Both marks in one token: the last one is the decimal mark whatever the file says.
    const std::size_t lastDot = token.substr(0, end).rfind('.');
    const std::size_t lastComma = token.substr(0, end).rfind(',');
    const bool both = lastDot != std::string_view::npos && lastComma != std::string_view::npos;
    for (std::size_t i = 0; i < exponent; ++i) {
        const char c = token[i];
        if (c == '.' || c == ',') {
            const bool isDecimal = both ? i == std::max(lastDot, lastComma)
                                        : (c == decimal || (c == grouping && SeparatorIsDecimal(token, i)));
            if (isDecimal)
                plain += '.';
        } else if (c != '+') {
            plain += c;
        }
    }
    if (plain.empty() || plain == "-" || plain == ".")
        return false;
    if (exponent < end)
        plain += token.substr(exponent, end - exponent);
    auto [p, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || p != plain.data() + plain.size() || !std::isfinite(value))
        return false;
    if (unit)
        *unit = token.substr(end);
    return true;
}

bool IsNumberStart(std::string_view w)
{
    if (w.empty())
        return false;
    const std::size_t i = (w[0] == '-' || w[0] == '+') ? 1 : 0;
    return i < w.size() && (std::isdigit(static_cast<unsigned char>(w[i])) || w[i] == '.' || w[i] == ',');
}

// Decides the decimal mark from every number on the Filter and Preamp lines:
// a comma that cannot be grouping makes it a comma, unless a point that
// cannot be grouping says otherwise.
DecimalMark DetectDecimalMark(const std::vector<std::string>& lines)
{
    bool comma = false, point = false;
    for (const std::string& line : lines)
        for (std::string_view w : Words(line)) {
            if (!IsNumberStart(w))
                continue;
            for (std::size_t i = 0; i < w.size(); ++i) {
                if (w[i] == ',' && SeparatorIsDecimal(w, i))
                    comma = true;
                if (w[i] == '.' && SeparatorIsDecimal(w, i))
                    point = true;
            }
        }
    return comma && !point ? DecimalMark::Comma : DecimalMark::Point;
}

struct TypeEntry {
    const char* Token;
    FileFilterKind Kind;
};
constexpr TypeEntry SimpleTypes[] = {
    {"PK", FileFilterKind::Peak},         {"PEQ", FileFilterKind::Peak},       {"Modal", FileFilterKind::Peak},
    {"LP", FileFilterKind::LowPass},      {"LPQ", FileFilterKind::LowPass},    {"HP", FileFilterKind::HighPass},
    {"HPQ", FileFilterKind::HighPass},    {"LP1", FileFilterKind::LowPass1},   {"HP1", FileFilterKind::HighPass1},
    {"LS", FileFilterKind::LowShelf},     {"HS", FileFilterKind::HighShelf},   {"LSC", FileFilterKind::LowShelf},
    {"HSC", FileFilterKind::HighShelf},   {"NO", FileFilterKind::Notch},       {"Notch", FileFilterKind::Notch},
    {"AP", FileFilterKind::AllPass},      {"BP", FileFilterKind::BandPass},    {"None", FileFilterKind::None},
};

// Reads the type at words[i...], advancing i past it.
bool ParseType(const std::vector<std::string_view>& words, std::size_t& i, DecimalMark mark, FileFilter& f)
{
    if (i >= words.size())
        return false;
    const std::string_view w = words[i];
    auto next = [&](std::size_t k) { return i + k < words.size() ? words[i + k] : std::string_view(); };
    if (EqualsNoCase(w, "All") && EqualsNoCase(next(1), "pass")) {
        f.Kind = FileFilterKind::AllPass;
        f.TypeToken = "All pass";
        i += 2;
        return true;
    }
    const auto* entry = std::find_if(std::begin(SimpleTypes), std::end(SimpleTypes),
                                     [&](const TypeEntry& e) { return EqualsNoCase(w, e.Token); });
    if (entry == std::end(SimpleTypes))
        return false;
    f.Kind = entry->Kind;
    f.TypeToken = entry->Token;
    ++i;
    const bool shelf = f.Kind == FileFilterKind::LowShelf || f.Kind == FileFilterKind::HighShelf;
    if (!shelf)
        return true;
    const bool centre = EqualsNoCase(w, "LSC") || EqualsNoCase(w, "HSC");
    // "LS 6dB", "LS 12dB", "LSC 6 dB", "LSC 4.5dB", "LS Q"
    double slope = 0;
    std::string_view unit;
    if (IsNumberStart(next(0)) && ParseNumber(next(0), mark, slope, &unit)) {
        std::string written;
        if (EqualsNoCase(unit, "dB")) {
            written = std::string(next(0));
            i += 1;
        } else if (unit.empty() && EqualsNoCase(next(1), "dB")) {
            written = std::string(next(0)) + " " + std::string(next(1));
            i += 2;
        } else {
            return true; // a bare number here is not a slope; the parameters follow
        }
        f.TypeToken += " " + written;
        f.SlopeDb = slope;
        if (!centre) {
            f.CornerFrequency = true;
            if (slope <= 6.0 + 1e-9)
                f.Kind = f.Kind == FileFilterKind::LowShelf ? FileFilterKind::LowShelf1 : FileFilterKind::HighShelf1;
        }
        return true;
    }
    if (EqualsNoCase(next(0), "Q") && !IsNumberStart(next(1))) {
        f.TypeToken += " Q";
        ++i;
    }
    return true;
}

// "Fc 100 Hz", "Fc 8.000 H z", "Gain -3,0 dB", "Q 1.41", "BW Oct 0.5", "T60 target 300 ms".
void ParseParameters(const std::vector<std::string_view>& words, std::size_t i, DecimalMark mark, FileFilter& f)
{
    auto number = [&](std::size_t at, std::optional<double>& target) -> std::size_t {
        double v = 0;
        std::string_view unit;
        if (at >= words.size() || !IsNumberStart(words[at])) {
            f.Problem = "a number is missing after \"" + std::string(words[at - 1]) + "\"";
            return words.size();
        }
        // Only a unit may follow the number within its word: "1x9" is no 1,
        // and a number beyond every double ("1e999") is none either.
        if (!ParseNumber(words[at], mark, v, &unit) ||
            (!unit.empty() && !EqualsNoCase(unit, "Hz") && !EqualsNoCase(unit, "dB") && !EqualsNoCase(unit, "ms"))) {
            f.Problem = "\"" + std::string(words[at]) + "\" is not a number";
            return words.size();
        }
        target = v;
        ++at;
        if (unit.empty() && at < words.size()) {
            // Skip the unit, also when written with a space inside ("H z").
            if (EqualsNoCase(words[at], "Hz") || EqualsNoCase(words[at], "dB") || EqualsNoCase(words[at], "ms"))
                ++at;
            else if (EqualsNoCase(words[at], "H") && at + 1 < words.size() && EqualsNoCase(words[at + 1], "z"))
                at += 2;
        }
        return at;
    };
    std::optional<double> fc;
    while (i < words.size() && f.Problem.empty()) {
        const std::string_view w = words[i];
        if (EqualsNoCase(w, "Fc"))
            i = number(i + 1, fc);
        else if (EqualsNoCase(w, "Gain"))
            i = number(i + 1, f.Gain);
        else if (EqualsNoCase(w, "Q"))
            i = number(i + 1, f.Q);
        else if (EqualsNoCase(w, "BW") && i + 1 < words.size() && EqualsNoCase(words[i + 1], "Oct"))
            i = number(i + 2, f.BwOct);
        else if (EqualsNoCase(w, "T60") && i + 1 < words.size() && EqualsNoCase(words[i + 1], "target"))
            i = number(i + 2, f.T60Ms);
        else
            ++i; // a word this tool does not need
    }
    if (!f.Problem.empty())
        return;
    if (f.Kind == FileFilterKind::None || f.Kind == FileFilterKind::AllPass)
        return;
    if (!fc || *fc <= 0) {
        f.Problem = "no centre frequency (Fc)";
        return;
    }
    f.Fc = *fc;
    const bool needsGain = f.Kind == FileFilterKind::Peak || f.Kind == FileFilterKind::LowShelf ||
                           f.Kind == FileFilterKind::HighShelf || f.Kind == FileFilterKind::LowShelf1 ||
                           f.Kind == FileFilterKind::HighShelf1;
    if (needsGain && !f.Gain)
        f.Problem = "no gain";
    else if (f.Kind == FileFilterKind::Peak && !f.Q && !f.BwOct && !f.T60Ms)
        f.Problem = "no Q or bandwidth";
    else if ((f.Q && *f.Q <= 0) || (f.BwOct && *f.BwOct <= 0) || (f.T60Ms && *f.T60Ms <= 0) ||
             (f.SlopeDb && *f.SlopeDb <= 0))
        f.Problem = "a Q, bandwidth, slope or time that is not above 0";
}

void ParseFilterLine(std::string_view line, int lineNumber, DecimalMark mark, FilterFile& out)
{
    // "Filter", an optional number, ":".
    std::size_t i = 6;
    while (i < line.size() && line[i] == ' ')
        ++i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
        ++i;
    while (i < line.size() && line[i] == ' ')
        ++i;
    if (i >= line.size() || line[i] != ':')
        return; // "Filter Settings file" and the like
    const std::vector<std::string_view> words = Words(line.substr(i + 1));
    FileFilter f;
    f.Line = lineNumber;
    f.Text = std::string(line);
    std::size_t w = 0;
    if (w < words.size() && (EqualsNoCase(words[w], "ON") || EqualsNoCase(words[w], "OFF"))) {
        f.On = EqualsNoCase(words[w], "ON");
        ++w;
    } else {
        f.Problem = "neither ON nor OFF";
    }
    if (f.Problem.empty() && !ParseType(words, w, mark, f))
        f.Problem = w < words.size() ? "unknown filter type \"" + std::string(words[w]) + "\"" : "no filter type";
    if (f.Problem.empty())
        ParseParameters(words, w, mark, f);
    out.Filters.push_back(std::move(f));
}

} // namespace

FilterFile ParseFilterText(std::string_view text) { return DialectOf(text).Parse(text); }

FilterFile ParseFilterTextLines(std::string_view text)
{
    const std::string decoded = DecodeText(text);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= decoded.size();) {
        std::size_t end = decoded.find('\n', start);
        if (end == std::string::npos)
            end = decoded.size();
        lines.push_back(std::string(Trim(NormaliseSpaces(std::string_view(decoded).substr(start, end - start)))));
        start = end + 1;
    }
    std::vector<std::string> numbered;
    for (const std::string& line : lines)
        if (StartsNoCase(line, "Filter") || StartsNoCase(line, "Preamp"))
            numbered.push_back(line);
    const DecimalMark mark = DetectDecimalMark(numbered);

    FilterFile out;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        if (StartsNoCase(line, "Filter")) {
            ParseFilterLine(line, int(n + 1), mark, out);
        } else if (StartsNoCase(line, "Preamp")) {
            const auto colon = line.find(':');
            const auto words = colon == std::string_view::npos ? std::vector<std::string_view>{}
                                                               : Words(line.substr(colon + 1));
            double v = 0;
            if (!words.empty() && ParseNumber(words[0], mark, v))
                out.Preamp = out.Preamp.value_or(0.0) + v;
        }
    }
    return out;
}

bool ReadFilterFile(const std::string& path, FilterFile& out, std::string* why)
{
    auto refuse = [&](std::string text) {
        if (why)
            *why = std::move(text);
        return false;
    };
    std::string bytes;
    bool tooLarge = false;
    const FileReadError error = ReadWholeFile(path, MaxFilterFileBytes, bytes, tooLarge);
    if (error != FileReadError::None)
        return refuse(FileReadReason(path, error));
    if (tooLarge)
        return refuse(path + " is too large for a filter file.");
    out = ParseFilterText(bytes);
    return true;
}

// ---- the file's own filters, designed as the tools that wrote them do ----

FileFilterDesign DesignOf(const FileFilter& f)
{
    FileFilterDesign d;
    d.Kind = f.Kind;
    d.Fc = f.Fc;
    d.Gain = f.Gain.value_or(0.0);
    switch (f.Kind) {
    case FileFilterKind::Peak:
        if (f.Q)
            d.Q = *f.Q;
        else if (f.BwOct)
            d.Q = std::sqrt(std::exp2(*f.BwOct)) / (std::exp2(*f.BwOct) - 1.0);
        else if (f.T60Ms) // a resonance decays 60 dB in ln(1000) Q / (pi f)
            d.Q = std::numbers::pi * f.Fc * (*f.T60Ms / 1000.0) / std::log(1000.0);
        break;
    case FileFilterKind::LowPass:
    case FileFilterKind::HighPass:
        d.Q = f.Q.value_or(1.0 / std::sqrt(2.0));
        break;
    case FileFilterKind::Notch:
        d.Q = f.Q.value_or(30.0);
        break;
    case FileFilterKind::BandPass:
        d.Q = f.Q.value_or(1.0 / std::sqrt(2.0));
        break;
    case FileFilterKind::LowShelf:
    case FileFilterKind::HighShelf: {
        if (f.SlopeDb) {
            d.ShelfSlope = *f.SlopeDb / 12.0; // S = 1 is the 12 dB/octave shelf
        } else if (f.Q) {
            d.Q = *f.Q;
        } else {
            d.ShelfSlope = 0.9; // the fixed slope of the plain LS and HS
        }
        if (f.CornerFrequency) {
            // The corner lies on the flat side of the shelf, half the
            // transition (|gain| / slope octaves) away from its centre.
            const double factor = std::exp2(std::abs(d.Gain) / (2.0 * *f.SlopeDb));
            d.Fc = f.Kind == FileFilterKind::LowShelf ? f.Fc / factor : f.Fc * factor;
        }
        break;
    }
    case FileFilterKind::LowShelf1:
    case FileFilterKind::HighShelf1: {
        const double factor = std::exp2(std::abs(d.Gain) / (2.0 * f.SlopeDb.value_or(6.0)));
        d.Fc = f.Kind == FileFilterKind::LowShelf1 ? f.Fc / factor : f.Fc * factor;
        break;
    }
    default:
        break;
    }
    return d;
}

double FileFilterDb(const FileFilterDesign& d, double hz)
{
    const double w0 = 2.0 * std::numbers::pi * d.Fc / SampleRate;
    const double cs = std::cos(w0), sn = std::sin(w0);
    const double A = std::pow(10.0, d.Gain / 40.0);
    double alpha = sn / (2.0 * d.Q);
    double b[3] = {1, 0, 0}, a[3] = {1, 0, 0};
    auto firstOrder = [&](double n1, double n0, double d1, double d0) {
        // Bilinear transform of (n1 s + n0) / (d1 s + d0), s normalised to the centre.
        const double k = std::tan(w0 / 2.0);
        b[0] = n1 + n0 * k;
        b[1] = n0 * k - n1;
        a[0] = d1 + d0 * k;
        a[1] = d0 * k - d1;
    };
    switch (d.Kind) {
    case FileFilterKind::Peak:
        b[0] = 1 + alpha * A, b[1] = -2 * cs, b[2] = 1 - alpha * A;
        a[0] = 1 + alpha / A, a[1] = -2 * cs, a[2] = 1 - alpha / A;
        break;
    case FileFilterKind::LowPass:
        b[0] = (1 - cs) / 2, b[1] = 1 - cs, b[2] = (1 - cs) / 2;
        a[0] = 1 + alpha, a[1] = -2 * cs, a[2] = 1 - alpha;
        break;
    case FileFilterKind::HighPass:
        b[0] = (1 + cs) / 2, b[1] = -(1 + cs), b[2] = (1 + cs) / 2;
        a[0] = 1 + alpha, a[1] = -2 * cs, a[2] = 1 - alpha;
        break;
    case FileFilterKind::BandPass:
        b[0] = alpha, b[1] = 0, b[2] = -alpha;
        a[0] = 1 + alpha, a[1] = -2 * cs, a[2] = 1 - alpha;
        break;
    case FileFilterKind::Notch:
        b[0] = 1, b[1] = -2 * cs, b[2] = 1;
        a[0] = 1 + alpha, a[1] = -2 * cs, a[2] = 1 - alpha;
        break;
    case FileFilterKind::LowShelf:
    case FileFilterKind::HighShelf: {
        if (d.ShelfSlope)
            alpha = sn / 2.0 * std::sqrt(std::max(0.0, (A + 1 / A) * (1 / *d.ShelfSlope - 1) + 2));
        const double r = 2 * std::sqrt(A) * alpha;
        if (d.Kind == FileFilterKind::LowShelf) {
            b[0] = A * ((A + 1) - (A - 1) * cs + r), b[1] = 2 * A * ((A - 1) - (A + 1) * cs);
            b[2] = A * ((A + 1) - (A - 1) * cs - r);
            a[0] = (A + 1) + (A - 1) * cs + r, a[1] = -2 * ((A - 1) + (A + 1) * cs), a[2] = (A + 1) + (A - 1) * cs - r;
        } else {
            b[0] = A * ((A + 1) + (A - 1) * cs + r), b[1] = -2 * A * ((A - 1) + (A + 1) * cs);
            b[2] = A * ((A + 1) + (A - 1) * cs - r);
            a[0] = (A + 1) - (A - 1) * cs + r, a[1] = 2 * ((A - 1) - (A + 1) * cs), a[2] = (A + 1) - (A - 1) * cs - r;
        }
        break;
    }
    case FileFilterKind::LowPass1:
        firstOrder(0, 1, 1, 1);
        break;
    case FileFilterKind::HighPass1:
        firstOrder(1, 0, 1, 1);
        break;
    case FileFilterKind::LowShelf1: // (s + sqrt K) / (s + 1 / sqrt K): K at DC, sqrt K at the centre
        firstOrder(1, A, 1, 1 / A);
        break;
    case FileFilterKind::HighShelf1:
        firstOrder(A, 1, 1 / A, 1);
        break;
    case FileFilterKind::AllPass:
    case FileFilterKind::None:
        return 0.0;
    }
    const double w = 2.0 * std::numbers::pi * hz / SampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = std::polar(1.0, -2 * w);
    const std::complex<double> num = b[0] + b[1] * z1 + b[2] * z2;
    const std::complex<double> den = a[0] + a[1] * z1 + a[2] * z2;
    const double mag = std::abs(num) / std::abs(den);
    return mag > 0 ? 20.0 * std::log10(mag) : MagnitudeFloorDb;
}

// ---- export ----

std::optional<EqChannel> ChannelFromName(std::string_view name)
{
    for (int c = 0; c < EqChannelCount; ++c)
        if (EqualsNoCase(name, EqChannelName(EqChannel(c))))
            return EqChannel(c);
    return std::nullopt;
}

std::string ExportFilterText(EqChannel channel, const DspParamsImage& image, const FilterDialect* dialect)
{
    const BandGroup group = GroupOf(channel);
    const std::span<const PeqBand> bands(image.Band.data() + group.FirstBand, std::size_t(group.BandCount));
    const std::string title = std::string("KTV Tune: ") + EqChannelName(channel) + " channel, " +
                              std::to_string(group.BandCount) + " bands";
    return (dialect && dialect->Export ? *dialect : DefaultExportDialect()).Export(bands, title);
}

} // namespace ktv
