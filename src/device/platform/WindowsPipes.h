#pragma once
// The virtual boxes on Windows. Each box listens on a named pipe in message
// mode (one 65-byte report per message, as the Linux sockets carry one per
// datagram) and marks its presence with a file box-NAME.sock in the
// virtual-box folder, opened delete-on-close so it goes with the box however
// the box ends. The pipe's name follows from the user, the folder and the
// name, so a lister needs nothing but the folder; only the current user may
// open the pipe, and a client accepts a pipe only when the current user owns it.

#include "device/HidPlatform.h"

#include <string>
#include <string_view>
#include <vector>

namespace ktv::platform {

// The current user's security identifier, "S-1-5-21-..."; empty if unknown.
std::string CurrentUserSid();

// The pipe of the box whose file is `fileName` in `dir`:
// \\.\pipe\ktvtune-<SID>-<folder key>-<fileName>. Empty when the folder
// cannot be named or the name is too long for a pipe.
std::string VirtualBoxPipe(const std::string& dir, std::string_view fileName);
bool IsVirtualBoxPipe(std::string_view path);

// A security descriptor (SDDL) owned by the current user and letting only
// that user in.
std::string CurrentUserOnlySddl();

// The pipe opened for overlapped I/O in message mode within timeoutMs
// (a box whose instances are all busy is waited for that long), or
// INVALID_HANDLE_VALUE with the reason in GetLastError: ERROR_ACCESS_DENIED
// when the pipe does not belong to the current user.
void* ConnectToBox(const std::string& pipe, int timeoutMs);
// Whether a box of the current user answers on `pipe`.
bool SomeoneListensOn(const std::string& pipe);
// Whether the kernel object behind `handle` belongs to the current user.
bool OwnedByCurrentUser(void* handle);

} // namespace ktv::platform
