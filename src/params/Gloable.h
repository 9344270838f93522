#pragma once
// The parameter image of the box: every setting the PC knows, filled with
// defaults at start and overwritten by the box's replies and by preset files.
// Transfers never copy this struct as memory; they copy named fields into the
// byte formats of the commands, the replies and the .dap file.

#include "protocol/Wire.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace ktv {

enum class EqChannel : std::uint8_t { MIC = 0, MUSIC = 1, EFFECT = 2, MAIN = 3, CENTER = 4, SUB = 5, SRS = 6 };
inline constexpr int EqChannelCount = 7;

enum class FilterType : std::uint8_t { LowPass = 0, HighPass = 1, Bell = 2, LowShelf = 3, HighShelf = 4, BandPass = 5, Notch = 6 };

// Each type's name as a person reads it ("Low Pass") and as the tools' logs
// and JSON spell it ("LowPass"), indexed by type code.
struct FilterTypeText {
    const char* Name;
    const char* Token;
};
inline constexpr std::array<FilterTypeText, 7> FilterTypeTexts{{{"Low Pass", "LowPass"},
                                                                 {"High Pass", "HighPass"},
                                                                 {"Bell", "Bell"},
                                                                 {"Low Shelf", "LowShelf"},
                                                                 {"High Shelf", "HighShelf"},
                                                                 {"Band Pass", "BandPass"},
                                                                 {"Notch", "Notch"}}};
// The editor offers the types before BandPass.
inline constexpr std::size_t OfferedFilterTypes = std::size_t(FilterType::BandPass);

// The output groups MAIN, CENTER, SUB, SRS are EqChannel - 3.

// Bits of PeqBand::Flags.
inline constexpr std::uint8_t FlagBandOn = 0x80;
inline constexpr std::uint8_t FlagChannelEqOn = 0x40;
inline constexpr std::uint8_t FlagTypeMask = 0x0F;
inline constexpr std::uint8_t DefaultBandFlags = FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell); // 0xC2

struct BandGroup {
    int FirstBand;
    int BandCount;
};

// The run of Band records each channel owns; indexed by EqChannel. The band
// index travels to the box, so this assignment is part of the protocol.
inline constexpr std::array<BandGroup, EqChannelCount> BandGroups{{
    {0, 7},  // MIC
    {7, 7},  // MUSIC
    {34, 5}, // EFFECT
    {14, 5}, // MAIN
    {29, 5}, // CENTER
    {24, 5}, // SUB
    {19, 5}, // SRS
}};

constexpr BandGroup GroupOf(EqChannel channel) { return BandGroups[std::size_t(channel)]; }

// "MIC", "MUSIC", "EFFECT", "MAIN", "CENTER", "SUB", "SRS": the channels as
// the tools, reports and other programs' files name them.
const char* EqChannelName(EqChannel channel);

// The music inputs, as the Input field numbers them.
inline constexpr std::array<const char*, 6> InputNames{"AUX", "BGM", "BT", "UDISK", "OPT", "COX"};

inline constexpr std::array<std::uint16_t, 7> DefaultFcTable{50, 125, 500, 1000, 2000, 5000, 10000};

struct DynamicsParams {
    std::int16_t Threshold = 0; // 0.1 dB, -300..0
    std::uint16_t Attack = 0;   // ms, 1..100
    std::uint8_t Release = 0;   // multiple of Attack, 1..100
    std::uint8_t Ratio = 0;     // 1..100
};

// Each byte: bits 0..6 the level 0..100, bit 7 the sign (set = "-").
struct OutputMixParams {
    std::uint8_t MicVol = 0;
    std::uint8_t MusicVol = 0;
    std::uint8_t EchoVol = 0;
    std::uint8_t ReverbVol = 0;
};
inline constexpr std::uint8_t MixSignBit = 0x80;
inline constexpr std::uint8_t MixLevelMask = 0x7F;

struct ReverbParams {
    std::uint16_t Word1 = 0;
    std::uint16_t Word2 = 0;
    std::uint8_t EarlyLate = 0;
    std::uint8_t Byte1 = 0;
    std::uint8_t PreDelay = 0;
    std::uint8_t Byte2 = 0;
    std::uint8_t Time = 0;
    std::uint8_t Damp = 0;
    std::uint8_t Byte3 = 0;
};

struct EchoParams {
    std::uint16_t Word1 = 0;
    std::uint16_t Word2 = 0;
    std::uint8_t PreDelay = 0;
    std::uint8_t Byte1 = 0;
    std::uint16_t Delay = 0;
    std::uint16_t Word3 = 0;
    std::uint8_t Repeat = 0;
    std::uint8_t Byte2 = 0;
    std::uint8_t Damp = 0;
    std::uint8_t Byte3 = 0;
    std::uint8_t Byte4 = 0;
    std::uint8_t Byte5 = 0;
};

using Coefficients = std::array<float, 5>; // b0, b1, b2, a1, a2

// The gain a band can take, in dB: what the box accepts.
inline constexpr float BandGainMin = -24.0f;
inline constexpr float BandGainMax = 12.0f;

struct PeqBand {
    std::uint8_t Flags = 0;
    float Fc = 0;   // Hz
    float Q = 0;
    float Gain = 0; // dB
    Coefficients Coef{};
};

struct DspParamsImage {
    std::uint8_t MicVol = 0;
    std::uint8_t MusicVol = 0;
    std::uint8_t EffectVol = 0;
    std::uint8_t Mute = 0;
    std::array<std::uint16_t, OutputLineCount> Delay{};
    std::array<std::int16_t, NoiseGateCount> NoiseGate{};
    std::int8_t Pitch = 0;
    std::uint8_t Fbx = 0;
    std::uint8_t Input = 0;
    std::uint16_t ReservedWord = 0;
    std::array<std::uint8_t, MaxVolumeCount> MaxVol{};
    std::array<std::uint8_t, ReservedByteCount> ReservedBytes{};
    std::array<DynamicsParams, DynamicsCount> Dyn{};
    std::array<OutputMixParams, OutputGroupCount> OutMix{};
    ReverbParams Reverb{};
    EchoParams Echo{};
    std::array<PeqBand, BandTotal> Band{};
};

// The one image of the whole run. Reset it with `DspParams = {}` (tests).
inline DspParamsImage DspParams{};

// Sets the band to the default band of position i in its group.
void SetDefaultBand(PeqBand& band, int position);
void LoadDefaults();

// ---- byte helpers shared by the commands, the replies and the .dap file ----

inline void PutU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::int16_t GetI16(const std::uint8_t* p) { return std::int16_t(GetU16(p)); }
inline std::int32_t GetI32(const std::uint8_t* p)
{
    return std::int32_t(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24);
}

// value x 10, formed in double and rounded to the nearest whole number
// (halves away from zero); saturates at the 32-bit range.
std::int32_t Tenths(float value);
// The 9-byte band record: Flags, Fc x10 (i32), Q x10 (i16), Gain x10 (i16).
void EncodeBandRecord(const PeqBand& band, std::uint8_t* record);
// Overwrites Flags, Fc, Q and Gain; Coef stays.
void DecodeBandRecord(const std::uint8_t* record, PeqBand& band);
// What the box holds for the band after the tenths encoding of its record:
// what every display of a band value that goes to the box should show.
[[nodiscard]] PeqBand BoxHeld(const PeqBand& band);

// Dynamics (6 bytes), reverb (11) and echo (16) in their wire order, as the
// Effects command, the effects reply and the .dap file carry them; the
// offsets are the members' rows in params/ImageFields.
void EncodeDynamics(const DynamicsParams& d, std::uint8_t* p);
void DecodeDynamics(const std::uint8_t* p, DynamicsParams& d);
void EncodeReverb(const ReverbParams& r, std::uint8_t* p);
void DecodeReverb(const std::uint8_t* p, ReverbParams& r);
void EncodeEcho(const EchoParams& e, std::uint8_t* p);
void DecodeEcho(const std::uint8_t* p, EchoParams& e);
void EncodeOutputMix(const OutputMixParams& m, std::uint8_t* p);
void DecodeOutputMix(const std::uint8_t* p, OutputMixParams& m);

} // namespace ktv
