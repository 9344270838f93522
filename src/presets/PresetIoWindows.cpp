// Windows form of PresetIo: the same promises as the POSIX one, in Win32
// calls. Paths arrive as UTF-8 and are handed to the wide calls as UTF-16.

#include "presets/PresetIo.h"

#include "base/WinText.h"

#include <random>

#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileW; ours is the one meant here.
#undef ReplaceFile

namespace ktv {
namespace {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle()
    {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void close()
    {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

using win::Wide;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c; }

// Names that open a device rather than a file: the device namespace
// (\\.\pipe\..., \\.\COM1, \\?\GLOBALROOT\...) and the reserved DOS names in
// any folder and with any extension (CON, NUL, COM1.dap, ...). Opening such
// a name can wait on a pipe or act on a port, so it is refused by its name
// before anything is opened.
bool NamesADevice(const std::wstring& path)
{
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'.' || path[2] == L'?')
        && IsSeparator(path[3])) {
        // \\?\C:\... is an ordinary path written long; anything else there is a device.
        const bool longDrivePath = path[2] == L'?' && path.size() >= 7 && path[5] == L':' && IsSeparator(path[6]);
        if (!longDrivePath)
            return true;
    }
    std::size_t start = path.find_last_of(L"\\/:");
    start = start == std::wstring::npos ? 0 : start + 1;
    std::wstring leaf;
    for (std::size_t i = start; i < path.size() && path[i] != L'.'; ++i)
        leaf += Upper(path[i]);
    while (!leaf.empty() && leaf.back() == L' ')
        leaf.pop_back();
    static const wchar_t* const plain[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : plain)
        if (leaf == name)
            return true;
    // COM0-9 and LPT0-9, with the superscript digits Windows also takes.
    if (leaf.size() == 4 && (leaf.starts_with(L"COM") || leaf.starts_with(L"LPT"))) {
        const wchar_t d = leaf[3];
        return (d >= L'0' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
    }
    return false;
}

std::wstring DirectoryOf(const std::wstring& path)
{
    const auto sep = path.find_last_of(L"\\/");
    if (sep == std::wstring::npos) {
        // "C:name" lies in the drive's current folder.
        return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L".";
    }
    if (sep == 0 || (sep == 2 && path[1] == L':'))
        return path.substr(0, sep + 1);
    return path.substr(0, sep);
}

// A handle that names a file on a disk (not a console, pipe or port).
bool IsDiskFile(HANDLE h, bool& isDirectory)
{
    isDirectory = false;
    if (GetFileType(h) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info))
        return false;
    isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return !isDirectory;
}

bool WriteAll(HANDLE h, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(h, bytes, chunk, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

// A new file beside the target under a short name.
HANDLE CreateTemporary(const std::wstring& dir, std::wstring& name)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t leaf[32];
        swprintf(leaf, 32, L"\\.ktvtune-%08x.tmp", unsigned(random()));
        name = (IsSeparator(dir.back()) || dir.back() == L':') ? dir + (leaf + 1) : dir + leaf;
        const HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

// Why an existing `target` (of those attributes) cannot be written over;
// None when it can.
FileWriteError ExistingTargetRefused(const std::wstring& target, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return FileWriteError::IsDirectory;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return FileWriteError::ReadOnly;
    // Opening for writing tells what the user may do with the file; it
    // truncates nothing.
    Handle existing(CreateFileW(target.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!existing.valid())
        return GetLastError() == ERROR_ACCESS_DENIED ? FileWriteError::ReadOnly : FileWriteError::CannotWrite;
    bool isDirectory = false;
    if (!IsDiskFile(existing.get(), isDirectory))
        return isDirectory ? FileWriteError::IsDirectory : FileWriteError::NotRegularFile;
    return FileWriteError::None;
}

} // namespace

FileReadError ReadRegularFile(const std::string& path,
                              const std::function<bool(const std::uint8_t*, std::size_t)>& take)
{
    const std::wstring wide = Wide(path);
    if (wide.empty())
        return FileReadError::CannotOpen;
    if (NamesADevice(wide))
        return FileReadError::NotRegularFile;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FileReadError::CannotOpen;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return FileReadError::IsDirectory;
    const Handle h(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return FileReadError::CannotOpen;
    bool isDirectory = false;
    if (!IsDiskFile(h.get(), isDirectory))
        return isDirectory ? FileReadError::IsDirectory : FileReadError::NotRegularFile;
    std::uint8_t piece[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h.get(), piece, DWORD(sizeof piece), &got, nullptr))
            return FileReadError::CannotRead;
        if (got == 0 || !take(piece, got))
            return FileReadError::None;
    }
}

FileWriteError ReplaceFile(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    const std::wstring target = Wide(path);
    if (target.empty())
        return FileWriteError::CannotCreate;
    if (NamesADevice(target))
        return FileWriteError::NotRegularFile;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return FileWriteError::CannotWrite;
    }
    if (exists) {
        if (const FileWriteError refused = ExistingTargetRefused(target, attributes); refused != FileWriteError::None)
            return refused;
    }

    std::wstring tempName;
    Handle temp(CreateTemporary(DirectoryOf(target), tempName));
    if (!temp.valid())
        return FileWriteError::CannotCreate;
    auto discard = [&](FileWriteError error) {
        temp.close();
        DeleteFileW(tempName.c_str());
        return error;
    };
    if (!WriteAll(temp.get(), bytes, size) || !FlushFileBuffers(temp.get()))
        return discard(FileWriteError::CannotWrite);
    temp.close();

    // ReplaceFileW keeps the target's security and creation time; where it
    // cannot (another file system), a plain replacing move. The attributes
    // are set again either way: not every implementation carries them over.
    const bool replaced = (exists && ReplaceFileW(target.c_str(), tempName.c_str(), nullptr,
                                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        || MoveFileExW(tempName.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced)
        return discard(FileWriteError::CannotWrite);
    if (exists) {
        constexpr DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
            | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        SetFileAttributesW(target.c_str(), (attributes & kept) ? (attributes & kept) : FILE_ATTRIBUTE_NORMAL);
    }
    return FileWriteError::None;
}

FileWriteError CheckWritable(const std::string& path)
{
    const std::wstring target = Wide(path);
    if (target.empty())
        return FileWriteError::CannotCreate;
    if (NamesADevice(target))
        return FileWriteError::NotRegularFile;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return ExistingTargetRefused(target, attributes);
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        return FileWriteError::CannotWrite;
    std::wstring tempName;
    Handle temp(CreateTemporary(DirectoryOf(target), tempName));
    if (!temp.valid())
        return FileWriteError::CannotCreate;
    temp.close();
    DeleteFileW(tempName.c_str());
    return FileWriteError::None;
}

} // namespace ktv
