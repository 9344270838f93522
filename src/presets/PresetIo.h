#pragma once
// Reading and replacing preset files safely. The standard library cannot
// open a file without blocking on a FIFO nor keep a file's owner, so this
// one part of the core speaks the system's own calls: POSIX in PresetIo.cpp,
// Win32 in PresetIoWindows.cpp.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// windows.h maps ReplaceFile to ReplaceFileW; a file that includes it before
// this header still means ours. (One that includes windows.h after it and
// calls ours must undefine it again.)
#ifdef ReplaceFile
#undef ReplaceFile
#endif

namespace ktv {

enum class FileReadError { None, CannotOpen, IsDirectory, NotRegularFile, CannotRead };
const char* FileReadErrorText(FileReadError error);

// Reads at most `capacity` bytes from the start of a regular file into
// `buffer`; `size` is how many came. Directories, devices, FIFOs and sockets
// are refused without being read, and a FIFO is never waited on.
[[nodiscard]] FileReadError ReadFileHead(const std::string& path, std::uint8_t* buffer, std::size_t capacity,
                                         std::size_t& size);
// The whole of a regular file, refused as above. More than `limit` bytes
// sets `tooLarge` and stops the reading there.
[[nodiscard]] FileReadError ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes,
                                          bool& tooLarge);
// A regular file's bytes handed to `take` piece by piece from the start,
// until the end or until `take` answers false; refused as above.
[[nodiscard]] FileReadError ReadRegularFile(const std::string& path,
                                            const std::function<bool(const std::uint8_t*, std::size_t)>& take);

enum class FileWriteError { None, IsDirectory, NotRegularFile, ReadOnly, CannotCreate, CannotWrite };
const char* FileWriteErrorText(FileWriteError error);

// Replaces the file at `path` with `bytes`: written to a temporary file
// beside it first, so a failed write never damages the old file. A symlink
// is followed to the file it names; an existing file keeps its permission
// bits (and owner, when run as root); a file with other hard links is
// rewritten in place once the temporary write has succeeded, so the links
// stay one file. A target that exists and is not a regular file, or that
// cannot be opened for writing, is refused and left alone.
[[nodiscard]] FileWriteError ReplaceFile(const std::string& path, const std::uint8_t* bytes, std::size_t size);
[[nodiscard]] FileWriteError ReplaceFile(const std::string& path, std::string_view text);
// Whether ReplaceFile could write `path` now, by the same tests and without
// changing anything: asked before a slow or irreversible step (reading a box)
// whose result would otherwise be lost.
[[nodiscard]] FileWriteError CheckWritable(const std::string& path);

} // namespace ktv
