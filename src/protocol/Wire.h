#pragma once
// What the box and the PC agree on, byte for byte: the report frame, the
// command codes, the counts and record sizes, and where each field sits in
// the System and Effects blocks. Everything that knows a byte position asks
// here.

#include <cstddef>
#include <cstdint>

namespace ktv {

// ---- the report frame ----
// request and reply: 00 AA 01 L payload[L] sum (sum = payload bytes mod 256)
inline constexpr std::size_t ReportSize = 65;
inline constexpr std::uint8_t FrameMarker = 0xAA;
inline constexpr std::uint8_t BoxAddress = 1;
inline constexpr std::size_t FrameMarkerAt = 1;
inline constexpr std::size_t FrameAddressAt = 2;
inline constexpr std::size_t FrameLengthAt = 3;
inline constexpr std::size_t FramePayloadAt = 4;
inline constexpr std::size_t MaxPayloadLength = 60;
// The bytes a reply of `payloadLength` fills before its checksum: what a
// caller hands the transport as the expected reply size.
constexpr std::size_t ReplyBytes(std::size_t payloadLength) { return FramePayloadAt + payloadLength; }

// The frame's checksum: the payload bytes summed mod 256.
constexpr std::uint8_t Checksum(const std::uint8_t* data, std::size_t count)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum = std::uint8_t(sum + data[i]);
    return sum;
}

// Frames `length` payload bytes (1..MaxPayloadLength) into a report of
// ReportSize bytes. Byte 0 and the bytes after the checksum are left as
// they are.
constexpr void PutFrame(std::uint8_t* report, std::uint8_t address, const std::uint8_t* payload, std::size_t length)
{
    report[FrameMarkerAt] = FrameMarker;
    report[FrameAddressAt] = address;
    report[FrameLengthAt] = std::uint8_t(length);
    for (std::size_t i = 0; i < length; ++i)
        report[FramePayloadAt + i] = payload[i];
    report[FramePayloadAt + length] = Checksum(payload, length);
}

// ---- commands (payload byte 0) ----
enum class DspCommand : std::uint8_t {
    System = 0x01,
    Effects = 0x02,
    Mute = 0x1E,
    MasterVolume = 0x1F,
    PeqBands = 0x20,
    Fbx = 0x21,
    Pitch = 0x22,
    Input = 0x23,
    NoiseGate = 0x24,
    EqBypass = 0x25,
    Delay = 0x26,
    Dynamics = 0x27,
    FactoryMode = 0x28,
    Link = 0x2A,
    OutputMix = 0x2C,
    MaxVolume = 0x2D,
    Echo = 0x30,
    Reverb = 0x31,
    ReadSystem = 0x81,
    ReadEffects = 0x82,
    ReadPeqBands = 0xA0,
};

constexpr std::uint8_t Code(DspCommand command) { return std::uint8_t(command); }

// FactoryMode modes; slots are numbered 1..SlotCount.
inline constexpr std::uint8_t FactoryStore = 1;
inline constexpr std::uint8_t FactoryRecall = 2;
inline constexpr int SlotCount = 8;

// ---- counts and records ----
inline constexpr int BandTotal = 39;
inline constexpr int OutputGroupCount = 4; // MAIN, CENTER, SUB, SRS
inline constexpr int OutputLineCount = 6;  // MAIN L, MAIN R, CENTER, SUB, SRS L, SRS R
inline constexpr int DynamicsCount = 5;    // MIC, MAIN, CENTER, SUB, SRS
inline constexpr int NoiseGateCount = 2;
inline constexpr int MaxVolumeCount = 7;
inline constexpr int ReservedByteCount = 6;
inline constexpr int MaxBandsPerRequest = 6;

// The 9-byte band record: Flags, Fc x10 (i32), Q x10 (i16), Gain x10 (i16).
inline constexpr std::size_t BandRecordSize = 9;
// Dynamics, reverb and echo in their wire order, as the Effects command, the
// effects reply and the .dap file carry them.
inline constexpr std::size_t DynamicsWireSize = 6;
inline constexpr std::size_t ReverbWireSize = 11;
inline constexpr std::size_t EchoWireSize = 16;
inline constexpr std::size_t OutputMixWireSize = 4; // mic, music, echo, reverb levels
inline constexpr std::size_t BandBlockSize = BandRecordSize * BandTotal;

// ---- the System block: the System payload and the ReadSystem reply ----
namespace SystemBlock {
inline constexpr std::size_t MicVol = 1;
inline constexpr std::size_t MusicVol = 2;
inline constexpr std::size_t EffectVol = 3;
inline constexpr std::size_t Mute = 4;
// Bytes 5..9 carry nothing.
inline constexpr std::size_t Delay = 10; // OutputLineCount x u16
inline constexpr std::size_t Pitch = 22;
inline constexpr std::size_t Fbx = 23;
inline constexpr std::size_t Input = 24;
inline constexpr std::size_t ReservedWord = 25;
inline constexpr std::size_t MaxVol = 27;        // MaxVolumeCount bytes
inline constexpr std::size_t ReservedBytes = 34; // ReservedByteCount bytes
inline constexpr std::size_t NoiseGate = 40;     // NoiseGateCount x i16
inline constexpr std::size_t OutMix = 44;        // OutputGroupCount x OutputMixWireSize
inline constexpr std::size_t Size = 60;

static_assert(Pitch == Delay + 2 * OutputLineCount);
static_assert(MaxVol == ReservedWord + 2);
static_assert(ReservedBytes == MaxVol + MaxVolumeCount);
static_assert(NoiseGate == ReservedBytes + ReservedByteCount);
static_assert(OutMix == NoiseGate + 2 * NoiseGateCount);
static_assert(Size == OutMix + OutputMixWireSize * OutputGroupCount);
} // namespace SystemBlock

// ---- the Effects block: the Effects payload and the ReadEffects reply ----
namespace EffectsBlock {
inline constexpr std::size_t Dynamics = 1; // DynamicsCount records
inline constexpr std::size_t Reverb = 31;
inline constexpr std::size_t Echo = 42;
inline constexpr std::size_t Size = 58;

static_assert(Reverb == Dynamics + DynamicsWireSize * DynamicsCount);
static_assert(Echo == Reverb + ReverbWireSize);
static_assert(Size == Echo + EchoWireSize);
} // namespace EffectsBlock

inline constexpr std::size_t SystemPayloadSize = SystemBlock::Size;
inline constexpr std::size_t EffectsPayloadSize = EffectsBlock::Size;

// ---- band runs: PeqBands, EqBypass, ReadPeqBands ----
// code, first band, count, then the run's bytes.
inline constexpr std::size_t RunFirstAt = 1;
inline constexpr std::size_t RunCountAt = 2;
inline constexpr std::size_t RunDataAt = 3;

// ---- indexed commands: NoiseGate, Dynamics, OutputMix ----
// code, index, then the indexed record.
inline constexpr std::size_t IndexAt = 1;
inline constexpr std::size_t IndexedDataAt = 2;

} // namespace ktv
