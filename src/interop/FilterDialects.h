#pragma once
// The other tools' files the program reads and writes, each kind behind one
// interface: whether a text is of its kind, reading it, and for filter files
// writing a run of bands in it. Each kind is registered once, here; the
// window's file dialogs and the tools' texts take their lists from the
// registry.

#include "interop/FilterText.h"
#include "interop/Measurement.h"
#include "params/Gloable.h"

#include <span>
#include <string>
#include <string_view>

namespace ktv {

struct FilterDialect {
    const char* Id;       // "rew", "apo", "autoeq"
    const char* Name;     // "REW", "Equalizer APO", "AutoEq"
    const char* Patterns; // the file names it is found under: "*.txt"
    // Whether the text looks written by this tool.
    bool (*Recognise)(std::string_view text);
    FilterFile (*Parse)(std::string_view text);
    // The bands as this tool reads them, after a comment line `title`;
    // nullptr where the program only reads the dialect.
    std::string (*Export)(std::span<const PeqBand> bands, std::string_view title);
};

// In the order they are tried; the first is taken for a text none claims.
[[nodiscard]] std::span<const FilterDialect> FilterDialects();
[[nodiscard]] const FilterDialect& DialectOf(std::string_view text);
[[nodiscard]] const FilterDialect* FilterDialectById(std::string_view id);
// The dialect the program writes unless told otherwise.
[[nodiscard]] const FilterDialect& DefaultExportDialect();

struct MeasurementFormat {
    const char* Id;       // "rew", "frd", "csv"
    const char* Name;     // "REW text export", "FRD", "CSV"
    const char* Patterns; // "*.txt"
    bool (*Recognise)(std::string_view text);
    bool (*Parse)(std::string_view text, Measurement& out, std::string* why);
};

[[nodiscard]] std::span<const MeasurementFormat> MeasurementFormats();
[[nodiscard]] const MeasurementFormat& MeasurementFormatOf(std::string_view text);

// The file-name patterns of what can be read or written, each once, space
// separated: "*.txt", "*.txt *.frd *.csv".
[[nodiscard]] std::string FilterReadPatterns();
[[nodiscard]] std::string FilterWritePatterns();
[[nodiscard]] std::string MeasurementPatterns();
// "REW, Equalizer APO or AutoEq": the dialects read, for help texts.
[[nodiscard]] std::string FilterDialectNames();
// The dialects written, by name ("REW, Equalizer APO or AutoEq") and by the
// id the command line takes ("rew, apo or autoeq").
[[nodiscard]] std::string FilterExportNames();
[[nodiscard]] std::string FilterExportIds();

} // namespace ktv
