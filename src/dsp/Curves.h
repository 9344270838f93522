#pragma once
// The curve step of the editor's refresh: each shown band's response over the
// chart's column frequencies, the bell plateau, and the sum. Pure functions
// over arrays; the chart only hands pixels in and curves out.

#include "params/Gloable.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ktv {

inline constexpr int MaxGridColumns = 1000;
inline constexpr int MaxShownBands = 7;

// The chart's column frequencies with everything that never changes for a
// column worked out once: its Fc step position and the sines and cosines of
// w and 2w that the response needs.
class FrequencyGrid {
public:
    // freq10: each column's frequency in tenths of Hz, cut at `capacity`
    // columns. Needs the step tables.
    void Build(std::span<const std::int32_t> freq10, int capacity = MaxGridColumns);
    int Count() const { return int(freq10_.size()); }
    std::span<const std::int32_t> Freq10() const { return freq10_; }
    std::span<const std::int32_t> FcPos() const { return fcPos_; }
    // Column frequency as the curves use it: Freq10 / 10 as float32.
    float Frequency(int column) const { return freq_[std::size_t(column)]; }

private:
    friend void ComputeCurves(const FrequencyGrid&, std::span<const PeqBand>, std::span<std::vector<double>>,
                              std::vector<double>&);
    std::vector<std::int32_t> freq10_;
    std::vector<std::int32_t> fcPos_;
    std::vector<float> freq_;
    // Padded to whole blocks of the curve step with copies of the last column.
    std::vector<double> cos1_, sin1_, cos2_, sin2_;
    std::vector<float> fcStep_; // FcSteps[fcPos]: the Fc a bell needs to sit on its plateau here
};

// bands: the shown bands in row order, their Coef designed. bandCurves[r] and
// sumCurve get grid.Count() values (dB x 10) each; extra entries are left
// alone, so callers may size them Count() + 1.
void ComputeCurves(const FrequencyGrid& grid, std::span<const PeqBand> bands, std::span<std::vector<double>> bandCurves,
                   std::vector<double>& sumCurve);

// The same with MagnitudeDb evaluated per point: the reference the fast path
// is checked and benchmarked against.
void ComputeCurvesReference(const FrequencyGrid& grid, std::span<const PeqBand> bands,
                            std::span<std::vector<double>> bandCurves, std::vector<double>& sumCurve);

} // namespace ktv
