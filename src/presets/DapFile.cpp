#include "presets/DapFile.h"

#include "params/Gloable.h"

namespace ktv {
namespace {

std::uint8_t SumOfBody(const std::uint8_t* bytes)
{
    unsigned sum = 0;
    for (std::size_t i = Dap::StartAt + 1; i < Dap::ChecksumAt; ++i)
        sum += bytes[i];
    return std::uint8_t(sum);
}

DapReadError Check(const std::uint8_t* bytes, std::size_t size)
{
    if (size < DapFileSize)
        return DapReadError::TooShort;
    if (bytes[Dap::StartAt] != Dap::StartMarker)
        return DapReadError::BadStartMarker;
    if (bytes[Dap::EndAt] != Dap::EndMarker)
        return DapReadError::BadEndMarker;
    if (bytes[Dap::ChecksumAt] != SumOfBody(bytes))
        return DapReadError::BadChecksum;
    return DapReadError::None;
}

} // namespace

DapBytes EncodeDap()
{
    const DspParamsImage& p = DspParams;
    DapBytes f{};
    std::uint8_t* b = f.data();
    b[Dap::StartAt] = Dap::StartMarker;
    b[Dap::MicVol] = p.MicVol;
    b[Dap::MusicVol] = p.MusicVol;
    b[Dap::EffectVol] = p.EffectVol;
    b[Dap::Mute] = p.Mute;
    for (int i = 0; i < OutputLineCount; ++i)
        PutU16(b + Dap::Delay + 2 * i, p.Delay[std::size_t(i)]);
    b[Dap::Pitch] = std::uint8_t(p.Pitch);
    b[Dap::Fbx] = p.Fbx;
    b[Dap::Input] = p.Input;
    PutU16(b + Dap::ReservedWord, p.ReservedWord);
    for (std::size_t i = 0; i < p.MaxVol.size(); ++i)
        b[Dap::MaxVol + i] = p.MaxVol[i];
    for (std::size_t i = 0; i < p.ReservedBytes.size(); ++i)
        b[Dap::ReservedBytes + i] = p.ReservedBytes[i];
    for (std::size_t i = 0; i < p.NoiseGate.size(); ++i)
        PutU16(b + Dap::NoiseGate + 2 * i, std::uint16_t(p.NoiseGate[i]));
    for (std::size_t g = 0; g < p.OutMix.size(); ++g)
        EncodeOutputMix(p.OutMix[g], b + Dap::OutMix + OutputMixWireSize * g);
    for (std::size_t d = 0; d < p.Dyn.size(); ++d)
        EncodeDynamics(p.Dyn[d], b + Dap::Dynamics + DynamicsWireSize * d);
    EncodeReverb(p.Reverb, b + Dap::Reverb);
    EncodeEcho(p.Echo, b + Dap::Echo);
    for (std::size_t k = 0; k < p.Band.size(); ++k)
        EncodeBandRecord(p.Band[k], b + Dap::Bands + BandRecordSize * k);
    b[Dap::ChecksumAt] = SumOfBody(b);
    b[Dap::EndAt] = Dap::EndMarker;
    return f;
}

bool ApplyDapWhole(const std::uint8_t* b, std::size_t size)
{
    if (!ApplyDap(b, size))
        return false;
    DspParamsImage& p = DspParams;
    p.MicVol = b[Dap::MicVol];
    p.MusicVol = b[Dap::MusicVol];
    p.EffectVol = b[Dap::EffectVol];
    p.Mute = b[Dap::Mute];
    p.Pitch = std::int8_t(b[Dap::Pitch]);
    p.Input = b[Dap::Input];
    p.ReservedWord = GetU16(b + Dap::ReservedWord);
    for (std::size_t i = 0; i < p.ReservedBytes.size(); ++i)
        p.ReservedBytes[i] = b[Dap::ReservedBytes + i];
    return true;
}

DapBytes WithBandsOf(const DapBytes& base, int first, int count)
{
    DapBytes f = base;
    for (int k = first; k < first + count; ++k)
        EncodeBandRecord(DspParams.Band[std::size_t(k)], f.data() + Dap::Bands + BandRecordSize * std::size_t(k));
    f[Dap::ChecksumAt] = SumOfBody(f.data());
    return f;
}

bool ApplyDap(const std::uint8_t* b, std::size_t size)
{
    if (Check(b, size) != DapReadError::None)
        return false;
    // Volumes, Mute, Pitch, Input and the reserved fields stay as they are.
    DspParamsImage& p = DspParams;
    for (int i = 0; i < OutputLineCount; ++i)
        p.Delay[std::size_t(i)] = GetU16(b + Dap::Delay + 2 * i);
    p.Fbx = b[Dap::Fbx];
    for (std::size_t i = 0; i < p.MaxVol.size(); ++i)
        p.MaxVol[i] = b[Dap::MaxVol + i];
    for (std::size_t i = 0; i < p.NoiseGate.size(); ++i)
        p.NoiseGate[i] = GetI16(b + Dap::NoiseGate + 2 * i);
    for (std::size_t g = 0; g < p.OutMix.size(); ++g)
        DecodeOutputMix(b + Dap::OutMix + OutputMixWireSize * g, p.OutMix[g]);
    for (std::size_t d = 0; d < p.Dyn.size(); ++d)
        DecodeDynamics(b + Dap::Dynamics + DynamicsWireSize * d, p.Dyn[d]);
    DecodeReverb(b + Dap::Reverb, p.Reverb);
    DecodeEcho(b + Dap::Echo, p.Echo);
    for (std::size_t k = 0; k < p.Band.size(); ++k)
        DecodeBandRecord(b + Dap::Bands + BandRecordSize * k, p.Band[k]);
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
