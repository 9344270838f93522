#pragma once
// A file name as the program carries it (UTF-8) made into a path the
// standard library opens. A plain std::string would be taken in the ANSI
// code page on Windows, which loses every character outside it.

#include <filesystem>
#include <string>
#include <string_view>

namespace ktv {

// Empty (a path nothing opens) when `utf8` is not valid UTF-8 where the
// system's names are UTF-16.
inline std::filesystem::path Utf8Path(std::string_view utf8)
{
    try {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    } catch (const std::filesystem::filesystem_error&) {
        return {};
    }
}

// A path the standard library hands back, as the program carries names:
// UTF-8 (path::string() gives the ANSI code page on Windows).
inline std::string Utf8String(const std::filesystem::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

} // namespace ktv
