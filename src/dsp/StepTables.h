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

} // namespace ktv
