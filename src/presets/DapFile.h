#pragma once
// The .dap preset file: 465 bytes, "S", the settings, 39 band records, an
// 8-bit sum of bytes 1..462, "E".

#include "presets/PresetIo.h"
#include "protocol/DapLayout.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ktv {

inline constexpr std::size_t DapFileSize = Dap::FileSize;
using DapBytes = std::array<std::uint8_t, DapFileSize>;

// The file image of DspParams.
DapBytes EncodeDap();
// `base` with the records of bands first..first+count-1 taken from DspParams
// and its checksum made good: every other byte of `base` stays as it was.
DapBytes WithBandsOf(const DapBytes& base, int first, int count);
// Checks markers and checksum, then applies the fields a preset carries.
// False (image untouched) when the bytes are not a valid preset.
[[nodiscard]] bool ApplyDap(const std::uint8_t* bytes, std::size_t size);

// As ApplyDap, then the fields a load leaves alone too (volumes, mute,
// pitch, input, reserved): the whole state the file holds.
[[nodiscard]] bool ApplyDapWhole(const std::uint8_t* bytes, std::size_t size);

enum class DapReadError {
    None,
    CannotOpen,
    TooShort,
    BadStartMarker,
    BadEndMarker,
    BadChecksum,
    IsDirectory,
    NotRegularFile,
    CannotRead,
};
const char* DapReadErrorText(DapReadError error);

// Saves the image as a preset through ReplaceFile: a failed save never
// damages an existing preset. `error` (if given) says why it failed.
[[nodiscard]] bool WriteDapFile(const std::string& path, FileWriteError* error = nullptr);
// Reads the first 465 bytes of a regular file (a longer file's tail is never
// read) and checks them as a preset, without applying them.
[[nodiscard]] DapReadError LoadDapFile(const std::string& path, DapBytes& bytes);
// True when the image was changed; on false the image is untouched and
// `error` (if given) says why.
[[nodiscard]] bool ReadDapFile(const std::string& path, DapReadError* error = nullptr);

} // namespace ktv
