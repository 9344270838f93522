#pragma once
// Filter text as REW's "Filter Settings file", Equalizer APO's config.txt and
// AutoEq's ParametricEQ.txt write it: one "Filter N: ON TYPE Fc .. Hz ..."
// line per filter and an optional "Preamp: N dB" line. Everything else in
// such files (headers, # comments, Device:, Channel:, Include:) is skipped.

#include "params/Gloable.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktv {

// The filter shapes the file can name, each with what its frequency means.
enum class FileFilterKind {
    Peak,        // PK, PEQ, Modal
    LowPass,     // LP, LPQ: second order
    HighPass,    // HP, HPQ
    LowPass1,    // LP1: first order
    HighPass1,   // HP1
    LowShelf,    // LS, LSC, LS Q, LS 12dB: second-order shelf
    HighShelf,   // HS, HSC, HS Q, HS 12dB
    LowShelf1,   // LS 6dB: first-order shelf
    HighShelf1,  // HS 6dB
    Notch,       // NO, Notch
    BandPass,    // BP
    AllPass,     // AP, All pass
    None,        // None
};

struct FileFilter {
    int Line = 0;           // 1-based line in the file
    std::string Text;       // the line as written, trimmed
    std::string TypeToken;  // as written, e.g. "LSC 6 dB", "LS 12dB"
    bool On = true;
    FileFilterKind Kind = FileFilterKind::Peak;
    double Fc = 0;                 // Hz, as the file means it (centre, corner or cut-off)
    std::optional<double> Gain;    // dB
    std::optional<double> Q;       // given directly
    std::optional<double> BwOct;   // bandwidth in octaves
    std::optional<double> T60Ms;   // Modal
    std::optional<double> SlopeDb; // shelf slope in dB per octave (LSC N dB, LS 6dB, LS 12dB)
    bool CornerFrequency = false;  // LS 6dB / LS 12dB: Fc is the corner, not the centre
    std::string Problem;           // why the line cannot be used; empty when it can
};

struct FilterFile {
    std::vector<FileFilter> Filters; // every Filter line, usable or not, in file order
    std::optional<double> Preamp;    // dB, summed when given more than once
};

// Never fails: a text without filter lines gives an empty list. Read by the
// dialect the text is recognised as (interop/FilterDialects).
[[nodiscard]] FilterFile ParseFilterText(std::string_view text);
// The Filter and Preamp lines REW, Equalizer APO and AutoEq all write, read
// tolerantly: the dialects' shared reader.
[[nodiscard]] FilterFile ParseFilterTextLines(std::string_view text);
// Reads at most a few megabytes; false with the reason when the file cannot be read.
[[nodiscard]] bool ReadFilterFile(const std::string& path, FilterFile& out, std::string* why = nullptr);

// A usable filter's design values: centre frequency, Q (or shelf slope S) and
// gain as the biquad takes them, with every default and conversion applied.
struct FileFilterDesign {
    FileFilterKind Kind = FileFilterKind::Peak;
    double Fc = 1000; // centre or cut-off, Hz
    double Q = 0.7071;
    double Gain = 0;
    std::optional<double> ShelfSlope; // S, when the shelf is given by slope
};
[[nodiscard]] FileFilterDesign DesignOf(const FileFilter& filter);
// The file filter's magnitude at f Hz, designed with exact 2*pi at 48 kHz.
[[nodiscard]] double FileFilterDb(const FileFilterDesign& design, double hz);

struct FilterDialect;
// The channel's bands of `image` as filter text in `dialect` (default: the
// registry's DefaultExportDialect): one line per band (bypassed bands as
// OFF), after a comment naming the channel where the dialect has comments.
[[nodiscard]] std::string ExportFilterText(EqChannel channel, const DspParamsImage& image,
                                           const FilterDialect* dialect = nullptr);
// MIC, MUSIC, ... in any case.
[[nodiscard]] std::optional<EqChannel> ChannelFromName(std::string_view name);

} // namespace ktv
