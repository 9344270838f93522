#pragma once
// The fixed tables the editor snaps centre frequencies and Q values to.

#include <array>

namespace ktv {

inline constexpr int StepTableCapacity = 1000;

// Entries 0..FcStepCount-1 are selectable; FcSteps[FcStepCount] is the
// closing 21000. Zero beyond the stored entries.
inline std::array<float, StepTableCapacity> FcSteps{};
inline int FcStepCount = 0;
inline std::array<float, StepTableCapacity> QSteps{};
inline int QStepCount = 0;

void BuildStepTables();
// The position of the entry at or below x (see the tables' search rules).
[[nodiscard]] int FcStepIndex(float x);
[[nodiscard]] int QStepIndex(float x);

// Moving along one of the tables, for the arrows, typed values and drags.
enum class StepTable { Fc, Q };
// The position `delta` entries from the value's own, held to the selectable
// entries. The value's own is `remembered` while that entry still holds the
// value (the position the last step left), else its lookup.
[[nodiscard]] int StepAlong(StepTable table, int remembered, float value, int delta);
// The position for a typed value: an end for a value beyond it, else the lookup.
[[nodiscard]] int StepNearest(StepTable table, float x);
[[nodiscard]] float StepValue(StepTable table, int position);

} // namespace ktv
