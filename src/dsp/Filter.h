#pragma once
// Biquad design of one equaliser band at 48 kHz and its magnitude response.
// Both use 6.28 for 2*pi, so the chart shows a peak exactly at the band's Fc.

#include "params/Gloable.h"

#include <array>
#include <string_view>

namespace ktv {

inline constexpr double TwoPi = 6.28;
inline constexpr double SampleRate = 48000.0;
// What MagnitudeDb gives where the response is exactly zero (log10 would be
// -inf), far below anything the chart shows.
inline constexpr double MagnitudeFloorDb = -400.0;

// Display names of the types the editor offers, indexed by type code.
inline constexpr auto FilterTypeNames = [] {
    std::array<std::string_view, OfferedFilterTypes> names{};
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = FilterTypeTexts[i].Name;
    return names;
}();

void SetUnity(Coefficients& coef);
// Overwrites band.Coef from Flags, Fc, Q and Gain.
void DesignBand(PeqBand& band);
// |H(f)| in dB, in double precision on the float32 coefficients.
[[nodiscard]] double MagnitudeDb(const Coefficients& coef, float frequency);

} // namespace ktv
