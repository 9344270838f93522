#pragma once
// Whole images compared field by field, with the names a person reads
// ("MAIN band 2 Fc", "Echo delay", "Mute MAIN L"). One table of fields serves
// the compare window, `ktvtune-cli diff`, the names of undo steps and the
// sending of only what differs (undo, redo, A/B switches).

#include "params/Gloable.h"
#include "protocol/Wire.h"

#include <string>
#include <utility>
#include <vector>

namespace ktv {

struct ImageDifference {
    std::string Name;   // "MAIN band 2 Fc"
    std::string Before; // value in the first image, as shown
    std::string After;  // value in the second image
};

// Every field whose value differs, in a fixed order: volumes and settings
// first, then the bands channel by channel. Coefficients are not compared:
// they follow from the other band fields.
[[nodiscard]] std::vector<ImageDifference> DiffImages(const DspParamsImage& a, const DspParamsImage& b);

// True when no compared field differs.
[[nodiscard]] bool SameSettings(const DspParamsImage& a, const DspParamsImage& b);

// A short name of the change from `before` to `after` for the Undo and Redo
// items: "Gain of MIC band 3", "Fc and gain of MAIN band 2", "Echo delay",
// "MIC EQ"; empty when nothing differs.
[[nodiscard]] std::string DescribeChange(const DspParamsImage& before, const DspParamsImage& after);

// Copies into `into` every field that differs between `before` and `after`
// (a band's values one by one, a mute bit by bit), as `after` has it; the
// rest of `into` stays. Puts one change on top of another image.
void CarryChanges(const DspParamsImage& before, const DspParamsImage& after, DspParamsImage& into);

// What one element of a request carries, by name: "MIC band 3" for a band
// (command PeqBands, index the band), "Echo", "MIC limiter", or each field's
// own name ("Mic volume") where the element carries several owners' fields.
[[nodiscard]] std::vector<std::string> CarriedNames(DspCommand command, int index);

// The request elements (command and index, PeqBands with the band for a
// band) that carry a field differing between the images.
[[nodiscard]] std::vector<std::pair<DspCommand, int>> ChangedElements(const DspParamsImage& a, const DspParamsImage& b);

// Copies into `into` every field the given request elements carry (a band
// whole), as `from` has it.
void CopyElements(const DspParamsImage& from, const std::vector<std::pair<DspCommand, int>>& elements,
                  DspParamsImage& into);

// The box holds `box`; DspParams holds what it should hold. Sends only the
// commands whose fields differ: each settings command once, bands as runs of
// PeqBands (EqBypass where only the channel EQ bits differ), no pauses.
// False at the first failed request; nothing after it is sent.
[[nodiscard]] bool SendChanges(const DspParamsImage& box);

} // namespace ktv
