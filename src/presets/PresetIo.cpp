#include "presets/PresetIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#if !defined(_WIN32) // PresetIoWindows.cpp there
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ktv {
#if !defined(_WIN32)
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = pwrite(fd, bytes, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= std::size_t(n);
        at += n;
    }
    return true;
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symlinks ends at (the path itself when it is none).
// A dangling link names the file to create.
std::string FollowLinks(std::string path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st{};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string link(std::size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || std::size_t(n) >= link.size())
            return path;
        link.resize(std::size_t(n));
        path = link.starts_with('/') ? link : DirectoryOf(path) + "/" + link;
    }
    return path; // a loop: the open below reports it
}

// A new file beside the target under a short name, so a target whose name
// is at the file-system limit still gets one. Created with 0666 so the
// umask applies as it would to the target itself.
int CreateTemporary(const std::string& dir, std::string& name)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char leaf[32];
        std::snprintf(leaf, sizeof leaf, "/.ktvtune-%08x.tmp", unsigned(random()));
        name = dir + leaf;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

FileReadError ReadRegularFile(const std::string& path,
                              const std::function<bool(const std::uint8_t*, std::size_t)>& take)
{
    struct stat st{};
    if (stat(path.c_str(), &st) != 0)
        return FileReadError::CannotOpen;
    // Checked before opening: opening a device or a FIFO can block or act.
    if (S_ISDIR(st.st_mode))
        return FileReadError::IsDirectory;
    if (!S_ISREG(st.st_mode))
        return FileReadError::NotRegularFile;
    // Non-blocking in case it was swapped for a FIFO since; checked again below.
    const Fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return FileReadError::CannotOpen;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? FileReadError::IsDirectory : FileReadError::NotRegularFile;
    std::uint8_t piece[65536];
    for (;;) {
        const ssize_t n = read(fd.get(), piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FileReadError::CannotRead;
        if (n == 0 || !take(piece, std::size_t(n)))
            return FileReadError::None;
    }
}
#endif

FileReadError ReadFileHead(const std::string& path, std::uint8_t* buffer, std::size_t capacity, std::size_t& size)
{
    size = 0;
    return ReadRegularFile(path, [&](const std::uint8_t* piece, std::size_t n) {
        const std::size_t kept = std::min(n, capacity - size);
        std::copy(piece, piece + kept, buffer + size);
        size += kept;
        return size < capacity;
    });
}

FileReadError ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes, bool& tooLarge)
{
    bytes.clear();
    tooLarge = false;
    return ReadRegularFile(path, [&](const std::uint8_t* piece, std::size_t n) {
        if (n > limit - bytes.size()) {
            tooLarge = true;
            return false;
        }
        bytes.append(reinterpret_cast<const char*>(piece), n);
        return true;
    });
}

const char* FileReadErrorText(FileReadError error)
{
    switch (error) {
    case FileReadError::None: return "no error";
    case FileReadError::CannotOpen: return "the file cannot be opened";
    case FileReadError::IsDirectory: return "it is a directory";
    case FileReadError::NotRegularFile: return "it is not a regular file";
    case FileReadError::CannotRead: return "the file cannot be read";
    }
    return "unknown error";
}

const char* FileWriteErrorText(FileWriteError error)
{
    switch (error) {
    case FileWriteError::None: return "no error";
    case FileWriteError::IsDirectory: return "it is a directory";
    case FileWriteError::NotRegularFile: return "it is not a regular file";
    case FileWriteError::ReadOnly: return "the file is read-only";
    case FileWriteError::CannotCreate: return "no file can be created in its folder";
    case FileWriteError::CannotWrite: return "the file cannot be written";
    }
    return "unknown error";
}

#if !defined(_WIN32)
FileWriteError ReplaceFile(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    const std::string target = FollowLinks(path);
    struct stat st{};
    const bool exists = lstat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return FileWriteError::CannotWrite;
    Fd existing;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return FileWriteError::IsDirectory;
        if (!S_ISREG(st.st_mode))
            return FileWriteError::NotRegularFile;
        // Opening for writing tells what the user may do with the file; it
        // truncates nothing.
        existing.reset(open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (existing.get() < 0)
            return errno == EACCES || errno == EPERM || errno == EROFS ? FileWriteError::ReadOnly
                                                                       : FileWriteError::CannotWrite;
        if (fstat(existing.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return FileWriteError::NotRegularFile;
    }

    std::string tempName;
    const Fd temp(CreateTemporary(DirectoryOf(target), tempName));
    if (temp.get() < 0)
        return FileWriteError::CannotCreate;
    auto discard = [&](FileWriteError error) {
        unlink(tempName.c_str());
        return error;
    };
    if (exists) {
        // The owner first: changing it clears the set-id bits.
        if (geteuid() == 0)
            (void)!fchown(temp.get(), st.st_uid, st.st_gid);
        else
            (void)!fchown(temp.get(), uid_t(-1), st.st_gid); // works when we are in that group
        if (fchmod(temp.get(), st.st_mode & 07777) != 0)
            return discard(FileWriteError::CannotWrite);
    }
    if (!WriteAll(temp.get(), bytes, size, 0) || fsync(temp.get()) != 0)
        return discard(FileWriteError::CannotWrite);

    if (exists && st.st_nlink > 1) {
        // A rename would split the links; the complete temporary write shows
        // the space is there, so the file is rewritten in place.
        if (!WriteAll(existing.get(), bytes, size, 0) || ftruncate(existing.get(), off_t(size)) != 0)
            return discard(FileWriteError::CannotWrite);
        return discard(FileWriteError::None);
    }
    if (rename(tempName.c_str(), target.c_str()) != 0)
        return discard(FileWriteError::CannotWrite);
    return FileWriteError::None;
}

FileWriteError CheckWritable(const std::string& path)
{
    const std::string target = FollowLinks(path);
    struct stat st{};
    if (lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return FileWriteError::IsDirectory;
        if (!S_ISREG(st.st_mode))
            return FileWriteError::NotRegularFile;
        const Fd existing(open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (existing.get() < 0)
            return errno == EACCES || errno == EPERM || errno == EROFS ? FileWriteError::ReadOnly
                                                                       : FileWriteError::CannotWrite;
        return FileWriteError::None;
    }
    if (errno != ENOENT)
        return FileWriteError::CannotWrite;
    std::string tempName;
    const Fd temp(CreateTemporary(DirectoryOf(target), tempName));
    if (temp.get() < 0)
        return FileWriteError::CannotCreate;
    unlink(tempName.c_str());
    return FileWriteError::None;
}
#endif

FileWriteError ReplaceFile(const std::string& path, std::string_view text)
{
    return ReplaceFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

} // namespace ktv
