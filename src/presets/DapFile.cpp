#include "presets/DapFile.h"

#include "params/Gloable.h"
#include "params/ImageFields.h"

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

// Where a field sits in the file: its place in its block, moved by the
// block's place (the System block closed up over its unused bytes).
std::size_t FileAt(const ImageField& f)
{
    return f.Block == ImageBlock::Effects ? Dap::FromEffects(f.At) : Dap::FromSystem(f.At);
}

} // namespace

DapBytes EncodeDap()
{
    const DspParamsImage& p = DspParams;
    DapBytes f{};
    std::uint8_t* b = f.data();
    b[Dap::StartAt] = Dap::StartMarker;
    for (const ImageField& field : ImageFields())
        PutField(field, p, b + FileAt(field));
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
    for (const ImageField& field : ImageFields())
        if (!field.Preset)
            TakeField(field, b + FileAt(field), DspParams);
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
    for (const ImageField& field : ImageFields())
        if (field.Preset)
            TakeField(field, b + FileAt(field), p);
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
