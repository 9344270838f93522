#pragma once
// The .dap preset file: "S", the System block's fields without its code and
// unused bytes, the Effects block without its code, the 39 band records, an
// 8-bit sum of the bytes between the markers, "E".

#include "protocol/Wire.h"

#include <cstddef>
#include <cstdint>

namespace ktv::Dap {

inline constexpr std::uint8_t StartMarker = 0x53; // "S"
inline constexpr std::uint8_t EndMarker = 0x45;   // "E"
inline constexpr std::size_t StartAt = 0;

// The System block's fields at their places in the block, the marker in
// place of the code, closed up over the block's unused bytes.
inline constexpr std::size_t SystemGap = SystemBlock::Delay - (SystemBlock::Mute + 1);
constexpr std::size_t FromSystem(std::size_t at) { return at < SystemBlock::Delay ? at : at - SystemGap; }
// Then the Effects block without its code.
constexpr std::size_t FromEffects(std::size_t at) { return FromSystem(SystemBlock::Size) + at - 1; }

inline constexpr std::size_t MicVol = FromSystem(SystemBlock::MicVol);
inline constexpr std::size_t MusicVol = FromSystem(SystemBlock::MusicVol);
inline constexpr std::size_t EffectVol = FromSystem(SystemBlock::EffectVol);
inline constexpr std::size_t Mute = FromSystem(SystemBlock::Mute);
inline constexpr std::size_t Delay = FromSystem(SystemBlock::Delay);
inline constexpr std::size_t Pitch = FromSystem(SystemBlock::Pitch);
inline constexpr std::size_t Fbx = FromSystem(SystemBlock::Fbx);
inline constexpr std::size_t Input = FromSystem(SystemBlock::Input);
inline constexpr std::size_t ReservedWord = FromSystem(SystemBlock::ReservedWord);
inline constexpr std::size_t MaxVol = FromSystem(SystemBlock::MaxVol);
inline constexpr std::size_t ReservedBytes = FromSystem(SystemBlock::ReservedBytes);
inline constexpr std::size_t NoiseGate = FromSystem(SystemBlock::NoiseGate);
inline constexpr std::size_t OutMix = FromSystem(SystemBlock::OutMix);
inline constexpr std::size_t Dynamics = FromEffects(EffectsBlock::Dynamics);
inline constexpr std::size_t Reverb = FromEffects(EffectsBlock::Reverb);
inline constexpr std::size_t Echo = FromEffects(EffectsBlock::Echo);
// The 39 band records, the checksum, the end marker.
inline constexpr std::size_t Bands = FromEffects(EffectsBlock::Size);
inline constexpr std::size_t ChecksumAt = Bands + BandBlockSize;
inline constexpr std::size_t EndAt = ChecksumAt + 1;
inline constexpr std::size_t FileSize = EndAt + 1;

// The file's own byte positions, checked against the blocks they follow.
static_assert(Delay == 5 && Pitch == 17 && MaxVol == 22 && NoiseGate == 35 && OutMix == 39);
static_assert(Dynamics == 55 && Reverb == 85 && Echo == 96 && Bands == 112 && ChecksumAt == 463);
static_assert(FileSize == 465);

} // namespace ktv::Dap
