#pragma once
// Text files from other tools: UTF-8 with or without BOM, or UTF-16 (either
// byte order) with BOM, turned into UTF-8.

#include <string>
#include <string_view>

namespace ktv {

[[nodiscard]] std::string DecodeText(std::string_view bytes);

} // namespace ktv
