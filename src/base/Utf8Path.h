#pragma once
// A file name as the program carries it (UTF-8) made into a path the
// standard library opens. A plain std::string would be taken in the ANSI
// code page on Windows, which loses every character outside it.

#include <filesystem>
#include <string>
#include <string_view>

namespace ktv {

inline std::filesystem::path Utf8Path(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace ktv
