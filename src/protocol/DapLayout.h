#pragma once
// The .dap preset file: "S", the System block's fields without its code and
// unused bytes, the Effects block without its code, the 39 band records, an
// 8-bit sum of the bytes between the markers, "E".

#include "protocol/Wire.h"

#include <cstddef>
#include <cstdint>

namespace ktv::Dap {

inline constexpr std::size_t FileSize = 465;
inline constexpr std::uint8_t StartMarker = 0x53; // "S"
inline constexpr std::uint8_t EndMarker = 0x45;   // "E"
inline constexpr std::size_t StartAt = 0;

inline constexpr std::size_t MicVol = 1;
inline constexpr std::size_t MusicVol = 2;
inline constexpr std::size_t EffectVol = 3;
inline constexpr std::size_t Mute = 4;
inline constexpr std::size_t Delay = 5; // OutputLineCount x u16
inline constexpr std::size_t Pitch = 17;
inline constexpr std::size_t Fbx = 18;
inline constexpr std::size_t Input = 19;
inline constexpr std::size_t ReservedWord = 20;
inline constexpr std::size_t MaxVol = 22;
inline constexpr std::size_t ReservedBytes = 29;
inline constexpr std::size_t NoiseGate = 35;
inline constexpr std::size_t OutMix = 39;
inline constexpr std::size_t Dynamics = 55;
inline constexpr std::size_t Reverb = 85;
inline constexpr std::size_t Echo = 96;
inline constexpr std::size_t Bands = 112;
inline constexpr std::size_t ChecksumAt = 463;
inline constexpr std::size_t EndAt = FileSize - 1;

static_assert(Pitch == Delay + 2 * OutputLineCount);
static_assert(MaxVol == ReservedWord + 2);
static_assert(ReservedBytes == MaxVol + MaxVolumeCount);
static_assert(NoiseGate == ReservedBytes + ReservedByteCount);
static_assert(OutMix == NoiseGate + 2 * NoiseGateCount);
static_assert(Dynamics == OutMix + OutputMixWireSize * OutputGroupCount);
static_assert(Reverb == Dynamics + DynamicsCount * DynamicsWireSize);
static_assert(Echo == Reverb + ReverbWireSize);
static_assert(Bands == Echo + EchoWireSize);
static_assert(ChecksumAt == Bands + BandBlockSize);
static_assert(EndAt == ChecksumAt + 1);

} // namespace ktv::Dap
