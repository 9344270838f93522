#include "interop/TextDecode.h"

#include <cstdint>

namespace ktv {
namespace {

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string DecodeText(std::string_view bytes)
{
    auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (starts("\xEF\xBB\xBF"))
        return std::string(bytes.substr(3));
    const bool little = starts("\xFF\xFE");
    if (!little && !starts("\xFE\xFF"))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        auto lo = std::uint8_t(bytes[i + (little ? 0 : 1)]);
        auto hi = std::uint8_t(bytes[i + (little ? 1 : 0)]);
        return std::uint32_t(lo | (hi << 8));
    };
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string FileReadReason(const std::string& path, FileReadError error)
{
    switch (error) {
    case FileReadError::IsDirectory:
    case FileReadError::NotRegularFile: return "Cannot open " + path + ": " + FileReadErrorText(error) + ".";
    case FileReadError::CannotRead: return "Cannot read " + path + ".";
    case FileReadError::None:
    case FileReadError::CannotOpen: break;
    }
    return "Cannot open " + path + ".";
}

} // namespace ktv
