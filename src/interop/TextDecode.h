#pragma once
// Text files from other tools: UTF-8 with or without BOM, or UTF-16 (either
// byte order) with BOM, turned into UTF-8; and what the readers say of a
// file they could not read.

#include "presets/PresetIo.h"

#include <string>
#include <string_view>

namespace ktv {

[[nodiscard]] std::string DecodeText(std::string_view bytes);

// "Cannot open PATH: it is not a regular file." and the like.
[[nodiscard]] std::string FileReadReason(const std::string& path, FileReadError error);

} // namespace ktv
