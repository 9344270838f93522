#include "device/platform/WindowsPipes.h"

#include "base/WinText.h"
#include "device/platform/PlatformHelpers.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace ktv::platform {
namespace {

using win::Utf8;
using win::Wide;
using Handle = win::Owned<HANDLE, CloseHandle>;

constexpr std::string_view PipePrefix = "\\\\.\\pipe\\";
// Longer pipe names are refused by the system.
constexpr std::size_t MaxPipeName = 256;

// The user's SID from the process token, in a buffer of its own.
std::vector<std::uint8_t> UserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const Handle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> info(size);
    if (!size || !GetTokenInformation(token, TokenUser, info.data(), size, &size))
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    std::vector<std::uint8_t> copy(GetLengthSid(sid));
    if (!CopySid(DWORD(copy.size()), copy.data(), sid))
        return {};
    return copy;
}

// A key of the folder's full path (FNV-1a over its lower-case UTF-8), so two
// folders may each have a box of the same name.
std::string FolderKey(const std::string& dir)
{
    const std::wstring wide = Wide(dir);
    if (wide.empty())
        return {};
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(wide.c_str(), DWORD(std::size(full)), full, nullptr);
    if (n == 0 || n >= std::size(full))
        return {};
    std::wstring path(full, n);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    for (wchar_t& c : path)
        c = c == L'/' ? L'\\' : wchar_t(std::towlower(c));
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : Utf8(path.c_str())) {
        hash ^= std::uint8_t(c);
        hash *= 1099511628211ull;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace

std::string CurrentUserSid()
{
    std::vector<std::uint8_t> sid = UserSid();
    wchar_t* text = nullptr;
    if (sid.empty() || !ConvertSidToStringSidW(sid.data(), &text))
        return {};
    std::string result = Utf8(text);
    LocalFree(text);
    return result;
}

std::string VirtualBoxPipe(const std::string& dir, std::string_view fileName)
{
    const std::string sid = CurrentUserSid(), key = FolderKey(dir);
    if (sid.empty() || key.empty())
        return {};
    std::string pipe = std::string(PipePrefix) + "ktvtune-" + sid + "-" + key + "-" + std::string(fileName);
    if (pipe.size() > MaxPipeName)
        return {};
    return pipe;
}

bool IsVirtualBoxPipe(std::string_view path)
{
    return path.size() > PipePrefix.size() && std::equal(PipePrefix.begin(), PipePrefix.end(), path.begin(),
                                                         [](char a, char b) { return a == std::tolower(b); });
}

std::string CurrentUserOnlySddl()
{
    const std::string sid = CurrentUserSid();
    if (sid.empty())
        return {};
    // Owner the user; a protected DACL with one entry: all rights to the user.
    return "O:" + sid + "D:P(A;;GA;;;" + sid + ")";
}

bool OwnedByCurrentUser(void* handle)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(handle, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
        return false;
    std::vector<std::uint8_t> user = UserSid();
    const bool same = owner && !user.empty() && EqualSid(owner, user.data());
    LocalFree(sd);
    return same;
}

void* ConnectToBox(const std::string& pipe, int timeoutMs)
{
    const std::wstring wide = Wide(pipe);
    if (wide.empty() || !IsVirtualBoxPipe(pipe)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(std::max(timeoutMs, 0));
    for (;;) {
        // Identification only: a pipe's server may learn who we are, never act as us.
        const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (!OwnedByCurrentUser(h)) {
                CloseHandle(h);
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            if (!SetNamedPipeHandleState(h, &mode, nullptr, nullptr)) {
                const DWORD err = GetLastError();
                CloseHandle(h);
                SetLastError(err);
                return INVALID_HANDLE_VALUE;
            }
            return h;
        }
        if (GetLastError() != ERROR_PIPE_BUSY)
            return INVALID_HANDLE_VALUE;
        // Every instance is taken: the box makes a new one as it accepts.
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            SetLastError(ERROR_TIMEOUT);
            return INVALID_HANDLE_VALUE;
        }
        if (!WaitNamedPipeW(wide.c_str(), DWORD(std::min<ULONGLONG>(deadline - now, 50))))
            Sleep(1); // gone, or still busy: try again until the deadline
    }
}

bool SomeoneListensOn(const std::string& pipe)
{
    const HANDLE h = ConnectToBox(pipe, 0);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return true;
    }
    // Busy with other clients is still a box.
    return GetLastError() == ERROR_PIPE_BUSY || GetLastError() == ERROR_TIMEOUT;
}

// ---- the folder ----

std::string VirtualBoxDirectory()
{
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        return Utf8(local) + "\\ktvtune\\boxes";
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(DWORD(std::size(temp)), temp);
    return (n ? Utf8(temp) : std::string(".\\")) + "ktvtune-boxes";
}

bool EnsureVirtualBoxDirectory(const std::string& dir, std::string* error)
{
    auto fail = [&](std::string why) {
        if (error)
            *error = dir + ": " + why;
        return false;
    };
    const std::wstring wide = Wide(dir);
    if (wide.empty())
        return fail("not a valid folder name");
    // The folder and the ones above it, as far as they are missing.
    for (std::size_t at = wide.find_first_of(L"\\/", 3); at != std::wstring::npos;
         at = wide.find_first_of(L"\\/", at + 1))
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(wide.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail("cannot be made");
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail("not a folder");
    // A link could lead the boxes' files anywhere.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return fail("is a link");
    return true;
}

std::vector<HidInterface> ListVirtualBoxes(const std::string& dir)
{
    std::vector<std::string> names;
    const std::wstring pattern = Wide(dir + "\\box-*.sock");
    WIN32_FIND_DATAW found;
    const HANDLE search = pattern.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = Utf8(found.cFileName);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsVirtualBoxSocketName(name))
                names.push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::vector<HidInterface> boxes;
    for (const std::string& name : names)
        if (std::string pipe = VirtualBoxPipe(dir, name); !pipe.empty())
            boxes.push_back({VirtualInstanceId(name), std::move(pipe)});
    return boxes;
}

} // namespace ktv::platform
