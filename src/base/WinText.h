#pragma once
// Windows only: the UTF-8 the core speaks and the UTF-16 of the wide calls,
// and a handle released on every way out.

#include <string>

#include <windows.h>

namespace ktv::win {

// Empty when `utf8` is empty, not valid UTF-8 or holds a NUL (a path cut
// short there would name another file).
inline std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty() || utf8.size() > 0x7fffffff)
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide.data(), n);
    if (wide.find(L'\0') != std::wstring::npos)
        return {};
    return wide;
}

inline std::string Utf8(const wchar_t* wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.pop_back(); // the terminating zero
    return out;
}

// Owns `H` and hands it to `Release` when it goes; the calls that make one
// say failure with either a null handle or INVALID_HANDLE_VALUE.
template <typename H, auto Release>
class Owned {
public:
    explicit Owned(H h) : h_(h) {}
    ~Owned()
    {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
            Release(h_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    H get() const { return h_; }

private:
    H h_;
};

} // namespace ktv::win
