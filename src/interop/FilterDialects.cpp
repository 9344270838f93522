#include "interop/FilterDialects.h"

#include "dsp/Filter.h"
#include "interop/FilterImport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

namespace ktv {
namespace {

// The lines of a text, blanks at either end removed.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front())))
            line.remove_prefix(1);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool StartsNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

bool AnyLineStarts(std::string_view text, std::initializer_list<std::string_view> prefixes)
{
    for (std::string_view line : Lines(text))
        for (std::string_view prefix : prefixes)
            if (StartsNoCase(line, prefix))
                return true;
    return false;
}

// ---- filter text ----

// REW heads its filter settings with "Filter Settings file".
bool IsRew(std::string_view text) { return AnyLineStarts(text, {"Filter Settings file"}); }

// AutoEq's ParametricEQ.txt: a Preamp line first, then numbered Filter lines.
bool IsAutoEq(std::string_view text)
{
    for (std::string_view line : Lines(text))
        if (!line.empty())
            return StartsNoCase(line, "Preamp:");
    return false;
}

// Equalizer APO's config.txt has lines no other tool writes.
bool IsEqualizerApo(std::string_view text)
{
    return AnyLineStarts(text, {"Device:", "Channel:", "Include:", "Filter:", "Copy:", "Stage:"});
}

// The three tools write the same Filter and Preamp lines, so they share the
// one tolerant reader.
FilterFile ParseFilterLines(std::string_view text) { return ParseFilterTextLines(text); }

template <class T>
std::string FormatNumber(const char* format, T v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, v);
    return buffer;
}

// The type's token in REW's filter text, and whether the line gives a gain;
// indexed by type code, a code beyond them written as a peak.
struct Column {
    const char* Token;
    bool Gain;
};
constexpr Column Columns[]{{"LPQ", false}, {"HPQ", false}, {"PK", true}, {"LSC", true},
                           {"HSC", true},  {"BP", false},  {"NO", false}};
static_assert(std::size(Columns) == FilterTypeTexts.size());

const Column& ColumnOf(unsigned type) { return type < std::size(Columns) ? Columns[type] : Columns[2]; }

// The pass types, band pass and notch keep their shape and take the band's
// gain as a level over every frequency (the box scales their numerator by
// it). No filter line of these tools has a gain for them, so the level of
// the bands that are on goes into the Preamp line, which Equalizer APO
// applies; it sums the bands' levels in tenths, as the box holds them.
int LevelTenths(std::span<const PeqBand> bands)
{
    int tenths = 0;
    for (const PeqBand& b : bands) {
        const PeqBand band = BoxHeld(b);
        const unsigned type = band.Flags & FlagTypeMask;
        const bool level = type == unsigned(FilterType::LowPass) || type == unsigned(FilterType::HighPass) ||
                           type == unsigned(FilterType::BandPass) || type == unsigned(FilterType::Notch);
        if (level && (band.Flags & FlagBandOn))
            tenths += int(std::lround(band.Gain * 10.0));
    }
    return tenths;
}

std::string PreampText(int tenths) { return "Preamp: " + FormatNumber("%.1f", tenths / 10.0) + " dB\n"; }

// One line per band (bypassed bands as OFF), in the columns REW writes; REW,
// Equalizer APO and AutoEq all read them.
std::string FilterLines(std::span<const PeqBand> bands)
{
    std::string out;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        // The values the box holds: whole tenths.
        const PeqBand band = BoxHeld(bands[i]);
        const bool on = (band.Flags & FlagBandOn) != 0;
        const Column& column = ColumnOf(band.Flags & FlagTypeMask);
        const bool wholeHz = band.Fc == std::round(band.Fc);
        std::string body = FormatNumber("%-9s", column.Token) + "Fc  " +
                           FormatNumber(band.Fc < 100 || !wholeHz ? "%.1f" : "%.0f", band.Fc) + " Hz  ";
        if (column.Gain)
            body += "Gain  " + FormatNumber("%.1f", band.Gain) + " dB  ";
        body += "Q  " + FormatNumber("%.1f", band.Q);
        char head[32];
        std::snprintf(head, sizeof head, "Filter %2d: %-3s ", int(i + 1), on ? "ON" : "OFF");
        out += head + body + "\n";
    }
    return out;
}

// A player applies these bands to full-scale music, so the APO and AutoEq
// files' Preamp carries the bands' level and then lowers the whole by the
// channel's largest boost (as the box holds the bands, over 20 Hz-20 kHz,
// in tenths rounded up): the file's response is the box's, never above 0 dB.
std::string HeadroomPreampLine(std::span<const PeqBand> bands)
{
    std::vector<PeqBand> held(bands.begin(), bands.end());
    for (PeqBand& band : held) {
        band = BoxHeld(band);
        DesignBand(band);
    }
    // A boost peaks at its band's Fc, between the grid's points.
    std::vector<double> frequencies = ComparisonFrequencies();
    for (const PeqBand& band : held)
        if (band.Fc >= 20 && band.Fc <= 20000)
            frequencies.push_back(band.Fc);
    double loudest = 0;
    for (const double hz : frequencies) {
        double sum = 0;
        for (const PeqBand& band : held)
            sum += MagnitudeDb(band.Coef, float(hz));
        loudest = std::max(loudest, sum);
    }
    // The float coefficients overshoot a boost by thousandths of a dB, which
    // no player clips on: they do not cost a tenth.
    const int boostTenths = int(std::max(0.0, std::ceil((loudest - 0.01) * 10)));
    return PreampText(LevelTenths(bands) - boostTenths);
}

std::string ExportRew(std::span<const PeqBand> bands, std::string_view title)
{
    const int level = LevelTenths(bands);
    return "# " + std::string(title) + "\n" + (level ? PreampText(level) : "") + FilterLines(bands);
}

std::string ExportEqualizerApo(std::span<const PeqBand> bands, std::string_view title)
{
    return "# " + std::string(title) + "\n" + HeadroomPreampLine(bands) + FilterLines(bands);
}

// AutoEq's ParametricEQ.txt opens with its Preamp line and has no comments.
std::string ExportAutoEq(std::span<const PeqBand> bands, std::string_view)
{
    return HeadroomPreampLine(bands) + FilterLines(bands);
}

// Tried in this order: REW's header first, then APO's own lines (a config
// may open with a Preamp line as AutoEq's files do).
constexpr FilterDialect Dialects[]{
    {"rew", "REW", "*.txt", IsRew, ParseFilterLines, ExportRew},
    {"apo", "Equalizer APO", "*.txt", IsEqualizerApo, ParseFilterLines, ExportEqualizerApo},
    {"autoeq", "AutoEq", "*.txt", IsAutoEq, ParseFilterLines, ExportAutoEq},
};

// ---- measurements ----

// REW's text export starts its comment lines with '*'.
bool IsRewMeasurement(std::string_view text) { return AnyLineStarts(text, {"*"}); }

bool IsCsvMeasurement(std::string_view text)
{
    for (std::string_view line : Lines(text))
        if (!line.empty() && (std::isdigit(static_cast<unsigned char>(line.front())) || line.front() == '.'))
            return line.find_first_of(";") != std::string_view::npos ||
                   (line.find(',') != std::string_view::npos && line.find_first_of(" \t") == std::string_view::npos);
    return false;
}

// Columns apart by blanks.
bool IsFrd(std::string_view text) { return !IsCsvMeasurement(text); }

// The formats differ in comments and separators; the one reader takes all.
constexpr MeasurementFormat Measurements[]{
    {"rew", "REW text export", "*.txt", IsRewMeasurement, ParseMeasurementText},
    {"frd", "FRD", "*.frd", IsFrd, ParseMeasurementText},
    {"csv", "CSV", "*.csv", IsCsvMeasurement, ParseMeasurementText},
};

template <class T>
std::string Patterns(std::span<const T> kinds, bool (*take)(const T&))
{
    std::vector<std::string_view> seen;
    std::string out;
    for (const T& k : kinds) {
        if (!take(k) || std::find(seen.begin(), seen.end(), k.Patterns) != seen.end())
            continue;
        seen.push_back(k.Patterns);
        out += (out.empty() ? "" : " ") + std::string(k.Patterns);
    }
    return out;
}

} // namespace

std::span<const FilterDialect> FilterDialects() { return Dialects; }

const FilterDialect& DialectOf(std::string_view text)
{
    for (const FilterDialect& d : Dialects)
        if (d.Recognise(text))
            return d;
    return Dialects[0];
}

const FilterDialect* FilterDialectById(std::string_view id)
{
    for (const FilterDialect& d : Dialects)
        if (id == d.Id)
            return &d;
    return nullptr;
}

const FilterDialect& DefaultExportDialect() { return Dialects[0]; }

std::span<const MeasurementFormat> MeasurementFormats() { return Measurements; }

const MeasurementFormat& MeasurementFormatOf(std::string_view text)
{
    for (const MeasurementFormat& m : Measurements)
        if (m.Recognise(text))
            return m;
    return Measurements[std::size(Measurements) - 1];
}

std::string FilterReadPatterns()
{
    return Patterns<FilterDialect>(Dialects, [](const FilterDialect&) { return true; });
}

std::string FilterWritePatterns()
{
    return Patterns<FilterDialect>(Dialects, [](const FilterDialect& d) { return d.Export != nullptr; });
}

std::string MeasurementPatterns()
{
    return Patterns<MeasurementFormat>(Measurements, [](const MeasurementFormat&) { return true; });
}

namespace {
// "a, b or c" of the dialects `take` picks.
std::string Listed(bool (*take)(const FilterDialect&), const char* FilterDialect::*field)
{
    std::vector<std::string> items;
    for (const FilterDialect& d : Dialects)
        if (take(d))
            items.emplace_back(d.*field);
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
    return out;
}
bool Any(const FilterDialect&) { return true; }
bool Writes(const FilterDialect& d) { return d.Export != nullptr; }
} // namespace

std::string FilterDialectNames() { return Listed(Any, &FilterDialect::Name); }
std::string FilterExportNames() { return Listed(Writes, &FilterDialect::Name); }
std::string FilterExportIds() { return Listed(Writes, &FilterDialect::Id); }

} // namespace ktv
