#pragma once
// The .dap preset file: 465 bytes, "S", the settings, 39 band records, an
// 8-bit sum of bytes 1..462, "E".

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ktv {

inline constexpr std::size_t DapFileSize = 465;
using DapBytes = std::array<std::uint8_t, DapFileSize>;

// The file image of DspParams.
DapBytes EncodeDap();
// Checks markers and checksum, then applies the fields a preset carries.
// False (image untouched) when the bytes are not a valid preset.
[[nodiscard]] bool ApplyDap(const std::uint8_t* bytes, std::size_t size);

enum class DapReadError { None, CannotOpen, TooShort, BadStartMarker, BadEndMarker, BadChecksum };
const char* DapReadErrorText(DapReadError error);

// Writes through a temporary file in the same folder that then replaces the
// target, so a failed save never damages an existing preset.
[[nodiscard]] bool WriteDapFile(const std::string& path);
// True when the image was changed; on false the image is untouched and
// `error` (if given) says why.
[[nodiscard]] bool ReadDapFile(const std::string& path, DapReadError* error = nullptr);

} // namespace ktv
