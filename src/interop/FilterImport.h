#pragma once
// Puts a filter file onto one channel's bands: each filter becomes the box
// type nearest in shape, its values go onto the box's steps, and every change
// is reported, with the largest difference between the file's response and
// the channel's new one.

#include "interop/FilterText.h"
#include "params/Gloable.h"

#include <string>
#include <vector>

namespace ktv {

struct ImportPlan {
    EqChannel Channel = EqChannel::MIC;
    std::vector<PeqBand> Bands;      // the channel's new bands, Coef designed
    std::vector<std::string> Report; // one line per filter line of the file, then the summary
    double LargestDifferenceDb = 0;  // over 20 Hz..20 kHz
    int Kept = 0;                    // filters that took a band
};

// False (plan untouched) when the file has no filter line that can be used;
// *why says so and names the lines it could not read. Builds the step tables
// when they are not built yet.
[[nodiscard]] bool PlanFilterImport(const FilterFile& file, EqChannel channel, ImportPlan& plan,
                                    std::string* why = nullptr);
// Writes the planned bands into the channel's band group of DspParams.
void ApplyFilterImport(const ImportPlan& plan);

// The frequencies the difference is measured at: 1/24 octave from 20 Hz to 20 kHz.
[[nodiscard]] const std::vector<double>& ComparisonFrequencies();

} // namespace ktv
