#include "presets/DapFile.h"

#include "params/Gloable.h"


namespace ktv {
namespace {

constexpr std::uint8_t StartMarker = 0x53; // "S"
constexpr std::uint8_t EndMarker = 0x45;   // "E"
constexpr std::size_t ChecksumAt = 463;

// Offsets of the blocks in the file.
constexpr std::size_t DelayAt = 5;
constexpr std::size_t PitchAt = 17;
constexpr std::size_t FbxAt = 18;
constexpr std::size_t InputAt = 19;
constexpr std::size_t ReservedWordAt = 20;
constexpr std::size_t MaxVolAt = 22;
constexpr std::size_t ReservedBytesAt = 29;
constexpr std::size_t NoiseGateAt = 35;
constexpr std::size_t OutMixAt = 39;
constexpr std::size_t DynAt = 55;
constexpr std::size_t ReverbAt = 85;
constexpr std::size_t EchoAt = 96;
constexpr std::size_t BandsAt = 112;

static_assert(ReverbAt == DynAt + DynamicsCount * DynamicsWireSize);
static_assert(EchoAt == ReverbAt + ReverbWireSize);
static_assert(BandsAt == EchoAt + EchoWireSize);
static_assert(ChecksumAt == BandsAt + BandTotal * BandRecordSize);

std::uint8_t SumOfBody(const std::uint8_t* bytes)
{
    unsigned sum = 0;
    for (std::size_t i = 1; i < ChecksumAt; ++i)
        sum += bytes[i];
    return std::uint8_t(sum);
}

DapReadError Check(const std::uint8_t* bytes, std::size_t size)
{
    if (size < DapFileSize)
        return DapReadError::TooShort;
    if (bytes[0] != StartMarker)
        return DapReadError::BadStartMarker;
    if (bytes[DapFileSize - 1] != EndMarker)
        return DapReadError::BadEndMarker;
    if (bytes[ChecksumAt] != SumOfBody(bytes))
        return DapReadError::BadChecksum;
    return DapReadError::None;
}

} // namespace

DapBytes EncodeDap()
{
    const DspParamsImage& p = DspParams;
    DapBytes f{};
    std::uint8_t* b = f.data();
    b[0] = StartMarker;
    b[1] = p.MicVol;
    b[2] = p.MusicVol;
    b[3] = p.EffectVol;
    b[4] = p.Mute;
    for (int i = 0; i < OutputLineCount; ++i)
        PutU16(b + DelayAt + 2 * i, p.Delay[std::size_t(i)]);
    b[PitchAt] = std::uint8_t(p.Pitch);
    b[FbxAt] = p.Fbx;
    b[InputAt] = p.Input;
    PutU16(b + ReservedWordAt, p.ReservedWord);
    for (std::size_t i = 0; i < p.MaxVol.size(); ++i)
        b[MaxVolAt + i] = p.MaxVol[i];
    for (std::size_t i = 0; i < p.ReservedBytes.size(); ++i)
        b[ReservedBytesAt + i] = p.ReservedBytes[i];
    for (std::size_t i = 0; i < p.NoiseGate.size(); ++i)
        PutU16(b + NoiseGateAt + 2 * i, std::uint16_t(p.NoiseGate[i]));
    for (std::size_t g = 0; g < p.OutMix.size(); ++g)
        EncodeOutputMix(p.OutMix[g], b + OutMixAt + 4 * g);
    for (std::size_t d = 0; d < p.Dyn.size(); ++d)
        EncodeDynamics(p.Dyn[d], b + DynAt + DynamicsWireSize * d);
    EncodeReverb(p.Reverb, b + ReverbAt);
    EncodeEcho(p.Echo, b + EchoAt);
    for (std::size_t k = 0; k < p.Band.size(); ++k)
        EncodeBandRecord(p.Band[k], b + BandsAt + BandRecordSize * k);
    b[ChecksumAt] = SumOfBody(b);
    b[DapFileSize - 1] = EndMarker;
    return f;
}

bool ApplyDap(const std::uint8_t* b, std::size_t size)
{
    if (Check(b, size) != DapReadError::None)
        return false;
    // Volumes, Mute, Pitch, Input and the reserved fields stay as they are.
    DspParamsImage& p = DspParams;
    for (int i = 0; i < OutputLineCount; ++i)
        p.Delay[std::size_t(i)] = GetU16(b + DelayAt + 2 * i);
    p.Fbx = b[FbxAt];
    for (std::size_t i = 0; i < p.MaxVol.size(); ++i)
        p.MaxVol[i] = b[MaxVolAt + i];
    for (std::size_t i = 0; i < p.NoiseGate.size(); ++i)
        p.NoiseGate[i] = GetI16(b + NoiseGateAt + 2 * i);
    for (std::size_t g = 0; g < p.OutMix.size(); ++g)
        DecodeOutputMix(b + OutMixAt + 4 * g, p.OutMix[g]);
    for (std::size_t d = 0; d < p.Dyn.size(); ++d)
        DecodeDynamics(b + DynAt + DynamicsWireSize * d, p.Dyn[d]);
    DecodeReverb(b + ReverbAt, p.Reverb);
    DecodeEcho(b + EchoAt, p.Echo);
    for (std::size_t k = 0; k < p.Band.size(); ++k)
        DecodeBandRecord(b + BandsAt + BandRecordSize * k, p.Band[k]);
    return true;
}

const char* DapReadErrorText(DapReadError error)
{
    switch (error) {
    case DapReadError::None: return "no error";
    case DapReadError::CannotOpen: return "the file cannot be opened";
    case DapReadError::TooShort: return "the file is shorter than 465 bytes";
    case DapReadError::BadStartMarker: return "the file does not start with the preset marker";
    case DapReadError::BadEndMarker: return "the file does not end with the preset marker";
    case DapReadError::BadChecksum: return "the checksum does not match (the file is damaged)";
    case DapReadError::IsDirectory: return "it is a directory";
    case DapReadError::NotRegularFile: return "it is not a regular file";
    case DapReadError::CannotRead: return "the file cannot be read";
    }
    return "unknown error";
}

bool WriteDapFile(const std::string& path, FileWriteError* error)
{
    const DapBytes bytes = EncodeDap();
    const FileWriteError result = ReplaceFile(path, bytes.data(), bytes.size());
    if (error)
        *error = result;
    return result == FileWriteError::None;
}

DapReadError LoadDapFile(const std::string& path, DapBytes& bytes)
{
    std::size_t got = 0;
    switch (ReadFileHead(path, bytes.data(), bytes.size(), got)) {
    case FileReadError::None: return Check(bytes.data(), got);
    case FileReadError::CannotOpen: return DapReadError::CannotOpen;
    case FileReadError::IsDirectory: return DapReadError::IsDirectory;
    case FileReadError::NotRegularFile: return DapReadError::NotRegularFile;
    case FileReadError::CannotRead: return DapReadError::CannotRead;
    }
    return DapReadError::CannotRead;
}

bool ReadDapFile(const std::string& path, DapReadError* error)
{
    DapBytes bytes{};
    const DapReadError result = LoadDapFile(path, bytes);
    if (error)
        *error = result;
    return result == DapReadError::None && ApplyDap(bytes.data(), bytes.size());
}

} // namespace ktv
